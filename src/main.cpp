// The conversion driver: command line and file naming, the header epoch pass,
// the product pass over the streaming XML reader, and the routing of
// attributes and text into the product records.
#include "l2xml2ascii.h"
#include "xml_input.h"

#include <algorithm>
#include <cassert>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <getopt.h>
#include <initializer_list>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <memory>
#include <string>
#include <vector>

#ifndef L2_VERSION
#define L2_VERSION "unknown"
#endif

TagPath TAG_flags{};        // tag codes of the elements open at depths 0 to 9
int32_t HDR_TAG_flags = 0;  // header bits of the header elements now open
int32_t product = 0;        // bit of the product whose section is open, or 0
OutputFile fid_egg_nom;     // EGG_NOM_2 gravity-gradient table
OutputFile fid_sst_pcv;     // SST_PCV_2 covariance table
OutputFile fid_sst_pki;     // SST_PKI_2 orbit table
OutputFile fid_sst_prd;     // SST_PRD_2 orbit table with velocities
OutputFile fid_sst_prm;     // SST_PRM_2 rotation table
OutputFile fid_sst_prp;     // SST_PRP_2 document file

namespace {

// ---------------------------------------------------------------------------
// libxml2 resources

struct ReaderDeleter {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
using XmlReader = std::unique_ptr<xmlTextReader, ReaderDeleter>;

const char* as_text(const xmlChar* text)
{
    return reinterpret_cast<const char*>(text);
}

// Element names come from the reader's dictionary, where one name has one
// copy for the whole pass.  Their codes are remembered per depth by that
// copy's address, so that most element starts skip the look-up by text.
class TagCodeCache {
public:
    int32_t code(xmlTextReaderPtr reader, const xmlChar* name, int depth)
    {
        Slots& slots = depths_[static_cast<std::size_t>(depth)];
        std::size_t slot = first_slot(name);
        for (; slots[slot].name != nullptr; slot = (slot + 1) % kSlots)
            if (slots[slot].name == name)
                return slots[slot].code;
        const int32_t code = GetNodeTagfromName(as_text(name), depth);
        // Only the dictionary's own copy is remembered (a name held anywhere
        // else could be freed and its address reused), and a depth keeps a
        // quarter of its slots free so that every search ends quickly.
        if (filled_[static_cast<std::size_t>(depth)] < kSlots * 3 / 4 &&
            xmlTextReaderConstString(reader, name) == name) {
            slots[slot] = Slot{name, code};
            ++filled_[static_cast<std::size_t>(depth)];
        }
        return code;
    }

private:
    struct Slot {
        const xmlChar* name = nullptr;  // null: free
        int32_t code = 0;
    };
    static constexpr std::size_t kSlots = 64;
    using Slots = std::array<Slot, kSlots>;

    static std::size_t first_slot(const xmlChar* name)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(name);
        return static_cast<std::size_t>((uint64_t{address} * 0x9E3779B97F4A7C15u) >> 58);  // 6 bits
    }

    std::array<Slots, kTagDepths> depths_{};
    std::array<std::size_t, kTagDepths> filled_{};
};

// Node types of the streaming reader that the header pass acts on.
constexpr int kElementStart = XML_READER_TYPE_ELEMENT;
constexpr int kText = XML_READER_TYPE_TEXT;
constexpr int kCdata = XML_READER_TYPE_CDATA;
constexpr int kSignificantWhitespace = XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
constexpr int kElementEnd = XML_READER_TYPE_END_ELEMENT;

// ---------------------------------------------------------------------------
// Products

// A run of tag path entries from depth 0, held in place; empty: "none".
struct CodePath {
    int32_t codes[kTagDepths] = {};
    std::size_t length = 0;
    bool closed = false;  // ends in 0: "and nothing open below"

    CodePath() = default;
    CodePath(std::initializer_list<int32_t> list)
        : length(list.size()), closed(list.size() > 0 && *(list.end() - 1) == 0)
    {
        std::copy(list.begin(), list.end(), codes);
    }
};

// What the product pass knows of one product type.  Paths are tag path
// entries from depth 0; a trailing 0 means "nothing open at that depth".
struct Product {
    const char* name;                     // fills the product slot of output names
    int32_t bit;                          // value of `product` while its section is open
    CodePath section_path;                // the product element open, nothing below
    CodePath record_path;                 // right after a record closed (empty: none)
    CodePath text_path;                   // text inside one of its records
    const char* extension;                // fills the extension slot
    OutputFile* stream;
    void (*writer)(OutputFile&);          // prints one record line (or null)
    void (*route_text)(const char* text); // hands text inside a record on
};

void route_gradient_text(const char* text)
{
    PutToStruct_EGG_NOM_2(TAG_flags, text);
}

void route_covariance_text(const char* text)
{
    PutToStruct_SST_PCV_2(TAG_flags, 2, nullptr, nullptr, text);
}

void route_pki_text(const char* text)
{
    PutToStruct_SST_PKI_2(TAG_flags, text);
}

void route_prd_text(const char* text)
{
    PutToStruct_SST_PRD_2(TAG_flags, text);
}

void route_rotation_text(const char* text)
{
    PutToStruct_SST_PRM_2(TAG_flags, text);
}

void route_document_text(const char* text)
{
    // Without its file the document's text is dropped.
    if (fid_sst_prp.is_open())
        OutputToFile_SST_PRP_2_Document(fid_sst_prp, text);
}

// The product table, in the order in which section starts are tested.
const std::vector<Product> kProducts = {
    {"EGG_NOM_2", kEGG_NOM_2, {1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 1}, "ascii",
     &fid_egg_nom, OutputToFileASCII_EGG_NOM_2, route_gradient_text},
    {"SST_PCV_2", kSST_PCV_2, {1, 2, 2, 0}, {1, 2, 2, 2, 0}, {1, 2, 2, 2, 7}, "ascii",
     &fid_sst_pcv, OutputToFileASCII_SST_PCV_2, route_covariance_text},
    {"SST_PKI_2", kSST_PKI_2, {1, 2, 3, 0}, {1, 2, 3, 3, 0}, {1, 2, 3, 3, 8}, "ascii",
     &fid_sst_pki, OutputToFileASCII_SST_PKI_2, route_pki_text},
    {"SST_PRD_2", kSST_PRD_2, {1, 2, 4, 0}, {1, 2, 4, 3, 0}, {1, 2, 4, 3, 8}, "ascii",
     &fid_sst_prd, OutputToFileASCII_SST_PRD_2, route_prd_text},
    {"SST_PRM_2", kSST_PRM_2, {1, 2, 5, 0}, {1, 2, 5, 4, 0}, {1, 2, 5, 4, 9}, "ascii",
     &fid_sst_prm, OutputToFileASCII_SST_PRM_2, route_rotation_text},
    {"SST_PRP_2", kSST_PRP_2, {1, 2, 6, 0}, {}, {1, 2, 6, 5, 10}, "pdf",
     &fid_sst_prp, nullptr, route_document_text},
};

bool shows(const CodePath& path)
{
    return path.length > 0 && tag_path_shows(TAG_flags, path.codes, path.length);
}

// shows(path) for a tag path where `open_elements` elements are open.  The
// open elements hold non-zero entries from depth 0 (codes are never 0) and
// every entry below them is 0, so a closed path can only show while exactly
// the elements of its non-zero entries are open: most nodes are settled by
// that count alone.
bool shows(const CodePath& path, int open_elements)
{
    const bool possible = !path.closed || path.length == static_cast<std::size_t>(open_elements) + 1;
    assert(possible || !shows(path));
    return possible && shows(path);
}

// Bit n set: some path of the table is n entries long.
template <typename Row>
uint32_t path_lengths(const std::vector<Row>& table, CodePath Row::*path)
{
    uint32_t lengths = 0;
    for (const Row& row : table)
        lengths |= uint32_t{1} << (row.*path).length;
    return lengths;
}

// Lengths of the products' section paths (closed paths all).
const uint32_t kSectionPathLengths = path_lengths(kProducts, &Product::section_path);

// Whether any closed path of the given lengths could show while
// `open_elements` elements are open (see shows(path, open_elements)).
bool could_show_closed(uint32_t lengths, int open_elements)
{
    return open_elements >= 0 && open_elements < 31 && (lengths >> (open_elements + 1) & 1) != 0;
}

// Per product (in table order), the fewest open elements under which its
// setter can use text: set at the start of the product pass.
std::vector<int32_t> fewest_open_for_text;

// The table entry of the product in `product`, and the fewest open elements
// under which its text is routed; the three change together.
const Product* open_product = nullptr;
int32_t open_product_text_depth = 0;

void set_open_product(const Product* p)
{
    open_product = p;
    product = p != nullptr ? p->bit : kNoProduct;
    open_product_text_depth =
        p != nullptr ? fewest_open_for_text[static_cast<std::size_t>(p - kProducts.data())] : 0;
}

// ---------------------------------------------------------------------------
// Attribute routing

// The attribute `name` of the reader's element equals `expected` exactly.
bool attribute_is(xmlTextReaderPtr reader, const char* name, const char* expected)
{
    const AttributeValue value(reader, name);
    return value.text() != nullptr && std::strcmp(value.text(), expected) == 0;
}

void route_covariance_indices(xmlTextReaderPtr reader)
{
    const AttributeValue row(reader, "row");
    const AttributeValue column(reader, "column");
    PutToStruct_SST_PCV_2(TAG_flags, 1, row.text(), column.text(), nullptr);
}

void route_pki_position_unit(xmlTextReaderPtr reader)
{
    if (attribute_is(reader, "unit", "km"))
        PutToStruct_SST_PKI_2_Position_Factor(1000.0);
}

void route_prd_position_unit(xmlTextReaderPtr reader)
{
    if (attribute_is(reader, "unit", "km"))
        PutToStruct_SST_PRD_2_Position_Factor(1000.0);
}

void route_prd_velocity_unit(xmlTextReaderPtr reader)
{
    if (attribute_is(reader, "unit", "dm/s"))
        PutToStruct_SST_PRD_2_Velocity_Factor(0.1);
}

void route_document_encoding(xmlTextReaderPtr reader)
{
    const AttributeValue encoding(reader, "encoding");
    PutToStruct_SST_PRP_2(TAG_flags, encoding.text());
}

// Elements whose attributes reach a record, by product and tag path.
struct AttributeRoute {
    int32_t product;
    CodePath path;
    void (*route)(xmlTextReaderPtr reader);
};

const std::vector<AttributeRoute> kAttributeRoutes = {
    // Covariance_Record
    {kSST_PCV_2, {1, 2, 2, 2, 7, 0}, route_covariance_indices},
    // SP3c_Record / List_of_Satellite_IDs / L15 / Position or Velocity
    {kSST_PKI_2, {1, 2, 3, 3, 8, 15, 10, 12, 0}, route_pki_position_unit},
    {kSST_PRD_2, {1, 2, 4, 3, 8, 15, 10, 12, 0}, route_prd_position_unit},
    {kSST_PRD_2, {1, 2, 4, 3, 8, 15, 10, 13, 0}, route_prd_velocity_unit},
    // PDF_File
    {kSST_PRP_2, {1, 2, 6, 5, 10, 0}, route_document_encoding},
};

// Lengths of the attribute routes' paths (closed paths all).
const uint32_t kAttributePathLengths = path_lengths(kAttributeRoutes, &AttributeRoute::path);

// Product bits that have attribute routes.
const int32_t kProductsWithAttributes = [] {
    int32_t bits = 0;
    for (const AttributeRoute& r : kAttributeRoutes)
        bits |= r.product;
    return bits;
}();

void route_attributes(xmlTextReaderPtr reader, int open_elements)
{
    if ((product & kProductsWithAttributes) == 0 ||
        !could_show_closed(kAttributePathLengths, open_elements))
        return;
    for (const AttributeRoute& r : kAttributeRoutes)
        if (r.product == product && shows(r.path, open_elements))
            r.route(reader);
}

// Text is routed when it sits inside a record of the open product, deep
// enough for the setter to use it, and is not white space only, which is what
// the reader calls white space.
void route_text(const xmlChar* text, int open_elements)
{
    const Product* p = open_product;
    if (p != nullptr && open_elements >= open_product_text_depth && shows(p->text_path) &&
        !is_xml_white_space(text))
        p->route_text(as_text(text));
}

// ---------------------------------------------------------------------------
// File naming

// Where the output files go: the working directory and the input name's
// prefix before the product name, the input name's tail before the extension.
struct OutputNames {
    std::string before_product;
    std::string before_extension;

    std::string file_for(const Product& p) const
    {
        return before_product + p.name + before_extension + p.extension;
    }
};

// ---------------------------------------------------------------------------
// Product pass

// Products whose section started before in this run: a later section of the
// same product adds to what was written, it does not empty the file.
std::vector<bool> section_started;

void start_section(const Product& p, const OutputNames& names)
{
    set_open_product(&p);
    const std::string file = names.file_for(p);
    const std::size_t index = static_cast<std::size_t>(&p - kProducts.data());
    bool created = true;
    int error = 0;
    if (!section_started[index]) {
        created = p.stream->open(file, "w");
        error = errno;
    } else if (!p.stream->is_open()) {
        created = p.stream->open(file, "a");
        error = errno;
    }
    section_started[index] = true;
    std::printf("     output to: %s\n", file.c_str());
    if (!created)
        report_failure("cannot create %s: %s\n", file.c_str(), std::strerror(error));
}

void element_start(xmlTextReaderPtr reader, const xmlChar* name, int depth, bool empty,
                   const OutputNames& names, TagCodeCache& codes)
{
    // An empty element leaves the tag path alone and starts no section.
    if (!empty) {
        if (depth >= 0 && depth < kTagDepths)
            TAG_flags[depth] = codes.code(reader, name, depth);
        else
            std::puts("MESSAGE: something went wrong -- level > 9 reached!");

        if (TAG_flags[0] == 1 && could_show_closed(kSectionPathLengths, depth + 1)) {
            for (const Product& p : kProducts) {
                if (shows(p.section_path, depth + 1)) {
                    if (product != p.bit)
                        start_section(p, names);
                    break;
                }
            }
        }
    }
    route_attributes(reader, empty ? depth : depth + 1);
}

void element_end(int depth)
{
    if (depth >= 0 && depth < kTagDepths)
        TAG_flags[depth] = 0;
    else
        std::puts("MESSAGE: something went wrong - level > 9 reached!");

    const Product* p = open_product;
    if (p == nullptr)
        return;
    if (shows(p->record_path, depth)) {
        p->writer(*p->stream);
    } else if (shows(p->section_path, depth)) {
        std::printf("          ... finished writing %s.\n", p->name);
        p->stream->close();
        set_open_product(nullptr);
    }
}

// Reads the XML file at `path` node by node, calling `visit` with the reader
// on every node, and reports a file that cannot be opened or read to its end.
template <typename Visit>
void walk_xml_file(const std::string& path, Visit visit)
{
    XmlInput input;  // outlives the reader that reads from it
    if (!input.open(path)) {
        report_failure("Unable to open %s\n", path.c_str());
        return;
    }
    XmlReader reader(xmlReaderForIO(XmlInput::read, nullptr, &input, path.c_str(), nullptr, 0));
    if (!reader) {
        report_failure("Unable to open %s\n", path.c_str());
        return;
    }
    int result;
    while ((result = xmlTextReaderRead(reader.get())) == 1)
        visit(reader.get());
    reader.reset();
    if (input.failed())
        report_failure("read error on %s: %s\n", path.c_str(), input.error());
    if (result != 0 || input.failed())
        report_failure("%s : failed to parse\n", path.c_str());
}

void product_pass(const std::string& input_path, const OutputNames& names)
{
    section_started.assign(kProducts.size(), false);
    fewest_open_for_text.clear();
    for (const Product& p : kProducts)
        fewest_open_for_text.push_back(PutToStruct_fewest_open_elements(p.bit));
    TAG_flags.fill(0);
    set_open_product(nullptr);
    TagCodeCache codes;
    ReaderNodes nodes;
    AttributeValue::file_name() = input_path;
    walk_xml_file(input_path, [&names, &codes, &nodes](xmlTextReaderPtr reader) {
        const ReaderNode node = nodes.next(reader);
        switch (node.kind) {
        case ReaderNode::kText:
            if (node.text != nullptr)
                route_text(node.text, node.depth);
            break;
        case ReaderNode::kElementStart:
            element_start(reader, node.name != nullptr ? node.name : BAD_CAST "--", node.depth,
                          node.empty, names, codes);
            break;
        case ReaderNode::kElementEnd:
            element_end(node.depth);
            break;
        case ReaderNode::kOther:  // comments, CDATA, processing instructions, ...
            break;
        }
    });
}

// ---------------------------------------------------------------------------
// Header epoch pass

void header_pass(const std::string& header_path)
{
    HDR_TAG_flags = 0;
    walk_xml_file(header_path, [](xmlTextReaderPtr reader) {
        const xmlChar* node_name = xmlTextReaderConstName(reader);
        const char* name = node_name != nullptr ? as_text(node_name) : "--";
        const int type = xmlTextReaderNodeType(reader);
        switch (type) {
        case kElementStart:
            if (xmlTextReaderIsEmptyElement(reader) == 0)
                HDR_TAG_flags |= HDR_GetNodeTagfromFile(name);
            break;
        case kText:
            if ((HDR_TAG_flags & 127) == 127) {
                const xmlChar* value = xmlTextReaderConstValue(reader);
                HDR_PutToStruct_SST_PRM_2(HDR_TAG_flags, value != nullptr ? as_text(value) : "");
            }
            break;
        case kCdata:
        case kSignificantWhitespace:
            break;
        case kElementEnd:
            HDR_TAG_flags &= ~HDR_GetNodeTagfromFile(name);
            break;
        default:
            std::printf("MESSAGE: found type %d\n", type);
            break;
        }
    });
}

// ---------------------------------------------------------------------------
// Command line

struct Options {
    std::string input;      // --if, -i
    std::string header;     // --hdr
    std::string directory;  // --dir, -d
};

enum OptionCode { kOptHelp = 256, kOptVersion };

void print_usage()
{
    std::printf(
        "Usage: l2xml2ascii --if FILE [--hdr FILE] [--dir DIR/]\n"
        "Converts a Level-2 product XML file into one ASCII table per product section\n"
        "(EGG_NOM_2, SST_PCV_2, SST_PKI_2, SST_PRD_2, SST_PRM_2) and writes the\n"
        "documents of an SST_PRP_2 section into one file.\n"
        "\n"
        "  -i, --if FILE    product file to convert (required)\n"
        "      --hdr FILE   header file holding the epoch reference of rotation times\n"
        "  -d, --dir DIR/   working directory of the input, header and output files;\n"
        "                   put straight in front of every name, so end it with '/'\n"
        "      --help       show this help and exit\n"
        "      --version    show the version and exit\n"
        "\n"
        "Output names: the input name with its product type field (characters 9 to 17)\n"
        "replaced by the product name, and everything from its first '.' on by\n"
        "'.ascii' or '.pdf'.\n"
        "Exit status: 0 when all went well, 1 when a failure was reported,\n"
        "255 when no input file name was given or no output name can be derived.\n");
}

// Parses the command line; returns false when the program is to end at once
// with `exit_status` (help and version).
bool parse_options(int argc, char** argv, Options& options, int& exit_status)
{
    static const struct option long_options[] = {
        {"if", required_argument, nullptr, 'i'},
        {"hdr", required_argument, nullptr, 'H'},
        {"dir", required_argument, nullptr, 'd'},
        {"help", no_argument, nullptr, kOptHelp},
        {"version", no_argument, nullptr, kOptVersion},
        {nullptr, 0, nullptr, 0},
    };
    int code;
    while ((code = getopt_long(argc, argv, "i:d:", long_options, nullptr)) != -1) {
        switch (code) {
        case 'i':
            options.input = optarg;
            break;
        case 'H':
            options.header = optarg;
            break;
        case 'd':
            options.directory = optarg;
            break;
        case kOptHelp:
            print_usage();
            exit_status = kExitOk;
            return false;
        case kOptVersion:
            std::printf("l2xml2ascii %s\n", L2_VERSION);
            exit_status = kExitOk;
            return false;
        default:  // the option parser has said what is wrong; go on
            break;
        }
    }
    return true;
}

// Closes every output file still open, checking that all was written.
void close_outputs()
{
    for (const Product& p : kProducts)
        p.stream->close();
}

}  // namespace

int main(int argc, char** argv)
{
    prepare_standard_streams();
    Options options;
    int early_status = kExitOk;
    if (!parse_options(argc, argv, options, early_status))
        return early_status;

    if (options.input.empty()) {
        report_failure("please specify input filename!\n");
        return kExitUsage;
    }
    std::printf("in_filname            : %s\n", options.input.c_str());
    if (!options.header.empty())
        std::printf("header_filname        : %s\n", options.header.c_str());
    else
        std::fputs("MESSAGE: header filename not specified - setting "
                   "SST_PRM.Epoch_Information to 0.0!\n",
                   stderr);

    // Positions 0-7 of the input name are kept, 8-16 are the product type
    // field, and from 17 up to the first "." comes the tail that is kept.
    const int32_t first_dot = strpos(options.input.c_str(), ".");
    if (first_dot < 16) {
        report_failure("cannot derive output file names from %s\n", options.input.c_str());
        return kExitUsage;
    }
    const std::string name_prefix = options.input.substr(0, 8);
    const std::string name_tail =
        options.input.substr(17, static_cast<std::size_t>(first_dot) - 16);
    std::printf("output base file name : %s%%s%s%%s\n", name_prefix.c_str(), name_tail.c_str());
    std::printf("working directory     : %s\n", options.directory.c_str());

    initialize_EGG_NOM_2_data();
    initialize_SST_PCV_2_data();
    initialize_SST_PKI_2_data();
    initialize_SST_PRD_2_data();
    initialize_SST_PRM_2_data();
    HDR_initialize_SST_PRM_2_data();

    if (!options.header.empty())
        header_pass(options.directory + options.header);

    const OutputNames names{options.directory + name_prefix, name_tail};
    product_pass(options.directory + options.input, names);
    xmlCleanupParser();
    close_outputs();
    check_standard_output();

    return failures_reported() > 0 ? kExitFailure : kExitOk;
}
