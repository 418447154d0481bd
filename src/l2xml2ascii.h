// l2xml2ascii: converts Level-2 product XML files into ASCII tables and the
// documents they embed.  This header is shared by every module: it declares
// the product records, the driver's globals and every operation that crosses
// a module boundary.
#ifndef L2XML2ASCII_H
#define L2XML2ASCII_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <libxml/entities.h>
#include <libxml/valid.h>
#include <libxml/xmlreader.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Tag path
// ---------------------------------------------------------------------------

// Deepest element depth that gets a tag path entry, plus one.
constexpr int kTagDepths = 10;

// Entry d holds the tag code of the element open at depth d, or 0.
using TagPath = std::array<int32_t, kTagDepths>;

// True when entries 0, 1, ... of `tags` hold `codes` in order; the entries
// behind them are not looked at.  A code of 0 means "nothing open there".
inline bool tag_path_shows(const TagPath& tags, const int32_t* codes, std::size_t count)
{
    // Two entries at a time, as one 64-bit word.
    std::size_t d = 0;
    for (; d + 2 <= count; d += 2) {
        uint64_t open_pair;
        uint64_t code_pair;
        std::memcpy(&open_pair, &tags[d], sizeof open_pair);
        std::memcpy(&code_pair, codes + d, sizeof code_pair);
        if (open_pair != code_pair)
            return false;
    }
    return d == count || tags[d] == codes[d];
}

template <std::size_t N>
inline bool tag_path_shows(const TagPath& tags, const int32_t (&codes)[N])
{
    static_assert(N <= kTagDepths, "a tag path has ten entries");
    return tag_path_shows(tags, codes, N);
}

// Product bits held in `product` while a section is open.
enum ProductBit : int32_t {
    kNoProduct = 0,
    kEGG_NOM_2 = 1,
    kSST_PCV_2 = 2,
    kSST_PKI_2 = 4,
    kSST_PRD_2 = 8,
    kSST_PRM_2 = 16,
    kSST_PRP_2 = 32,
};

// ---------------------------------------------------------------------------
// Exit statuses and failure reporting (helpers)
// ---------------------------------------------------------------------------

enum ExitStatus : int {
    kExitOk = 0,          // the run reported no failure
    kExitFailure = 1,     // at least one failure was reported on the way
    kExitUsage = -1,      // no input file name, or no output names derivable
};

// Prints "TAIHEN: " and the formatted text on standard error and counts the
// run as failed.  Every failure that decides the exit status goes through it.
void report_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Number of failures reported so far in this run.
int failures_reported();

// Forgets the failures reported so far (for tests that run several cases).
void reset_failures();

// At the start of a run: SIGPIPE ignored, and standard input, output and
// error that are closed opened on /dev/null.
void prepare_standard_streams();

// At the end of a run: flushes standard output and reports a write error on
// it, once, if any write to it failed.
void check_standard_output();

// ---------------------------------------------------------------------------
// Output files (helpers)
// ---------------------------------------------------------------------------

// One product output file.  Every write and the close are checked; the first
// failure on a file is reported once and counted as a failure of the run.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Opens `path` with fopen `mode` ("w" or "a"), closing what was open.
    // Returns false, with errno set by fopen, when the file cannot be had.
    bool open(const std::string& path, const char* mode);
    bool is_open() const { return fp_ != nullptr; }
    const std::string& path() const { return path_; }

    void write(const void* data, std::size_t size)
    {
        // Table lines, the usual case, gather in the file's own buffer:
        // stdio is handed whole blocks.
        if (fp_ != nullptr && size <= kBufferSize - used_) {
            std::memcpy(buffer_.get() + used_, data, size);
            used_ += size;
            return;
        }
        write_through(data, size);
    }
    void write(const std::string& text) { write(text.data(), text.size()); }
    // Checked close; does nothing when not open.
    void close();

private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 16;

    void write_through(const void* data, std::size_t size);
    void flush_buffer();
    void report_write_error(int error);

    std::FILE* fp_ = nullptr;   // the stream, null while closed
    std::string path_;          // name the stream was opened under
    bool error_reported_ = false;  // a write error on this file was reported
    std::unique_ptr<char[]> buffer_;  // kBufferSize bytes once opened
    std::size_t used_ = 0;            // bytes of buffer_ not yet handed on
};

// ---------------------------------------------------------------------------
// Support routines (helpers)
// ---------------------------------------------------------------------------

// Position of the first occurrence of `pattern` in `str` (strstr), or -1.
int32_t strpos(const char* str, const char* pattern);

// Julian date of a proleptic Gregorian calendar date and time of day.
double greg2jul(double year, double month, double day, double hour, double minute,
                double second);

// Seconds since 1980-01-06 00:00:00 of a calendar date, without leap seconds.
double gps_seconds(double year, double month, double day, double hour, double minute,
                   double second);

// ---------------------------------------------------------------------------
// Number <-> text conversions (helpers)
//
// Each gives exactly the result of the C library call named beside it (C
// locale, default rounding mode), bit for bit and byte for byte, only faster:
// common inputs take a short exact path, everything else is handed to
// strtod / strtol / std::to_chars.

// strtod(text, nullptr): leading white space, sign, decimal or hexadecimal
// digits, inf / infinity / nan / nan(...); the rest of the text is ignored and
// a text without a number gives 0.
double parse_double(const char* text);

// strtol(text, nullptr, 10), overflow clamped to LONG_MAX / LONG_MIN.
long parse_long(const char* text);

// Appenders: each writes what snprintf writes for a single conversion of the
// form shown (blanks on the left up to `width`, never cut, no closing NUL) at
// `out` and returns the end of the written text. The caller provides the room
// given by the matching *_max_length; `precision` must lie in 0..60.
// Infinities and NaNs come out as glibc prints them: "inf", "-inf", "nan",
// "-nan".

// "%<width>.<precision>e"
char* format_e(char* out, double v, int width, int precision);
// "%<width>.<precision>f" (also the text "%<width>.<precision>Lf" gives for a
// long double that holds this double)
char* format_f(char* out, double v, int width, int precision);
// "%<width>d"; width 0 is plain "%d"
char* format_d(char* out, int v, int width);

// Most characters each appender writes: sign, one digit, point, digits and an
// exponent of up to three digits for "e"; sign, up to 309 integer digits,
// point and digits for "f"; sign and ten digits for "d".
constexpr int format_e_max_length(int width, int precision)
{
    return width > precision + 8 ? width : precision + 8;
}
constexpr int format_f_max_length(int width, int precision)
{
    return width > precision + 311 ? width : precision + 311;
}
constexpr int format_d_max_length(int width)
{
    return width > 11 ? width : 11;
}

// ---------------------------------------------------------------------------
// Element vocabulary (tags)
// ---------------------------------------------------------------------------

// Tag code of `name` at `depth`: 1, 2, ... within the depth's list, else -1.
int32_t GetNodeTagfromName(const char* name, int32_t depth);

// Header bit of a header element name, 0 for any other name.
int HDR_GetNodeTagfromFile(const char* name);

// ---------------------------------------------------------------------------
// Base64 codec (base64)
// ---------------------------------------------------------------------------

unsigned char* base64_decode(const char* data, int32_t input_length, int32_t* output_length);
char* base64_encode(const unsigned char* data, int32_t input_length, int32_t* output_length);
void base64_build_decoding_table();
void base64_cleanup();

// base64_decode that also tells how many "=" stood among the four characters
// of the last complete group, i.e. how many zero bytes before the NUL are pad.
unsigned char* base64_decode_counting_pads(const char* data, int32_t input_length,
                                           int32_t* output_length, int32_t* last_group_pads);

// The decoding of base64_decode_counting_pads, a piece of text at a time: a
// group may run over from one piece into the next.
class Base64Decoder {
public:
    // Decodes `length` characters into `decoded`, which has room for three
    // bytes per complete group: 3 * (length / 4 + 1) is always enough.
    // Returns the number of bytes written.
    std::size_t decode(const char* data, std::size_t length, unsigned char* decoded);
    // "=" among the characters of the last complete group so far.
    int32_t last_group_pads() const { return last_group_pads_; }

private:
    uint32_t group_ = 0;           // values of the open group's characters
    int in_group_ = 0;             // characters of the open group
    int32_t group_pads_ = 0;       // "=" among them
    int32_t last_group_pads_ = 0;
};

// ---------------------------------------------------------------------------
// Product records (data_handling)
// ---------------------------------------------------------------------------

struct EGG_NOM_2_record {
    long double gps_time;
    double gradients[6];
    double sigmas[6];
    int16_t flags[6];
    double direct_tides[6];
    double solid_earth_tides[6];
    double ocean_tides[6];
    double pole_tides[6];
    double non_tidal[6];
    double calibration[6];
    double quaternions[4];
};

struct SST_PCV_2_record {
    int32_t row;
    int32_t column;
    double value;
};

struct SST_PKI_2_record {
    double year, month, day, hour, minute, second;
    double position_factor;
    double x, y, z;
    double clock;
};

struct SST_PRD_2_record {
    double year, month, day, hour, minute, second;
    double position_factor;
    double x, y, z;
    double clock;
    double velocity_factor;
    double vx, vy, vz;
    double clock_change_rate;
};

struct SST_PRM_2_record {
    double time;
    double q1, q2, q3, q4;
};

struct SST_PRP_2_record {
    int32_t encoding;
};

struct HDR_SST_PRM_2_record {
    double Epoch_Information;
};

extern EGG_NOM_2_record EGG_NOM_2_data;
extern SST_PCV_2_record SST_PCV_2_data;
extern SST_PKI_2_record SST_PKI_2_data;
extern SST_PRD_2_record SST_PRD_2_data;
extern SST_PRM_2_record SST_PRM_2_data;
extern SST_PRP_2_record SST_PRP_2_data;
extern HDR_SST_PRM_2_record HDR_SST_PRM_2_data;

// Resets: back to the fill values.
void initialize_EGG_NOM_2_data();
void initialize_SST_PCV_2_data();
void initialize_SST_PKI_2_data();
void initialize_SST_PRD_2_data();
void initialize_SST_PRM_2_data();
void HDR_initialize_SST_PRM_2_data();

// Setters: read the tag path and take the text of a text node.
void PutToStruct_EGG_NOM_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PCV_2(const TagPath& tags, int32_t mode, const char* row_text,
                           const char* column_text, const char* value_text);
void PutToStruct_SST_PKI_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PRD_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PRM_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PRP_2(const TagPath& tags, const char* encoding);

void PutToStruct_SST_PKI_2_Position_Factor(double factor);
void PutToStruct_SST_PRD_2_Position_Factor(double factor);
void PutToStruct_SST_PRD_2_Velocity_Factor(double factor);
void PutToStruct_SST_PRP_2_Encoding(int32_t encoding);
int32_t GetFromStruct_SST_PRP_2_Encoding();

// Fewest open elements under which the text setter of a product can store
// anything (and say anything): text with fewer elements open around it may be
// passed over.  0 for a product whose setter looks at every text.
int32_t PutToStruct_fewest_open_elements(int32_t product_bit);

// Header epoch setter: acts only when `flags` is 127.
void HDR_PutToStruct_SST_PRM_2(int flags, const char* text);

// Writers: print one line of the record to `out` (or report that it is not
// open), then reset the record.
void OutputToFileASCII_EGG_NOM_2(OutputFile& out);
void OutputToFileASCII_SST_PCV_2(OutputFile& out);
void OutputToFileASCII_SST_PKI_2(OutputFile& out);
void OutputToFileASCII_SST_PRD_2(OutputFile& out);
void OutputToFileASCII_SST_PRM_2(OutputFile& out);

// Document path: decodes (or copies) the text of one PDF_File text node into
// the open document file `out`.
void OutputToFile_SST_PRP_2_Document(OutputFile& out, const char* text);

// ---------------------------------------------------------------------------
// Streaming reader nodes (main)
// ---------------------------------------------------------------------------

// The text holds nothing but the XML white space characters (or nothing),
// which is what makes the reader call a text node white space.
inline bool is_xml_white_space(const xmlChar* text)
{
    constexpr uint64_t kWhite = 1ull << ' ' | 1ull << '\t' | 1ull << '\n' | 1ull << '\r';
    const unsigned first = text[0];
    if (first > ' ' || (kWhite >> first & 1) == 0)
        return first == 0;  // values mostly end the test here
    // Indentation: glibc's strspn takes it in whole vectors.
    const char* rest = reinterpret_cast<const char*>(text);
    return rest[std::strspn(rest, " \t\n\r")] == '\0';
}

// One node of the streaming reader as the product pass sees it.
struct ReaderNode {
    enum Kind { kElementStart, kElementEnd, kText, kOther };
    Kind kind = kOther;
    int depth = 0;                        // of the node: elements open around it
    bool empty = false;                   // an element start written <name/>
    const xmlChar* name = nullptr;        // of an element start ("prefix:name")
    const xmlChar* text = nullptr;        // of a text node (may be null)
};

// Tells the reader's nodes apart the way xmlTextReaderNodeType,
// xmlTextReaderDepth, xmlTextReaderConstName and xmlTextReaderConstValue do,
// but mostly from the node itself: those calls are a good part of the cost
// of a pass.  The reader visits an element at its start and, unless it is
// written <name/>, again at its end; only the innermost open element can end,
// so a visit to it is its end, and the depth is the count of open elements.
// The node type of text would also search xml:space up the tree for every run
// of white space, only to name two kinds of white space.
class ReaderNodes {
public:
    ReaderNode next(xmlTextReaderPtr reader)
    {
        ReaderNode result;
        const xmlNode* node = xmlTextReaderCurrentNode(reader);
        if (node == nullptr)
            return result;
        if (node->type == XML_TEXT_NODE) {
            result.kind = ReaderNode::kText;
            result.depth = static_cast<int>(open_.size());
            result.text = node->content;
        } else if (node->type == XML_ELEMENT_NODE) {
            if (!open_.empty() && open_.back() == node) {
                open_.pop_back();
                result.kind = ReaderNode::kElementEnd;
                result.depth = static_cast<int>(open_.size());
            } else {
                result.kind = ReaderNode::kElementStart;
                result.depth = static_cast<int>(open_.size());
                result.empty = xmlTextReaderIsEmptyElement(reader) != 0;
                result.name = node->ns == nullptr || node->ns->prefix == nullptr
                                  ? node->name
                                  : xmlTextReaderConstName(reader);
                if (!result.empty)
                    open_.push_back(node);
            }
        }
        return result;
    }

private:
    std::vector<const xmlNode*> open_;  // open elements, outermost first
};

// The value of the attribute `name` (a name without prefix) of the reader's
// element, as xmlTextReaderGetAttribute gives it, but never longer than
// kMaxLength bytes.  Read in place where the element holds it as one plain
// text, the usual case, or where it comes from a default in the document
// type; built from the attribute's text and entity reference nodes
// otherwise, visiting at most kMaxLength nodes, so that entities that
// multiply one another cannot make it cost more than the bound.  A longer
// value (or one of more nodes) counts as missing and is reported as a
// failure, as is running out of memory while building one.
class AttributeValue {
public:
    static constexpr std::size_t kMaxLength = 65536;

    // The file named in the reports (the product file being read).
    static std::string& file_name()
    {
        static std::string name;
        return name;
    }

    AttributeValue(xmlTextReaderPtr reader, const char* name) : name_(name)
    {
        const xmlNode* node = xmlTextReaderCurrentNode(reader);
        if (node == nullptr || node->type != XML_ELEMENT_NODE)
            return;
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
            if (a->ns != nullptr || !same_name(a->name, name))
                continue;
            // The first attribute of that name without namespace decides.
            const xmlNode* text = a->children;
            if (text != nullptr && text->next == nullptr && text->content != nullptr &&
                (text->type == XML_TEXT_NODE || text->type == XML_CDATA_SECTION_NODE)) {
                take_in_place(text->content);
                return;
            }
            build(a->children);
            return;
        }
        from_document_type(node);
    }
    AttributeValue(const AttributeValue&) = delete;
    AttributeValue& operator=(const AttributeValue&) = delete;

    // Null when the element has no such attribute (or it was refused).
    const char* text() const { return reinterpret_cast<const char*>(value_); }

private:
    // Names are short: a loop in place beats a call to strcmp.
    static bool same_name(const xmlChar* name, const char* wanted)
    {
        for (; *wanted != '\0'; ++name, ++wanted)
            if (*name != static_cast<unsigned char>(*wanted))
                return false;
        return *name == 0;
    }

    void take_in_place(const xmlChar* text)
    {
        if (std::memchr(text, 0, kMaxLength + 1) == nullptr)
            refuse_too_long();
        else
            value_ = text;
    }

    // A default or fixed value declared for the attribute in the document
    // type, looked up under the element's qualified name.
    void from_document_type(const xmlNode* node)
    {
        const xmlDoc* doc = node->doc;
        if (doc == nullptr || (doc->intSubset == nullptr && doc->extSubset == nullptr))
            return;
        std::string qualified;
        const xmlChar* element = node->name;
        if (node->ns != nullptr && node->ns->prefix != nullptr) {
            try {
                qualified = reinterpret_cast<const char*>(node->ns->prefix);
                qualified += ':';
                qualified += reinterpret_cast<const char*>(node->name);
            } catch (const std::bad_alloc&) {
                refuse_out_of_memory();
                return;
            }
            element = reinterpret_cast<const xmlChar*>(qualified.c_str());
        }
        const xmlAttribute* declared = nullptr;
        if (doc->intSubset != nullptr)
            declared = xmlGetDtdQAttrDesc(doc->intSubset, element, BAD_CAST name_, nullptr);
        if (declared == nullptr && doc->extSubset != nullptr)
            declared = xmlGetDtdQAttrDesc(doc->extSubset, element, BAD_CAST name_, nullptr);
        if (declared != nullptr && declared->defaultValue != nullptr)
            take_in_place(declared->defaultValue);
    }

    // The value of a list of attribute children: texts as they stand, entity
    // references by their entity's content (or their own text when the
    // entity is not declared), as libxml2 puts attribute values together.
    void build(const xmlNode* children)
    {
        try {
            bytes_left_ = kMaxLength;
            nodes_left_ = kMaxLength;
            if (append(children, 0)) {
                value_ = reinterpret_cast<const xmlChar*>(owned_.c_str());
                return;
            }
            owned_.clear();
            owned_.shrink_to_fit();
            refuse_too_long();
        } catch (const std::bad_alloc&) {
            owned_.clear();
            owned_.shrink_to_fit();
            refuse_out_of_memory();
        }
    }

    // False when the value would be longer than the bound or take more nodes.
    bool append(const xmlNode* node, int nesting)
    {
        constexpr int kMaxNesting = 64;
        if (nesting > kMaxNesting)
            return false;
        for (; node != nullptr; node = node->next) {
            if (nodes_left_ == 0)
                return false;
            --nodes_left_;
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                if (!append_text(node->content))
                    return false;
            } else if (node->type == XML_ENTITY_REF_NODE) {
                const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
                if (entity == nullptr) {
                    if (!append_text(node->content))
                        return false;
                } else if (!append(entity->children, nesting + 1)) {
                    return false;
                }
            }
        }
        return true;
    }

    bool append_text(const xmlChar* text)
    {
        if (text == nullptr)
            return true;
        const void* end = std::memchr(text, 0, bytes_left_ + 1);
        if (end == nullptr)
            return false;
        const std::size_t length = static_cast<std::size_t>(static_cast<const xmlChar*>(end) - text);
        owned_.append(reinterpret_cast<const char*>(text), length);
        bytes_left_ -= length;
        return true;
    }

    void refuse_too_long() const
    {
        report_failure("attribute %s longer than %zu bytes in %s, ignored\n", name_, kMaxLength,
                       file_name().c_str());
    }
    void refuse_out_of_memory() const
    {
        report_failure("out of memory reading attribute %s in %s\n", name_, file_name().c_str());
    }

    const char* name_;
    const xmlChar* value_ = nullptr;
    std::string owned_;        // a value that was built
    std::size_t bytes_left_ = 0;  // while building: bytes the value may still take
    std::size_t nodes_left_ = 0;  // and nodes that may still be visited
};

// ---------------------------------------------------------------------------
// Driver globals (main)
// ---------------------------------------------------------------------------

extern TagPath TAG_flags;
extern int32_t HDR_TAG_flags;
extern int32_t product;
extern OutputFile fid_egg_nom;
extern OutputFile fid_sst_pcv;
extern OutputFile fid_sst_pki;
extern OutputFile fid_sst_prd;
extern OutputFile fid_sst_prm;
extern OutputFile fid_sst_prp;

#endif  // L2XML2ASCII_H
