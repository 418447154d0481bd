// l2xml2ascii: converts Level-2 product XML files into ASCII tables and the
// documents they embed.  This header is shared by every module: it declares
// the product records and their descriptions, the run's state and every
// operation that crosses a module boundary.  libxml2 stays in the driver.
#ifndef L2XML2ASCII_H
#define L2XML2ASCII_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tags.h"

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
    kExitUsageError = 2,  // the command line is wrong: nothing was touched
    kExitNoInput = -1,    // no input file name at all (255 to the shell)
};

// Prints "TAIHEN: " and the formatted text on standard error and counts the
// run as failed.  Every failure that decides the exit status goes through it.
void report_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Number of failures reported so far in this run.
int failures_reported();

// Prints the formatted text on standard output.  Every line the passes print
// goes through it, so that a progress line on the terminal is taken away
// first.
void report_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The progress line on standard error.  On a terminal show_status_line()
// draws `text` over the line shown before and clear_status_line() takes it
// away again; elsewhere each text is one line of its own and stays.
void show_status_line(const std::string& text, bool on_terminal);
void clear_status_line();

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

// ---------------------------------------------------------------------------
// The run's state
// ---------------------------------------------------------------------------

// Which file a path named when it was looked at (links followed), if it
// existed then.
struct FileIdentity {
    bool known = false;
    uint64_t device = 0;
    uint64_t inode = 0;
};

struct ProductDescription;

// When the product pass shows its progress on standard error.
enum class ProgressChoice {
    kAuto,  // on a terminal, for product files of at least 64 MiB
    kOn,    // --progress: always
    kOff,   // --no-progress: never
};

// Everything one run of the program reads and changes, in one place;
// reset_run_state() sets it back, and a run starts with that.
struct RunState {
    // Driver
    TagPath TAG_flags{};        // tag codes of the elements open at depths 0 to 9
    int32_t HDR_TAG_flags = 0;  // header bits of the header elements now open
    int32_t product = kNoProduct;  // bit of the product whose section is open, or 0
    const ProductDescription* open_product = nullptr;  // its description
    int sections_started = 0;   // product sections started in the current input
    int documents_started = 0;  // PDF_File records met so far in the run: numbers split files
    std::size_t status_line_width = 0;  // characters of the progress line now drawn, 0: none

    // What the command line asked of every input
    bool column_names = false;     // tables begin with a line naming their columns
    bool split_documents = false;  // every PDF_File goes into a file of its own
    ProgressChoice progress = ProgressChoice::kAuto;

    // Product records, and the header's epoch reference
    EGG_NOM_2_record EGG_NOM_2_data{};
    SST_PCV_2_record SST_PCV_2_data{};
    SST_PKI_2_record SST_PKI_2_data{};
    SST_PRD_2_record SST_PRD_2_data{};
    SST_PRM_2_record SST_PRM_2_data{};
    SST_PRP_2_record SST_PRP_2_data{};
    HDR_SST_PRM_2_record HDR_SST_PRM_2_data{};

    // Output streams, closed until their section starts
    OutputFile fid_egg_nom;  // EGG_NOM_2 gravity-gradient table
    OutputFile fid_sst_pcv;  // SST_PCV_2 covariance table
    OutputFile fid_sst_pki;  // SST_PKI_2 orbit table
    OutputFile fid_sst_prd;  // SST_PRD_2 orbit table with velocities
    OutputFile fid_sst_prm;  // SST_PRM_2 rotation table
    OutputFile fid_sst_prp;  // SST_PRP_2 document file

    int failures = 0;         // failures reported; any decides exit status 1
    std::string product_file; // the product file being read, as opened
    std::string header_file;  // the header file as opened, or empty
    FileIdentity product_identity;  // the product file: no output may be it
    FileIdentity header_identity;   // the header file: no output may be it
    // Output files opened so far in this run: a later section of the same
    // product, or another input's, adds to what was written there.
    std::vector<std::string> outputs_opened;
};

// The one run's state.
extern RunState run_state;

// Closes every output stream and sets everything back to the start of a run:
// start_input(), no failure, no names, no output opened.
void reset_run_state();

// What every input file starts from: an empty tag path, no product open,
// records at their fill values (in the order initialize_EGG_NOM_2_data, ...,
// initialize_SST_PRM_2_data, HDR_initialize_SST_PRM_2_data).
void start_input();

// ---------------------------------------------------------------------------
// Product descriptions (data_handling)
// ---------------------------------------------------------------------------

// A record field chosen by the tag path entries below the record (from
// depth 5 on).
struct FieldRoute {
    CodePath below_record;   // entries from depth 5 that select the field
    double* field;
    bool adds_epoch;         // the header's epoch reference is added on storing
};

// A group of gravity-gradient fields: a run of tag path entries below
// GG_time_Record (from depth 4 on), then one entry that picks the member.
enum class GradientField { kTime, kDouble, kFlag };

struct GradientGroup {
    CodePath below_record;   // entries from depth 4 down to the members' parent
    int32_t first_member;    // code of the first member at the next depth
    int members;
    GradientField kind;
    long double* time;
    double* values;
    int16_t* flags;
};

// Attributes of one element of a product's records that reach the record.
struct AttributeRoute {
    CodePath element;              // the element open, nothing open below it
    const char* names[2];          // attributes read; the second may be null
    // Takes the tag path and the attributes' values (null: not there).
    void (*put)(const TagPath& tags, const char* const* values);
};

// Everything the program knows of one product type.  Paths are tag paths
// from depth 0.
struct ProductDescription {
    const char* name;          // fills the product slot of output names
    ProductBit bit;            // value of `product` while its section is open
    const char* extension;     // fills the extension slot
    CodePath section;          // the product element open, nothing below
    CodePath list;             // its list open, nothing below: a record just closed
    CodePath record;           // inside one of its records: where its text goes
    const AttributeRoute* attributes;
    std::size_t attribute_count;
    const FieldRoute* fields;  // fields of text below the record (or none)
    std::size_t field_count;
    const GradientGroup* groups;  // gravity-gradient groups (or none)
    std::size_t group_count;
    // Fewest open elements under which its text setter can use (or report)
    // a text: text with fewer elements open around it is passed over.
    int32_t fewest_open_for_text;
    // The table's columns by name, blank-separated, as --column-names puts
    // them after "# " on the first line; null for documents.
    const char* column_names;
    // With --split-documents every record goes into a file of its own.
    bool file_per_record;
    void (*initialize)();                                   // back to the fill values
    void (*put_text)(const TagPath& tags, const char* text);  // takes text in a record
    void (*write)(OutputFile& out);  // prints one record line, then resets (or null)
    OutputFile RunState::*stream;    // where its lines (or documents) go
};

// The descriptions, in the order in which section starts are tested.
extern const std::array<const ProductDescription*, 6> kProductDescriptions;

// ---------------------------------------------------------------------------
// Product records' operations (data_handling)
// ---------------------------------------------------------------------------

// Resets: back to the fill values.
void initialize_EGG_NOM_2_data();
void initialize_SST_PCV_2_data();
void initialize_SST_PKI_2_data();
void initialize_SST_PRD_2_data();
void initialize_SST_PRM_2_data();
void initialize_SST_PRP_2_data();
void HDR_initialize_SST_PRM_2_data();

// Text setters: check the tag path and store the converted text.
void PutToStruct_EGG_NOM_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PCV_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PKI_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PRD_2(const TagPath& tags, const char* text);
void PutToStruct_SST_PRM_2(const TagPath& tags, const char* text);
// The text of a PDF_File: decoded (or copied) into the open document file.
void PutToStruct_SST_PRP_2_Text(const TagPath& tags, const char* text);

// Attribute setters.
void PutToStruct_SST_PCV_2_Indices(const TagPath& tags, const char* row_text,
                                   const char* column_text);
void PutToStruct_SST_PRP_2(const TagPath& tags, const char* encoding);
void PutToStruct_SST_PKI_2_Position_Factor(double factor);
void PutToStruct_SST_PRD_2_Position_Factor(double factor);
void PutToStruct_SST_PRD_2_Velocity_Factor(double factor);
void PutToStruct_SST_PRP_2_Encoding(int32_t encoding);
int32_t GetFromStruct_SST_PRP_2_Encoding();

// Header epoch setter: acts only when `flags` is kAllHeaderElements.
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
// The run (main)
// ---------------------------------------------------------------------------

// One whole run of the program with these arguments (argv[0] is the
// program's name): returns its exit status.  It may be called again.
int run(int argc, char** argv);

#endif  // L2XML2ASCII_H
