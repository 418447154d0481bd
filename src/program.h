// The command-line program around the conversion: its options, the text
// outputs it writes (TextSink), the lines it prints (PrintingReporter) and
// its progress line.
#ifndef L2_PROGRAM_H
#define L2_PROGRAM_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "helpers.h"
#include "l2xml2ascii.h"
#include "progress.h"

enum ExitStatus : int {
    kExitOk = 0,          // the run reported no failure
    kExitFailure = 1,     // at least one failure was reported on the way
    kExitUsageError = 2,  // the command line is wrong: nothing was touched
    kExitNoInput = -1,    // no input file name at all (255 to the shell)
};

// When the product pass shows its progress on standard error.
enum class ProgressChoice {
    kAuto,  // on a terminal, for product files of at least 64 MiB
    kOn,    // --progress: always
    kOff,   // --no-progress: never
};

// Everything the command line chose.
struct ProgramOptions {
    std::vector<std::string> inputs;  // --if, -i, then the other arguments
    std::string header;               // --hdr
    std::string directory;            // --dir, -d
    std::string output_directory;     // --out-dir
    bool column_names = false;        // tables begin with a line naming their columns
    bool split_documents = false;     // every PDF_File into a file of its own
    ProgressChoice progress = ProgressChoice::kAuto;
};

// Prints every line as it comes: information and warnings on standard
// output, everything else on standard error, the progress line taken away
// first.  Counts the failures.
class PrintingReporter : public Reporter {
public:
    explicit PrintingReporter(StatusLine& status_line) : status_line_(status_line) {}
    void report(MessageKind kind, const std::string& line) override;
    int failures() const { return failures_; }
    // A failure told some other way (when there is no memory to tell it).
    void count_failure() { ++failures_; }
    StatusLine& status_line() { return status_line_; }

private:
    StatusLine& status_line_;
    int failures_ = 0;
};

// The progress line of each product pass, when the run's choice shows it.
class ProgressChooser : public ProgressWatcher {
public:
    ProgressChooser(StatusLine& line, ProgressChoice choice) : line_(line), choice_(choice) {}
    ReadProgress* start(uint64_t file_size) override;
    void finish(uint64_t bytes_read) override;

private:
    StatusLine& line_;
    ProgressChoice choice_;
    std::unique_ptr<ProgressMeter> meter_;
};

// Which file a path named when it was looked at (links followed), if it
// existed then.
struct FileIdentity {
    bool known = false;
    uint64_t device = 0;
    uint64_t inode = 0;

    bool operator==(const FileIdentity& o) const
    {
        return known && o.known && device == o.device && inode == o.inode;
    }
};

struct FileIdentityHash {
    std::size_t operator()(const FileIdentity& id) const
    {
        return std::hash<uint64_t>()(id.inode * 0x9E3779B97F4A7C15u ^ id.device);
    }
};

// One table line of `values` in the columns of `p`.
void OutputToFileASCII(OutputFile& out, const ProductDescription& p, const Value* values);

// "# " and the names of the columns of `p`, units in brackets, and "\n".
std::string column_heading(const ProductDescription& p);

// The program's outputs: one file per product section (the documents of a
// section in one file, or one each), named as the conversion says.  A file
// this run opened before is added to; the files being read are never
// written; every write is checked.
class TextSink : public Sink, private WriteErrorListener {
public:
    TextSink(Reporter& reporter, bool column_names);
    ~TextSink() override;
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    void set_split_documents(bool split) { split_documents_ = split; }
    // Every product and header file the run names: no output may be one.
    void protect_run_inputs(const std::vector<std::string>& files);
    // The input about to be converted, `given` as the command line names
    // it; `abandon` is set when it must not go on (an earlier input's output
    // stands in its way).
    void start_input(const std::string& given, const std::string& product_file,
                     const std::string& header_file, std::atomic<bool>* abandon);
    // Closes every output still open, checking that all was written.
    void close_all();
    // Removes the outputs the current input created, closing them first.
    // (An input adds only to outputs it created itself: the outputs of
    // earlier inputs are never touched.)
    void remove_partial_outputs();

    void begin_section(const ProductDescription& p, const std::string& output) override;
    void record(const ProductDescription& p, const Value* values) override;
    void begin_document(const ProductDescription& p, const std::string& output) override;
    bool takes_documents(const ProductDescription& p) override;
    void document_bytes(const ProductDescription& p, const char* data, std::size_t size) override;
    void end_document(const ProductDescription& p) override;
    void end_section(const ProductDescription& p) override;

    // An attempt writes each output under a name of its own beside it, so
    // that nothing there before is touched until the attempt is kept.
    bool supports_attempts() const override { return true; }
    void begin_attempt(Reporter& reporter) override;
    bool keep_attempt() override;
    void drop_attempt() override;

private:
    Reporter& out() { return attempt_reporter_ != nullptr ? *attempt_reporter_ : reporter_; }
    bool open_attempt_output(const ProductDescription& p, OutputFile& stream, const std::string& file);
    void write_failed(const OutputFile& file, int error) override;
    void output_to(const ProductDescription& p, const std::string& file);
    bool open_output(const ProductDescription& p, OutputFile& stream, const std::string& file);
    bool refuse(OutputFile& stream, const std::string& file, const std::string& why);

    Reporter& reporter_;
    const bool column_names_;
    bool split_documents_ = false;
    std::unique_ptr<OutputFile[]> streams_;  // one per product, by index
    FileIdentity product_identity_;  // the product file being read
    FileIdentity header_identity_;   // its header file
    std::unordered_set<FileIdentity, FileIdentityHash> run_inputs_;  // every file the run reads
    std::vector<std::string> inputs_given_;  // the inputs so far, as given; the last is current
    std::atomic<bool>* abandon_ = nullptr;
    // Output files opened so far in this run, and the input (in
    // inputs_given_) that opened each: an output of the current input is
    // added to, an earlier input's is never touched.
    std::unordered_map<FileIdentity, std::size_t, FileIdentityHash> outputs_opened_;
    // The outputs the current input created: removed when it is interrupted.
    std::vector<std::string> created_;
    // While an attempt runs: where its lines go, its outputs (the name each
    // will have, the name it is written under), and whether anything failed.
    Reporter* attempt_reporter_ = nullptr;
    std::vector<std::pair<std::string, std::string>> attempt_outputs_;
    bool attempt_failed_ = false;
};

// One whole run of the program with these arguments (argv[0] is the
// program's name): returns its exit status.  It may be called again.
int run(int argc, char** argv);

#endif  // L2_PROGRAM_H
