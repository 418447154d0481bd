// The command-line program: the command line, output naming, the text
// outputs (TextSink) and the printed lines (PrintingReporter) around the
// conversion of each input; and what only a program may do to its process:
// signals, standard descriptors, libxml2's teardown.
#include "l2xml2ascii.h"
#include "helpers.h"
#include "numtext.h"
#include "program.h"
#include "xml_memory.h"
#include "progress.h"

#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iterator>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <new>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef L2_VERSION
#define L2_VERSION "unknown"
#endif

// ---------------------------------------------------------------------------
// Printed lines

void StatusLine::show(const std::string& text, bool on_terminal)
{
    if (!on_terminal) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    // A line that wrapped could not be drawn over: cut to the terminal's width.
    std::string line = text;
    struct winsize terminal;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &terminal) == 0 && terminal.ws_col > 0 &&
        line.size() >= terminal.ws_col)
        line.resize(terminal.ws_col - 1u);
    // Over the line shown before, blanking what the new one leaves over.
    const int blanks = width_ > line.size() ? static_cast<int>(width_ - line.size()) : 0;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), blanks, "");
    if (blanks > 0)
        std::fprintf(stderr, "\r%s", line.c_str());
    width_ = line.size();
}

void StatusLine::clear()
{
    if (width_ == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    width_ = 0;
}

void PrintingReporter::report(MessageKind kind, const std::string& line)
{
    if (is_failure(kind))
        ++failures_;
    status_line_.clear();
    const bool to_output = kind == MessageKind::kInformation || kind == MessageKind::kWarning;
    std::fwrite(line.data(), 1, line.size(), to_output ? stdout : stderr);
}

// ---------------------------------------------------------------------------
// Progress

namespace {

// Product files from this size on show their progress on a terminal.
constexpr uint64_t kProgressFileSize = uint64_t{64} << 20;

}  // namespace

ReadProgress* ProgressChooser::start(uint64_t file_size)
{
    const bool on_terminal = isatty(STDERR_FILENO) == 1;
    bool shown = false;
    switch (choice_) {
    case ProgressChoice::kOn:
        shown = true;
        break;
    case ProgressChoice::kOff:
        break;
    case ProgressChoice::kAuto:
        shown = file_size >= kProgressFileSize && on_terminal;
        break;
    }
    meter_.reset();
    if (shown)
        meter_.reset(new ProgressMeter(line_, file_size, on_terminal));
    return meter_.get();
}

void ProgressChooser::finish(uint64_t bytes_read)
{
    if (meter_)
        meter_->finish(bytes_read);
    meter_.reset();
}

// ---------------------------------------------------------------------------
// Text outputs

namespace {

// Builds one table line column by column with the exact printf-equivalent
// formatters and hands it to the output file in one piece.  A line that
// would outgrow the buffer (huge values in fixed notation) is passed on in
// parts, so any value fits.
class TableLine {
public:
    explicit TableLine(OutputFile& out) : out_(out) {}

    void put(const Column& c, const Value& v)
    {
        blanks(c.blanks_before);
        const PrintfConversion& s = c.conversion;
        switch (s.conversion) {
        case 'e':
            room(format_e_max_length(s.width, s.precision));
            end_ = format_e(end_, v.real, s.width, s.precision);
            break;
        case 'f':
            room(format_f_max_length(s.width, s.precision));
            // A long double time holds a double's value: as text it is that
            // double's.
            end_ = format_f(end_, c.type == ValueType::kLongDouble ? static_cast<double>(v.long_double)
                                                                   : v.real,
                            s.width, s.precision);
            break;
        default:  // 'd'
            room(format_d_max_length(s.width));
            end_ = format_d(end_, v.integer, s.width);
            break;
        }
    }
    // Ends the line and writes it.
    void finish()
    {
        room(1);
        *end_++ = '\n';
        flush();
    }

private:
    void blanks(int count)
    {
        room(count);
        for (int i = 0; i < count; ++i)
            *end_++ = ' ';
    }
    void room(int size)
    {
        if (buffer_ + sizeof buffer_ - end_ < size)
            flush();
    }
    void flush()
    {
        out_.write(buffer_, static_cast<std::size_t>(end_ - buffer_));
        end_ = buffer_;
    }

    OutputFile& out_;
    char buffer_[2048];
    char* end_ = buffer_;
};

FileIdentity identity_of(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return FileIdentity{};
    return FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

FileIdentity identity_of(const OutputFile& file)
{
    FileIdentity id;
    id.known = file.device_and_inode(id.device, id.inode);
    return id;
}

}  // namespace

// One table line of `values` in the columns of `p`.
void OutputToFileASCII(OutputFile& out, const ProductDescription& p, const Value* values)
{
    TableLine line(out);
    for (std::size_t i = 0; i < p.column_count; ++i)
        line.put(p.columns[i], values[i]);
    line.finish();
}

std::string column_heading(const ProductDescription& p)
{
    std::string heading = "#";
    for (std::size_t i = 0; i < p.column_count; ++i) {
        const Column& c = p.columns[i];
        heading += ' ';
        heading += c.name;
        if (c.unit_in_heading && c.unit[0] != '\0')
            heading = heading + "[" + c.unit + "]";
    }
    return heading + "\n";
}

TextSink::TextSink(Reporter& reporter, bool column_names)
    : reporter_(reporter), column_names_(column_names),
      streams_(new OutputFile[kProductDescriptions.size()])
{
    for (std::size_t i = 0; i < kProductDescriptions.size(); ++i)
        streams_[i].set_listener(this);
}

TextSink::~TextSink()
{
    close_all();
}

void TextSink::protect_run_inputs(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        const FileIdentity id = identity_of(file);
        if (id.known)
            run_inputs_.insert(id);
    }
}

void TextSink::start_input(const std::string& given, const std::string& product_file,
                           const std::string& header_file, std::atomic<bool>* abandon)
{
    inputs_given_.push_back(given);
    product_identity_ = identity_of(product_file);
    header_identity_ = header_file.empty() ? FileIdentity{} : identity_of(header_file);
    abandon_ = abandon;
    created_.clear();
}

void TextSink::close_all()
{
    for (std::size_t i = 0; i < kProductDescriptions.size(); ++i)
        streams_[i].close();
}

void TextSink::remove_partial_outputs()
{
    for (std::size_t i = 0; i < kProductDescriptions.size(); ++i)
        streams_[i].discard();
    for (const std::string& file : created_)
        std::remove(file.c_str());
    created_.clear();
}

void TextSink::write_failed(const OutputFile& file, int error)
{
    attempt_failed_ = attempt_reporter_ != nullptr;
    out().report(MessageKind::kWriteError, format_line("TAIHEN: write error on %s: %s\n",
                                                           file.path().c_str(), std::strerror(error)));
}

// Announces the output `file` of `p` and has its stream write there.
void TextSink::output_to(const ProductDescription& p, const std::string& file)
{
    out().report(MessageKind::kInformation, format_line("     output to: %s\n", file.c_str()));
    // A section that starts again while its file is open goes on writing it.
    OutputFile& stream = streams_[p.index];
    if (!stream.is_open() || stream.path() != file)
        open_output(p, stream, file);
}

bool TextSink::refuse(OutputFile& stream, const std::string& file, const std::string& why)
{
    stream.close();
    attempt_failed_ = attempt_reporter_ != nullptr;
    out().report(MessageKind::kCannotCreate,
                     format_line("TAIHEN: cannot create %s: %s\n", file.c_str(), why.c_str()));
    return false;
}

// Opens an output file of product `p`; false when it cannot be had.  A file
// the current input has opened before is added to, any other is created
// anew (a table then begins with its column names when they were asked
// for).  Files are told apart by what they are, not by how their paths are
// spelled: no file the run reads is ever opened, and an output of an
// earlier input is left as it is and the current input abandoned.
bool TextSink::open_output(const ProductDescription& p, OutputFile& stream, const std::string& file)
{
    const FileIdentity existing = identity_of(file);
    if (existing == product_identity_)
        return refuse(stream, file, "it is the product file");
    if (existing == header_identity_)
        return refuse(stream, file, "it is the header file");
    if (existing.known && run_inputs_.count(existing) > 0)
        return refuse(stream, file, "it is an input of this run");
    const std::size_t current = inputs_given_.size() - 1;
    const auto opened = existing.known ? outputs_opened_.find(existing) : outputs_opened_.end();
    if (opened != outputs_opened_.end() && opened->second != current) {
        // An attempt only fails: the conversion made again stops here.
        if (abandon_ != nullptr && attempt_reporter_ == nullptr)
            abandon_->store(true);
        return refuse(stream, file,
                      "written by " + inputs_given_[opened->second] + " earlier in this run");
    }
    if (attempt_reporter_ != nullptr)
        return open_attempt_output(p, stream, file);
    const bool opened_before = opened != outputs_opened_.end();
    if (!stream.open(file, opened_before ? "a" : "w"))
        return refuse(stream, file, std::strerror(errno));
    if (!opened_before) {
        outputs_opened_[identity_of(stream)] = current;
        created_.push_back(file);
        if (column_names_ && !p.is_documents())
            stream.write(column_heading(p));
    }
    return true;
}

// An attempt's output goes under a name of its own (the output's with
// ".l2part" added) until the attempt is kept.  What would keep the output
// itself from being written makes the attempt fail.
bool TextSink::open_attempt_output(const ProductDescription& p, OutputFile& stream,
                                   const std::string& file)
{
    for (const auto& output : attempt_outputs_)
        if (output.first == file)
            return stream.open(output.second, "a", file) || refuse(stream, file, std::strerror(errno));
    // Only a new file, or a plain one of a single name that can be written,
    // can be replaced by another without anyone seeing the difference.
    struct stat st;
    const bool exists = lstat(file.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink != 1 || access(file.c_str(), W_OK) != 0))
        return refuse(stream, file, "not a plain file");
    const std::string part = file + ".l2part";
    if (!stream.open(part, "w", file))
        return refuse(stream, file, std::strerror(errno));
    if (exists)
        chmod(part.c_str(), st.st_mode & 07777);
    attempt_outputs_.emplace_back(file, part);
    if (column_names_ && !p.is_documents())
        stream.write(column_heading(p));
    return true;
}

void TextSink::begin_attempt(Reporter& reporter)
{
    attempt_reporter_ = &reporter;
    attempt_outputs_.clear();
    attempt_failed_ = false;
}

bool TextSink::keep_attempt()
{
    close_all();
    for (const auto& output : attempt_outputs_) {
        if (attempt_failed_)
            return false;
        if (std::rename(output.second.c_str(), output.first.c_str()) != 0)
            refuse(streams_[0], output.first, std::strerror(errno));
    }
    if (attempt_failed_)
        return false;
    // Only now are they this input's outputs.
    for (const auto& output : attempt_outputs_) {
        outputs_opened_[identity_of(output.first)] = inputs_given_.size() - 1;
        created_.push_back(output.first);
    }
    attempt_outputs_.clear();
    attempt_reporter_ = nullptr;
    return true;
}

void TextSink::drop_attempt()
{
    for (std::size_t i = 0; i < kProductDescriptions.size(); ++i)
        streams_[i].discard();
    for (const auto& output : attempt_outputs_)
        std::remove(output.second.c_str());
    attempt_outputs_.clear();
    attempt_reporter_ = nullptr;
    attempt_failed_ = false;
}

void TextSink::begin_section(const ProductDescription& p, const std::string& output)
{
    if (!output.empty())
        output_to(p, output);
}

void TextSink::record(const ProductDescription& p, const Value* values)
{
    OutputFile& stream = streams_[p.index];
    if (!stream.is_open()) {
        out().report(MessageKind::kWarning, "TAIHEN: output file is not open!\n");
        return;
    }
    OutputToFileASCII(stream, p, values);
}

void TextSink::begin_document(const ProductDescription& p, const std::string& output)
{
    if (!output.empty())
        output_to(p, output);
}

bool TextSink::takes_documents(const ProductDescription& p)
{
    return streams_[p.index].is_open();
}

void TextSink::document_bytes(const ProductDescription& p, const char* data, std::size_t size)
{
    streams_[p.index].write(data, size);
}

void TextSink::end_document(const ProductDescription& p)
{
    if (split_documents_)
        streams_[p.index].close();
}

void TextSink::end_section(const ProductDescription& p)
{
    streams_[p.index].close();
}

// ---------------------------------------------------------------------------
// Command line

namespace {

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

// The products a table is written for, for --help: "A, B, ... and Z".
std::string table_products()
{
    std::vector<std::string> names;
    for (const ProductDescription* p : kProductDescriptions)
        if (!p->is_documents())
            names.push_back(p->name);
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : ", ") + names[i];
    return list;
}

std::string document_products()
{
    std::string list;
    for (const ProductDescription* p : kProductDescriptions)
        if (p->is_documents())
            list += (list.empty() ? "" : ", ") + std::string(p->name);
    return list;
}

void print_usage()
{
    std::printf(
        "Usage: l2xml2ascii [OPTION]... [--if] FILE [FILE...]\n"
        "Converts Level-2 product XML files into one ASCII table per product section\n"
        "(%s) and writes the\n"
        "documents of an %s section into one file.  Several files are converted\n"
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
        "                     document of each input gets '_k' before '.pdf'\n"
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
        "file, 2 for a wrong command line, 255 when no input file name was given.\n",
        table_products().c_str(), document_products().c_str());
}

// What parse_options found.
enum class Parsed { kRun, kDone, kWrong };

// Parses the command line into `options`; kDone after help and version,
// kWrong after the option parser has said what is wrong.
Parsed parse_options(int argc, char** argv, ProgramOptions& options)
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
            options.column_names = true;
            break;
        case kOptSplitDocuments:
            options.split_documents = true;
            break;
        case kOptProgress:
            options.progress = ProgressChoice::kOn;
            break;
        case kOptNoProgress:
            options.progress = ProgressChoice::kOff;
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

// Positions 0-7 of a file's own name are kept, 8-16 are the product type
// field, and from 17 up to the first "." comes the tail that is kept.
constexpr std::size_t kNamePrefixLength = 8;
constexpr std::size_t kNameTailStart = 17;

// `name` as it is opened: the working directory in front of a relative name.
std::string in_directory(const std::string& directory, const std::string& name)
{
    return !name.empty() && name[0] == '/' ? name : directory + name;
}

// The current input's stop: set by a signal that ends the run, or when the
// input must be abandoned.  Both are lock-free, so the handler may set them.
std::atomic<bool> g_stop{false};
volatile std::sig_atomic_t g_signal = 0;  // the signal that ends the run, or 0

extern "C" void stop_on_signal(int signal_number)
{
    g_signal = signal_number;
    g_stop.store(true);
}

// The signals that end a run early with its partial outputs removed.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

const char* signal_name(int signal_number)
{
    switch (signal_number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "SIGHUP";
    }
}

// While it lives, the stop signals end the current input; the actions in
// place before are put back.
class StopSignals {
public:
    StopSignals()
    {
        g_signal = 0;
        g_stop.store(false);
        struct sigaction action {};
        action.sa_handler = stop_on_signal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            sigaction(kStopSignals[i], &action, &saved_[i]);
    }
    ~StopSignals()
    {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            sigaction(kStopSignals[i], &saved_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction saved_[std::size(kStopSignals)];
};

// Makes the folder `path` and its missing parents (mode 0777 before the
// umask); 0, or the errno of what failed.
int make_folders(const std::string& path)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// libxml2's allocations as the program counts them.
class CountedMemory : public MemoryWatch {
public:
    Events take_events() override
    {
        const xml_memory::Events counted = xml_memory::take_events();
        Events events;
        events.over_cap = counted.over_cap;
        events.failed = counted.failed;
        return events;
    }
    std::size_t cap_mib() const override { return xml_memory::cap_mib(); }
};

// The program's own run: its options, the text outputs and the printed lines.
struct Program {
    const ProgramOptions& options;
    PrintingReporter& reporter;
    TextSink& sink;
    ProgressChooser& progress;
    MemoryWatch& memory;

    void say(MessageKind kind, const std::string& line) { reporter.report(kind, line); }

    // Converts one input file: the report lines, the header pass and the
    // product pass, as one run of its own.
    void convert(const std::string& input)
    {
        say(MessageKind::kInformation, format_line("in_filname            : %s\n", input.c_str()));
        if (!options.header.empty())
            say(MessageKind::kInformation,
                format_line("header_filname        : %s\n", options.header.c_str()));
        else
            say(MessageKind::kNotice, "MESSAGE: header filename not specified - setting "
                                      "SST_PRM.Epoch_Information to 0.0!\n");

        // The naming positions count in the file's own name; the folder part
        // (through the last "/") stays in front of the outputs.
        const std::size_t slash = input.rfind('/');
        const std::size_t own_start = slash == std::string::npos ? 0 : slash + 1;
        const std::string folder = input.substr(0, own_start);
        const std::string own_name = input.substr(own_start);
        const int32_t first_dot = strpos(own_name.c_str(), ".");
        if (first_dot < static_cast<int32_t>(kNameTailStart) - 1) {
            say(MessageKind::kUnderivableName,
                format_line("TAIHEN: cannot derive output file names from %s\n", input.c_str()));
            return;
        }
        const std::string name_prefix = own_name.substr(0, kNamePrefixLength);
        const std::string name_tail = own_name.substr(
            kNameTailStart, static_cast<std::size_t>(first_dot) - (kNameTailStart - 1));
        say(MessageKind::kInformation, format_line("output base file name : %s%%s%s%%s\n",
                                                   name_prefix.c_str(), name_tail.c_str()));
        say(MessageKind::kInformation,
            format_line("working directory     : %s\n", options.directory.c_str()));

        ConversionOptions conversion;
        if (!options.header.empty())
            conversion.header_file = in_directory(options.directory, options.header);
        std::string output_folder;
        if (!options.output_directory.empty()) {
            output_folder = options.output_directory;
            if (output_folder.back() != '/')
                output_folder += '/';
        } else {
            output_folder = in_directory(options.directory, folder);
        }
        conversion.names = OutputNames{output_folder + name_prefix, name_tail};
        conversion.product_file = in_directory(options.directory, input);
        conversion.split_documents = options.split_documents;  // numbered from 1 in every input
        conversion.progress = &progress;
        conversion.memory = &memory;
        conversion.stop = &g_stop;
        sink.start_input(input, conversion.product_file, conversion.header_file, &g_stop);
        convert_input(conversion, sink, reporter);
        if (g_signal == 0)
            sink.close_all();
    }
};

// At the start of a run: SIGPIPE ignored, and standard input, output and
// error that are closed opened on /dev/null.
void prepare_standard_streams()
{
    // A reader that goes away makes writes fail with EPIPE, reported like
    // any other write error, instead of ending the run unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard descriptor closed at start would be the next one handed
    // out, and an output file opened on it would receive what is printed.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)  // cannot happen: fd was the lowest free one
            ::close(opened);
    }
}

// At the end of a run: flushes standard output and reports a write error on
// it, once, if any write to it failed.
void check_standard_output(Reporter& reporter)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout))
        return;
    // A failure before the last flush may have left errno long changed.
    reporter.report(MessageKind::kWriteError,
                    format_line("TAIHEN: write error on standard output: %s\n",
                                std::strerror(!flushed && error != 0 ? error : EIO)));
    std::clearerr(stdout);
}

// "out of memory converting INPUT", or without the name when even that
// line cannot be made.
void report_out_of_memory(PrintingReporter& reporter, const std::string& input)
{
    try {
        reporter.report(MessageKind::kOutOfMemory,
                        format_line("TAIHEN: out of memory converting %s\n", input.c_str()));
    } catch (const std::bad_alloc&) {
        reporter.count_failure();
        std::fputs("TAIHEN: out of memory\n", stderr);
    }
}

int run_options(int argc, char** argv, PrintingReporter& reporter)
{
    ProgramOptions options;
    Parsed parsed;
    try {
        parsed = parse_options(argc, argv, options);
    } catch (const std::bad_alloc&) {
        std::fputs("TAIHEN: out of memory\n", stderr);
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
        reporter.report(MessageKind::kNoInput, "TAIHEN: please specify input filename!\n");
        return kExitNoInput;
    }
    if (!options.output_directory.empty()) {
        const int error = make_folders(options.output_directory);
        if (error != 0) {
            reporter.report(MessageKind::kCannotCreate,
                            format_line("TAIHEN: cannot create output folder %s: %s\n",
                                        options.output_directory.c_str(), std::strerror(error)));
            return kExitFailure;
        }
    }
    TextSink sink(reporter, options.column_names);
    sink.set_split_documents(options.split_documents);
    std::vector<std::string> run_inputs;
    for (const std::string& input : options.inputs)
        run_inputs.push_back(in_directory(options.directory, input));
    if (!options.header.empty())
        run_inputs.push_back(in_directory(options.directory, options.header));
    sink.protect_run_inputs(run_inputs);
    ProgressChooser progress(reporter.status_line(), options.progress);
    CountedMemory memory;
    Program program{options, reporter, sink, progress, memory};
    const StopSignals signals;
    for (const std::string& input : options.inputs) {
        g_stop.store(g_signal != 0);
        if (g_signal == 0) {
            try {
                program.convert(input);
            } catch (const std::bad_alloc&) {
                // Whatever was being built is dropped with its file; what was
                // written before stays.
                sink.close_all();
                report_out_of_memory(reporter, input);
            }
        }
        if (g_signal != 0) {
            // Stopped at once: what this input began goes, what earlier ones
            // finished stays.
            sink.remove_partial_outputs();
            std::fflush(stdout);
            const int signal_number = g_signal;
            reporter.report(MessageKind::kInterrupted,
                            format_line("TAIHEN: interrupted by %s: partial outputs of %s removed\n",
                                        signal_name(signal_number), input.c_str()));
            return 128 + signal_number;
        }
    }
    return reporter.failures() > 0 ? kExitFailure : kExitOk;
}

}  // namespace

int run(int argc, char** argv)
{
    prepare_standard_streams();
    StatusLine status_line;
    PrintingReporter reporter(status_line);
    if (!xml_memory::thread_state_ready()) {
        std::fputs("TAIHEN: out of memory\n", stderr);
        return kExitFailure;
    }
    int status;
    try {
        status = run_options(argc, argv, reporter);
    } catch (const std::bad_alloc&) {
        // Past the command line and the inputs' own failures: nothing more
        // is allocated to say it.
        std::fputs("TAIHEN: out of memory\n", stderr);
        return kExitFailure;
    }
    check_standard_output(reporter);
    // A failure to write standard output decides the status too, unless the
    // command line was wrong or named no input.
    return status == kExitOk && reporter.failures() > 0 ? kExitFailure : status;
}

// Weak, so that a program that brings its own entry (the fuzzing
// harnesses, whose entry is libFuzzer's) can link the driver and call run().
__attribute__((weak)) int main(int argc, char** argv)
{
    xml_memory::install();  // the program's own: never a library caller's
    const int status = run(argc, argv);
    xmlCleanupParser();
    return status;
}
