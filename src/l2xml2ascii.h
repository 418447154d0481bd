// l2xml2ascii: converts Level-2 product XML files into ASCII tables and the
// documents they embed.  This header holds what crosses modules: the
// products' descriptions and columns, the values of a finished record, the
// output (Sink) and message (Reporter) interfaces of a conversion, and the
// entry that converts one input.  libxml2 stays in the conversion driver.
#ifndef L2XML2ASCII_H
#define L2XML2ASCII_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
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
// Columns and values
// ---------------------------------------------------------------------------

enum class ValueType : uint8_t {
    kLongDouble,  // computed in extended precision (the gravity-gradient time)
    kDouble,
    kInt32,
    kInt16,       // held in Value::integer
};

// One value of a finished record; its column says which member holds it.
union Value {
    long double long_double;
    double real;
    int32_t integer;
};

// A printf conversion of one column: "%<width>.<precision><conversion>".
struct PrintfConversion {
    char conversion;  // 'e', 'f' or 'd'
    int width;        // 0: none
    int precision;    // -1: none
};

// The conversion spelled by a printf format such as "%15.8e" or "%20.9Lf".
constexpr PrintfConversion parse_format(const char* format)
{
    PrintfConversion parts{0, 0, -1};
    const char* c = format;
    if (*c == '%')
        ++c;
    while (*c >= '0' && *c <= '9')
        parts.width = parts.width * 10 + (*c++ - '0');
    if (*c == '.') {
        ++c;
        parts.precision = 0;
        while (*c >= '0' && *c <= '9')
            parts.precision = parts.precision * 10 + (*c++ - '0');
    }
    if (*c == 'L')
        ++c;
    parts.conversion = *c;
    return parts;
}

struct Column {
    const char* name;       // as --column-names shows it, without the unit
    const char* unit;       // "" when the value has none (or the product names none)
    ValueType type;
    const char* format;     // the column's printf format in the table
    int blanks_before;      // blanks that stand before it in a table line
    bool unit_in_heading;   // --column-names shows "name[unit]"
    PrintfConversion conversion;  // parse_format(format)
};

constexpr Column column(const char* name, const char* unit, ValueType type, const char* format,
                        int blanks_before, bool unit_in_heading = true)
{
    return Column{name, unit, type, format, blanks_before, unit_in_heading, parse_format(format)};
}

// ---------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------

// What a line of a conversion tells.  Every failure kind counts towards the
// exit status; the others do not.
enum class MessageKind {
    kInformation,       // report and progress lines (standard output)
    kWarning,           // "MESSAGE: " lines and other notes (standard output)
    kNotice,            // a note on standard error ("MESSAGE: header filename ...")
    kParserMessage,     // libxml2's own text, as it comes (standard error)
    // Failures ("TAIHEN: ", standard error):
    kCannotOpen,
    kReadError,
    kParseFailure,
    kCannotCreate,
    kWriteError,
    kBadEpoch,
    kNoProductSection,
    kUnderivableName,
    kOutOfMemory,
    kAttributeTooLong,
    kNoInput,
    kInterrupted,
};

constexpr bool is_failure(MessageKind kind)
{
    return kind >= MessageKind::kCannotOpen;
}

// Hears every line a conversion prints, exactly as the program prints it
// ("TAIHEN: ...\n", "MESSAGE: ...\n", "     output to: ...\n"); libxml2's
// own messages may come in pieces.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void report(MessageKind kind, const std::string& line) = 0;
};

// printf into a std::string.
std::string format_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// Products
// ---------------------------------------------------------------------------

// The records of every product and the header's epoch reference: one value
// per conversion (data_handling).
struct ProductRecords;

// What a product's operations may do besides changing their records.
class RecordOutput {
public:
    virtual void report(MessageKind kind, const std::string& line) = 0;
    // Whether document bytes have somewhere to go.
    virtual bool takes_documents() = 0;
    virtual void document_bytes(const char* data, std::size_t size) = 0;

protected:
    ~RecordOutput() = default;
};

// Attributes of one element of a product's records that reach the record.
struct AttributeRoute {
    CodePath element;              // the element open, nothing open below it
    const char* names[2];          // attributes read; the second may be null
    // Takes the tag path and the attributes' values (null: not there).
    void (*put)(ProductRecords& records, const TagPath& tags, const char* const* values);
};

// Everything the program knows of one product type.  Paths are tag paths
// from depth 0.
struct ProductDescription {
    std::size_t index;         // its place in kProductDescriptions
    const char* name;          // fills the product slot of output names
    ProductBit bit;            // value of `product` while its section is open
    const char* extension;     // fills the extension slot
    CodePath section;          // the product element open, nothing below
    CodePath list;             // its list open, nothing below: a record just closed
    CodePath record;           // inside one of its records: where its text goes
    const AttributeRoute* attributes;
    std::size_t attribute_count;
    // Fewest open elements under which its text setter can use (or report)
    // a text: text with fewer elements open around it is passed over.
    int32_t fewest_open_for_text;
    // The table's columns in order (none for documents).
    const Column* columns;
    std::size_t column_count;
    void (*initialize)(ProductRecords& records);  // back to the fill values
    // Takes text in a record.
    void (*put_text)(ProductRecords& records, const TagPath& tags, const char* text,
                     RecordOutput& output);
    // The finished record's values in column order (tables only).
    void (*values)(const ProductRecords& records, Value* out);
    // Takes a text in parts as they come (`last`: the text has ended), for
    // products whose texts may be long (documents); null: the parts are
    // joined and go to put_text.
    void (*put_text_part)(ProductRecords& records, const TagPath& tags, const char* part,
                          std::size_t length, bool last, RecordOutput& output) = nullptr;

    bool is_documents() const { return column_count == 0; }
};

// The descriptions, in the order in which section starts are tested and
// records are reset; each one's `index` is its place here.
struct ProductList {
    const ProductDescription* const* items;
    std::size_t count;

    const ProductDescription* const* begin() const { return items; }
    const ProductDescription* const* end() const { return items + count; }
    std::size_t size() const { return count; }
    const ProductDescription* operator[](std::size_t i) const { return items[i]; }
};
extern const ProductList kProductDescriptions;

// The description named `name` ("SST_PKI_2"), or null.
const ProductDescription* find_product(const std::string& name);

// Most columns of any product.
std::size_t most_columns();

// A conversion's records, made at its fill values.
struct ProductRecordsFree {
    void operator()(ProductRecords* records) const;
};
using ProductRecordsPtr = std::unique_ptr<ProductRecords, ProductRecordsFree>;
ProductRecordsPtr make_product_records();

// What every input starts from: records at their fill values (in the order
// initialize_EGG_NOM_2_data, ..., initialize_SST_PRP_2_data,
// HDR_initialize_SST_PRM_2_data), no epoch reference.
void start_input(ProductRecords& records);

// Header epoch setter: acts only when `flags` is kAllHeaderElements.
void HDR_PutToStruct_SST_PRM_2(ProductRecords& records, int flags, const char* text,
                               RecordOutput& output);

// ---------------------------------------------------------------------------
// Output of a conversion
// ---------------------------------------------------------------------------

// Where a conversion's sections, records and documents go.  `output` is
// the name the run's output naming gives (see OutputNames), empty where an
// event opens nothing.
class Sink {
public:
    virtual ~Sink() = default;
    // A section of `p` starts; `output` is empty when each of its records
    // goes to an output of its own.
    virtual void begin_section(const ProductDescription& p, const std::string& output) = 0;
    // A record of a table has ended: column_count values in column order.
    virtual void record(const ProductDescription& p, const Value* values) = 0;
    // A document record starts; `output` is its own output's name, or empty.
    virtual void begin_document(const ProductDescription& p, const std::string& output) = 0;
    // Whether document bytes of `p` have somewhere to go now; when not,
    // the text of the document is passed over.
    virtual bool takes_documents(const ProductDescription& p) = 0;
    virtual void document_bytes(const ProductDescription& p, const char* data, std::size_t size) = 0;
    virtual void end_document(const ProductDescription& p) = 0;
    virtual void end_section(const ProductDescription& p) = 0;

    // A conversion may be tried a faster way first and, where that way
    // cannot do it as the reader would, made again from the start.  A sink
    // that can take back what such an attempt gave says so; the others only
    // ever hear the reader's conversion.
    virtual bool supports_attempts() const { return false; }
    // An attempt starts: until it ends, the sink's own lines go to
    // `reporter` (which holds them back), and everything can be taken back.
    virtual void begin_attempt(Reporter& reporter) { (void)reporter; }
    // The attempt gave the conversion: make it final (outputs in place,
    // nothing left open).  False when that failed (and was reported).
    virtual bool keep_attempt() { return true; }
    // The attempt is thrown away: back to the state before it began.
    virtual void drop_attempt() {}
};

// How output names are made: the part before the product name, and the
// part between it and the extension (ending in ".").
struct OutputNames {
    std::string before_product;
    std::string before_extension;

    std::string file_for(const ProductDescription& p) const;
    // The output of one record: "_<number>" before the extension's ".".
    std::string file_for_record(const ProductDescription& p, int number) const;
};

// Hears how the reading of a product file goes, for a progress line.
class ReadProgress;
class ProgressWatcher {
public:
    virtual ~ProgressWatcher() = default;
    // A product file of `file_size` bytes (0: not known) is about to be
    // read: the listener to tell, or null.
    virtual ReadProgress* start(uint64_t file_size) = 0;
    virtual void finish(uint64_t bytes_read) = 0;
};

// Which source of events drives a product pass.
enum class EventSource {
    kAuto,        // the push parser for regular files, where the sink allows
                  // it, the reader otherwise and whenever the push parser
                  // cannot do as the reader would (L2XML2ASCII_PATH=reader
                  // or =fast in the environment chooses instead)
    kReader,      // libxml2's streaming reader alone
    kPushParser,  // the push parser first for any input, then the reader
};

// What became of libxml2's allocations, for a program that counts them (a
// library caller's libxml2 allocates as it always does).
class MemoryWatch {
public:
    virtual ~MemoryWatch() = default;
    struct Events {
        bool over_cap = false;  // an allocation was refused past the cap
        bool failed = false;    // the system refused one
    };
    // Since the last call.
    virtual Events take_events() = 0;
    virtual std::size_t cap_mib() const = 0;
};

// One input's conversion.
struct ConversionOptions {
    std::string product_file;   // as opened: plain, gzip, xz, bzip2 or zstd
    std::string header_file;    // empty: none (the epoch reference stays 0)
    OutputNames names;          // fills the names handed to the sink
    bool split_documents = false;  // every document into an output of its own
    int documents_before = 0;   // documents numbered before this input
    ProgressWatcher* progress = nullptr;  // null: no progress is told
    MemoryWatch* memory = nullptr;        // null: libxml2's allocations not watched
    // Set (from any thread): the conversion stops at the next element.
    const std::atomic<bool>* stop = nullptr;
    EventSource source = EventSource::kAuto;
};

struct ConversionOutcome {
    int failures = 0;     // failures reported by the conversion
    int documents = 0;    // documents met (numbers the split outputs)
    bool stopped = false; // ended early through `stop`
    bool pushed = false;  // the push parser's pass gave the result
};

// Converts one input (its header pass, then its product pass) into `sink`,
// telling every line to `reporter`.  Does nothing process-wide: libxml2's
// error handler is set for this thread and restored before it returns.
// Conversions of different inputs may run in different threads at once.
ConversionOutcome convert_input(const ConversionOptions& options, Sink& sink, Reporter& reporter);

// ---------------------------------------------------------------------------
// Collecting in memory
// ---------------------------------------------------------------------------

// The sections of one conversion kept in memory: for each product met, its
// values column by column (a table) or its documents (one string each).
class ColumnSink : public Sink {
public:
    struct Table {
        const ProductDescription* product = nullptr;
        std::vector<std::vector<Value>> columns;  // column_count columns
        std::vector<std::string> documents;       // documents' bytes, in order
        std::size_t rows() const { return columns.empty() ? 0 : columns[0].size(); }
    };

    // The table of `p`, or null when no section of it was met.
    const Table* table(const ProductDescription& p) const;
    // The products met, in the order their first section started.
    const std::vector<const ProductDescription*>& products() const { return order_; }

    void begin_section(const ProductDescription& p, const std::string& output) override;
    void record(const ProductDescription& p, const Value* values) override;
    void begin_document(const ProductDescription& p, const std::string& output) override;
    bool takes_documents(const ProductDescription&) override { return true; }
    void document_bytes(const ProductDescription& p, const char* data, std::size_t size) override;
    void end_document(const ProductDescription&) override {}
    void end_section(const ProductDescription&) override {}

    // What an attempt added is dropped again.
    bool supports_attempts() const override { return true; }
    void begin_attempt(Reporter&) override;
    void drop_attempt() override;

private:
    Table& table_of(const ProductDescription& p);

    // What was kept when the attempt began: products met, and each
    // table's rows and documents.
    std::size_t products_before_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> sizes_before_;

    std::vector<Table> tables_ = std::vector<Table>(kProductDescriptions.size());
    std::vector<const ProductDescription*> order_;
};

// Keeps every line with its kind.
class CollectingReporter : public Reporter {
public:
    struct Line {
        MessageKind kind;
        std::string text;
    };
    void report(MessageKind kind, const std::string& line) override { lines_.push_back({kind, line}); }
    const std::vector<Line>& lines() const { return lines_; }

private:
    std::vector<Line> lines_;
};

#endif  // L2XML2ASCII_H
