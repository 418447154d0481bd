// The conversion driver: command line and file naming, the header epoch pass,
// the product pass over the streaming XML reader, and the routing of
// attributes and text into the product records.
#include "l2xml2ascii.h"
#include "input.h"
#include "xml_memory.h"
#include "progress.h"
#include "reader.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <getopt.h>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef L2_VERSION
#define L2_VERSION "unknown"
#endif

namespace {

// Node types of the streaming reader that the header pass acts on.
constexpr int kElementStart = XML_READER_TYPE_ELEMENT;
constexpr int kText = XML_READER_TYPE_TEXT;
constexpr int kCdata = XML_READER_TYPE_CDATA;
constexpr int kSignificantWhitespace = XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
constexpr int kElementEnd = XML_READER_TYPE_END_ELEMENT;

// Attributes read from one element at most (see AttributeRoute).
constexpr std::size_t kAttributesPerElement = sizeof AttributeRoute::names / sizeof(const char*);
static_assert(kAttributesPerElement == 2, "route_attributes reads two");

// ---------------------------------------------------------------------------
// Tag paths

TagPath& TAG_flags = run_state.TAG_flags;  // the run's tag path, by its own name

// The tag path shows `path` while `open_elements` elements are open.  The
// open elements hold non-zero entries from depth 0 (codes are never 0) and
// every entry below them is 0, so a closed path can only show while exactly
// the elements of its non-zero entries are open: most nodes are settled by
// that count alone.
bool shows(const CodePath& path, int open_elements)
{
    const bool possible = !path.closed || path.length == static_cast<std::size_t>(open_elements) + 1;
    assert(possible || !tag_path_shows(TAG_flags, path));
    return possible && tag_path_shows(TAG_flags, path);
}

// Bit n set: a closed path n entries long is among those `path_of` gives.
template <typename PathOf>
uint32_t closed_path_lengths(PathOf path_of)
{
    uint32_t lengths = 0;
    for (const ProductDescription* p : kProductDescriptions)
        path_of(*p, lengths);
    return lengths;
}

// Lengths of the products' section paths.
uint32_t section_path_lengths()
{
    static const uint32_t lengths = closed_path_lengths(
        [](const ProductDescription& p, uint32_t& bits) { bits |= uint32_t{1} << p.section.length; });
    return lengths;
}

// Lengths of the paths of elements whose attributes are read.
uint32_t attribute_path_lengths()
{
    static const uint32_t lengths =
        closed_path_lengths([](const ProductDescription& p, uint32_t& bits) {
            for (std::size_t i = 0; i < p.attribute_count; ++i)
                bits |= uint32_t{1} << p.attributes[i].element.length;
        });
    return lengths;
}

// Whether any closed path of the given lengths could show while
// `open_elements` elements are open (see shows()).
bool could_show_closed(uint32_t lengths, int open_elements)
{
    return open_elements >= 0 && open_elements < 31 && (lengths >> (open_elements + 1) & 1) != 0;
}

// The open product's description and bit change together.
void set_open_product(const ProductDescription* p)
{
    run_state.open_product = p;
    run_state.product = p != nullptr ? p->bit : kNoProduct;
}

OutputFile& stream_of(const ProductDescription& p)
{
    return run_state.*(p.stream);
}

// ---------------------------------------------------------------------------
// Routing

// Attributes of the element just started that reach the open product's record.
void route_attributes(xmlTextReaderPtr reader, int open_elements)
{
    const ProductDescription* p = run_state.open_product;
    if (p == nullptr || p->attribute_count == 0 ||
        !could_show_closed(attribute_path_lengths(), open_elements))
        return;
    for (std::size_t i = 0; i < p->attribute_count; ++i) {
        const AttributeRoute& route = p->attributes[i];
        if (!shows(route.element, open_elements))
            continue;
        const AttributeValue first(reader, route.names[0]);
        const AttributeValue second(reader, route.names[1]);
        const char* texts[kAttributesPerElement] = {first.text(), second.text()};
        route.put(TAG_flags, texts);
    }
}

// Text is routed when it sits inside a record of the open product, deep
// enough for the setter to use it, and is not white space only, which is what
// the reader calls white space.
void route_text(const xmlChar* text, int open_elements)
{
    const ProductDescription* p = run_state.open_product;
    if (p != nullptr && open_elements >= p->fewest_open_for_text &&
        tag_path_shows(TAG_flags, p->record) && !is_xml_white_space(text))
        p->put_text(TAG_flags, as_text(text));
}

// ---------------------------------------------------------------------------
// File naming

// Where the output files go: the working directory and the input name's
// prefix before the product name, the input name's tail before the extension.
struct OutputNames {
    std::string before_product;
    std::string before_extension;

    std::string file_for(const ProductDescription& p) const
    {
        return before_product + p.name + before_extension + p.extension;
    }
    // The file of one record: "_<number>" before the extension's ".".
    std::string file_for_record(const ProductDescription& p, int number) const
    {
        const std::string before_dot = before_extension.substr(0, before_extension.size() - 1);
        return before_product + p.name + before_dot + "_" + std::to_string(number) + "." + p.extension;
    }
};

// ---------------------------------------------------------------------------
// Product pass

FileIdentity identity_of(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return FileIdentity{};
    return FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// Opens an output file of product `p`; false when it cannot be had.  A file
// this run has opened before is added to, any other is created anew (a table
// then begins with its column names when they were asked for); a file that
// is the product or the header file being read is never touched.
bool open_output(const ProductDescription& p, OutputFile& stream, const std::string& file)
{
    const FileIdentity existing = identity_of(file);
    const char* input_kind = same_file(existing, run_state.product_identity) ? "product"
                             : same_file(existing, run_state.header_identity) ? "header"
                                                                              : nullptr;
    if (input_kind != nullptr) {
        stream.close();
        report_failure("cannot create %s: it is the %s file\n", file.c_str(), input_kind);
        return false;
    }
    std::vector<std::string>& opened = run_state.outputs_opened;
    const bool opened_before = std::find(opened.begin(), opened.end(), file) != opened.end();
    if (!stream.open(file, opened_before ? "a" : "w")) {
        report_failure("cannot create %s: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    if (!opened_before) {
        opened.push_back(file);
        if (run_state.column_names && p.column_names != nullptr)
            stream.write(std::string("# ") + p.column_names + "\n");
    }
    return true;
}

// Announces the output file of `p` and has its stream write there.
void output_to(const ProductDescription& p, const std::string& file)
{
    report_line("     output to: %s\n", file.c_str());
    // A section that starts again while its file is open goes on writing it.
    OutputFile& stream = stream_of(p);
    if (!stream.is_open() || stream.path() != file)
        open_output(p, stream, file);
}

// Whether each record of `p` goes into a file of its own.
bool file_per_record(const ProductDescription& p)
{
    return p.file_per_record && run_state.split_documents;
}

void start_section(const ProductDescription& p, const OutputNames& names)
{
    set_open_product(&p);
    ++run_state.sections_started;
    if (!file_per_record(p))  // otherwise each record opens its own file
        output_to(p, names.file_for(p));
}

void element_start(xmlTextReaderPtr reader, const xmlChar* name, int depth, bool empty,
                   const OutputNames& names, TagCodeCache& codes)
{
    // An empty element leaves the tag path alone and starts no section.
    if (!empty) {
        if (depth >= 0 && depth < kTagDepths)
            TAG_flags[depth] = codes.code(reader, name, depth);
        else
            report_line("MESSAGE: something went wrong -- level > 9 reached!\n");

        if (could_show_closed(section_path_lengths(), depth + 1)) {
            for (const ProductDescription* p : kProductDescriptions) {
                if (shows(p->section, depth + 1)) {
                    if (run_state.product != p->bit)
                        start_section(*p, names);
                    break;
                }
            }
        }
        const ProductDescription* p = run_state.open_product;
        if (p != nullptr && file_per_record(*p) && shows(nothing_below(p->record), depth + 1))
            output_to(*p, names.file_for_record(*p, ++run_state.documents_started));
    }
    route_attributes(reader, empty ? depth : depth + 1);
}

void element_end(int depth)
{
    if (depth >= 0 && depth < kTagDepths)
        TAG_flags[depth] = 0;
    else
        report_line("MESSAGE: something went wrong - level > 9 reached!\n");

    const ProductDescription* p = run_state.open_product;
    if (p == nullptr)
        return;
    if (shows(p->list, depth)) {  // a record has ended
        if (p->write != nullptr)
            p->write(stream_of(*p));
        else if (file_per_record(*p))
            stream_of(*p).close();
    } else if (shows(p->section, depth)) {
        report_line("          ... finished writing %s.\n", p->name);
        stream_of(*p).close();
        set_open_product(nullptr);
    }
}

// Product files from this size on show their progress on a terminal.
constexpr uint64_t kProgressFileSize = uint64_t{64} << 20;

// libxml2's messages while a progress line is drawn: the line goes first.
void print_libxml2_message(void*, const char* format, ...)
{
    clear_status_line();
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

// While it lives, libxml2's messages take the progress line away first.
struct Libxml2MessagesAroundStatusLine {
    Libxml2MessagesAroundStatusLine() { xmlSetGenericErrorFunc(nullptr, print_libxml2_message); }
    ~Libxml2MessagesAroundStatusLine() { xmlSetGenericErrorFunc(nullptr, nullptr); }
    Libxml2MessagesAroundStatusLine(const Libxml2MessagesAroundStatusLine&) = delete;
    Libxml2MessagesAroundStatusLine& operator=(const Libxml2MessagesAroundStatusLine&) = delete;
};

// Whether a pass over `input` shows its progress, as the run chose.
bool shows_progress(const XmlInput& input)
{
    switch (run_state.progress) {
    case ProgressChoice::kOn:
        return true;
    case ProgressChoice::kOff:
        return false;
    case ProgressChoice::kAuto:
        break;
    }
    return input.file_size() >= kProgressFileSize && isatty(STDERR_FILENO) == 1;
}

// Reads the XML file at `path` node by node, calling `visit` with the reader
// on every node, and reports a file that cannot be opened or read to its
// end.  True when it was read to its end.  `with_progress`: the pass may
// show its progress (see shows_progress).
template <typename Visit>
bool walk_xml_file(const std::string& path, Visit visit, bool with_progress = false)
{
    XmlInput input;  // outlives the reader that reads from it
    xml_memory::take_events();
    if (!input.open(path)) {
        report_failure("Unable to open %s\n", path.c_str());
        return false;
    }
    std::optional<ProgressMeter> meter;
    std::optional<Libxml2MessagesAroundStatusLine> messages;
    if (with_progress && shows_progress(input)) {
        const bool on_terminal = isatty(STDERR_FILENO) == 1;
        meter.emplace(input.file_size(), on_terminal);
        input.watch(&*meter);
        if (on_terminal)
            messages.emplace();
    }
    XmlReader reader(xmlReaderForIO(XmlInput::read, nullptr, &input, path.c_str(), nullptr, 0));
    if (!reader) {  // the file is open: only memory can have failed
        report_failure("out of memory reading %s\n", path.c_str());
        return false;
    }
    int result;
    while ((result = xmlTextReaderRead(reader.get())) == 1)
        visit(reader.get());
    reader.reset();
    input.finish();
    if (meter)
        meter->finish(input.file_bytes_read());
    const xml_memory::Events memory = xml_memory::take_events();
    if (memory.over_cap)
        report_failure("%s needs more than %zu MiB of memory\n", path.c_str(), xml_memory::cap_mib());
    else if (input.out_of_memory() || memory.failed)
        report_failure("out of memory reading %s\n", path.c_str());
    else if (input.failed())
        report_failure("read error on %s: %s\n", path.c_str(), input.error());
    if (result != 0 || input.failed() || memory.over_cap || memory.failed) {
        report_failure("%s : failed to parse\n", path.c_str());
        return false;
    }
    return true;
}

void product_pass(const OutputNames& names)
{
    TAG_flags.fill(0);
    set_open_product(nullptr);
    run_state.sections_started = 0;
    run_state.product_identity = identity_of(run_state.product_file);
    TagCodeCache codes;
    ReaderNodes nodes;
    const bool read = walk_xml_file(run_state.product_file, [&names, &codes, &nodes](xmlTextReaderPtr reader) {
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
    }, true);
    set_open_product(nullptr);
    if (read && run_state.sections_started == 0)
        report_failure("no product section in %s\n", run_state.product_file.c_str());
}

// ---------------------------------------------------------------------------
// Header epoch pass

void header_pass()
{
    run_state.HDR_TAG_flags = 0;
    walk_xml_file(run_state.header_file, [](xmlTextReaderPtr reader) {
        int32_t& HDR_TAG_flags = run_state.HDR_TAG_flags;
        const xmlChar* node_name = xmlTextReaderConstName(reader);
        const char* name = node_name != nullptr ? as_text(node_name) : "--";
        const int type = xmlTextReaderNodeType(reader);
        switch (type) {
        case kElementStart:
            if (xmlTextReaderIsEmptyElement(reader) == 0)
                HDR_TAG_flags |= HDR_GetNodeTagfromFile(name);
            break;
        case kText:
            if ((HDR_TAG_flags & kAllHeaderElements) == kAllHeaderElements) {
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
    std::vector<std::string> inputs;  // --if, -i, then the other arguments
    std::string header;               // --hdr
    std::string directory;            // --dir, -d
    std::string output_directory;     // --out-dir
};

enum OptionCode {
    kOptHelp = 256,
    kOptVersion,
    kOptOutDir,
    kOptColumnNames,
    kOptSplitDocuments,
    kOptProgress,
    kOptNoProgress,
    kOptMaxMemory,
};

void print_usage()
{
    std::printf(
        "Usage: l2xml2ascii [OPTION]... [--if] FILE [FILE...]\n"
        "Converts Level-2 product XML files into one ASCII table per product section\n"
        "(EGG_NOM_2, SST_PCV_2, SST_PKI_2, SST_PRD_2, SST_PRM_2) and writes the\n"
        "documents of an SST_PRP_2 section into one file.  Several files are converted\n"
        "one after the other, as by one run each.\n"
        "\n"
        "  -i, --if FILE      product file to convert (first of the files)\n"
        "      --hdr FILE     header file holding the epoch reference of rotation times\n"
        "  -d, --dir DIR/     working directory of the input, header and output files;\n"
        "                     put straight in front of every relative name, so end it\n"
        "                     with '/'\n"
        "      --out-dir DIR  write every output file into DIR instead\n"
        "      --column-names begin every table created with a line naming its\n"
        "                     columns: '# ' and the names (units in brackets)\n"
        "      --split-documents\n"
        "                     write every PDF_File into a file of its own: the k-th\n"
        "                     document of the run gets '_k' before '.pdf'\n"
        "      --progress     show the progress of every product pass on standard\n"
        "                     error (one line a second when it is not a terminal)\n"
        "      --no-progress  never show it (shown by default on a terminal for\n"
        "                     product files of 64 MiB or more)\n"
        "      --max-memory=MiB\n"
        "                     stop a pass whose XML parsing needs more memory than\n"
        "                     this (default 256)\n"
        "      --help         show this help and exit\n"
        "      --version      show the version and exit\n"
        "\n"
        "Output names: the file's own name (after its last '/') with its product type\n"
        "field (characters 9 to 17) replaced by the product name, and everything from\n"
        "its first '.' on by '.ascii' or '.pdf'; the outputs lie beside the input,\n"
        "or in the --out-dir folder.  An output is never written over the product or\n"
        "header file being read.\n"
        "Exit status: 0 when all went well, 1 when a failure was reported for any\n"
        "file, 2 for a wrong command line, 255 when no input file name was given.\n");
}

// What parse_options found.
enum class Parsed { kRun, kDone, kWrong };

// Parses the command line into `options`; kDone after help and version,
// kWrong after the option parser has said what is wrong.
Parsed parse_options(int argc, char** argv, Options& options)
{
    // "h" and "hd" name --hdr exactly, as they did before --help came: an
    // exact name wins over the prefixes of "help" and "hdr".
    static const struct option long_options[] = {
        {"if", required_argument, nullptr, 'i'},
        {"hdr", required_argument, nullptr, 'H'},
        {"h", required_argument, nullptr, 'H'},
        {"hd", required_argument, nullptr, 'H'},
        {"dir", required_argument, nullptr, 'd'},
        {"out-dir", required_argument, nullptr, kOptOutDir},
        {"column-names", no_argument, nullptr, kOptColumnNames},
        {"split-documents", no_argument, nullptr, kOptSplitDocuments},
        {"progress", no_argument, nullptr, kOptProgress},
        {"no-progress", no_argument, nullptr, kOptNoProgress},
        {"max-memory", required_argument, nullptr, kOptMaxMemory},
        {"help", no_argument, nullptr, kOptHelp},
        {"version", no_argument, nullptr, kOptVersion},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0;  // the option parser starts afresh with every run
    std::string input;
    int code;
    while ((code = getopt_long(argc, argv, "i:d:", long_options, nullptr)) != -1) {
        switch (code) {
        case 'i':
            input = optarg;
            break;
        case 'H':
            options.header = optarg;
            break;
        case 'd':
            options.directory = optarg;
            break;
        case kOptOutDir:
            options.output_directory = optarg;
            break;
        case kOptColumnNames:
            run_state.column_names = true;
            break;
        case kOptSplitDocuments:
            run_state.split_documents = true;
            break;
        case kOptProgress:
            run_state.progress = ProgressChoice::kOn;
            break;
        case kOptNoProgress:
            run_state.progress = ProgressChoice::kOff;
            break;
        case kOptMaxMemory:
            if (!xml_memory::set_cap_mib(optarg)) {
                std::fprintf(stderr, "l2xml2ascii: --max-memory takes a whole number of MiB, not '%s'\n",
                             optarg);
                return Parsed::kWrong;
            }
            break;
        case kOptHelp:
            print_usage();
            return Parsed::kDone;
        case kOptVersion:
            std::printf("l2xml2ascii %s\n", L2_VERSION);
            return Parsed::kDone;
        default:  // the option parser has said what is wrong
            return Parsed::kWrong;
        }
    }
    // An empty name counts as none.
    if (!input.empty())
        options.inputs.push_back(input);
    for (int i = optind; i < argc; ++i)
        if (argv[i][0] != '\0')
            options.inputs.push_back(argv[i]);
    return Parsed::kRun;
}

// Closes every output file still open, checking that all was written.
void close_outputs()
{
    for (const ProductDescription* p : kProductDescriptions)
        stream_of(*p).close();
}

// Positions 0-7 of a file's own name are kept, 8-16 are the product type
// field, and from 17 up to the first "." comes the tail that is kept.
constexpr std::size_t kNamePrefixLength = 8;
constexpr std::size_t kNameTailStart = 17;

// `name` as it is opened: the working directory in front of a relative name.
std::string in_directory(const std::string& directory, const std::string& name)
{
    return !name.empty() && name[0] == '/' ? name : directory + name;
}

// Converts one input file: the report lines, the header pass and the
// product pass, as one run of its own.
void convert(const std::string& input, const Options& options)
{
    std::printf("in_filname            : %s\n", input.c_str());
    if (!options.header.empty())
        std::printf("header_filname        : %s\n", options.header.c_str());
    else
        std::fputs("MESSAGE: header filename not specified - setting "
                   "SST_PRM.Epoch_Information to 0.0!\n",
                   stderr);

    // The naming positions count in the file's own name; the folder part
    // (through the last "/") stays in front of the outputs.
    const std::size_t slash = input.rfind('/');
    const std::size_t own_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = input.substr(0, own_start);
    const std::string own_name = input.substr(own_start);
    const int32_t first_dot = strpos(own_name.c_str(), ".");
    if (first_dot < static_cast<int32_t>(kNameTailStart) - 1) {
        report_failure("cannot derive output file names from %s\n", input.c_str());
        return;
    }
    const std::string name_prefix = own_name.substr(0, kNamePrefixLength);
    const std::string name_tail = own_name.substr(
        kNameTailStart, static_cast<std::size_t>(first_dot) - (kNameTailStart - 1));
    std::printf("output base file name : %s%%s%s%%s\n", name_prefix.c_str(), name_tail.c_str());
    std::printf("working directory     : %s\n", options.directory.c_str());

    start_input();
    run_state.header_file.clear();
    run_state.header_identity = FileIdentity{};
    if (!options.header.empty()) {
        run_state.header_file = in_directory(options.directory, options.header);
        run_state.header_identity = identity_of(run_state.header_file);
        header_pass();
    }

    std::string output_folder;
    if (!options.output_directory.empty()) {
        output_folder = options.output_directory;
        if (output_folder.back() != '/')
            output_folder += '/';
    } else {
        output_folder = in_directory(options.directory, folder);
    }
    const OutputNames names{output_folder + name_prefix, name_tail};
    run_state.product_file = in_directory(options.directory, input);
    product_pass(names);
    close_outputs();
}

}  // namespace

namespace {

int run_options(int argc, char** argv)
{
    Options options;
    Parsed parsed;
    try {
        parsed = parse_options(argc, argv, options);
    } catch (const std::bad_alloc&) {
        report_failure("out of memory\n");
        return kExitFailure;
    }
    switch (parsed) {
    case Parsed::kRun:
        break;
    case Parsed::kDone:
        return kExitOk;
    case Parsed::kWrong:
        std::fputs("Try 'l2xml2ascii --help' for more information.\n", stderr);
        return kExitUsageError;
    }
    if (options.inputs.empty()) {
        report_failure("please specify input filename!\n");
        return kExitNoInput;
    }
    for (const std::string& input : options.inputs) {
        try {
            convert(input, options);
        } catch (const std::bad_alloc&) {
            // Whatever was being built is dropped with its file; what was
            // written before stays.
            report_failure("out of memory converting %s\n", input.c_str());
            close_outputs();
        }
    }
    xmlCleanupParser();
    return failures_reported() > 0 ? kExitFailure : kExitOk;
}

}  // namespace

int run(int argc, char** argv)
{
    prepare_standard_streams();
    reset_run_state();
    if (!xml_memory::thread_state_ready()) {
        report_failure("out of memory\n");
        return kExitFailure;
    }
    const int status = run_options(argc, argv);
    check_standard_output();
    // A failure to write standard output decides the status too, unless the
    // command line was wrong or named no input.
    return status == kExitOk && failures_reported() > 0 ? kExitFailure : status;
}

// Weak, so that a program that brings its own entry (the fuzzing
// harnesses, whose entry is libFuzzer's) can link the driver and call run().
__attribute__((weak)) int main(int argc, char** argv)
{
    xml_memory::install();  // the program's own: never a library caller's
    return run(argc, argv);
}
