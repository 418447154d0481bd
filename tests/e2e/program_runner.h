// Running the built l2xml2ascii from the end-to-end tests, and the few file
// helpers those tests need around a run.
//
// Typical use:
//
//   const std::string dir = e2e::make_temp_dir();
//   e2e::write_file(dir + "/in/L2SAMPLESST_PSO_2_x.xml", "<Data_Block/>\n");
//   e2e::RunResult r = e2e::run_program({"--dir=in/", "-i", "L2SAMPLESST_PSO_2_x.xml"}, dir);
//   EXPECT_EQ(0, r.status);
//   e2e::remove_tree(dir);
//
// Every helper that can fail throws std::runtime_error with the path and the
// system's reason, except remove_tree, which never throws.
#ifndef L2_E2E_PROGRAM_RUNNER_H
#define L2_E2E_PROGRAM_RUNNER_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

// What one run of a program left behind.
struct RunResult {
    // Exit status as the shell sees it: 0..255 for a normal exit, 128 + N when
    // the program was ended by signal N (so 137 after a timeout kill).
    int status = -1;
    bool timed_out = false;  // the run was killed because it took too long
    std::string out;         // everything written on standard output
    std::string err;         // everything written on standard error
};

// Path of the built program under test (the L2_PROGRAM build setting).
const char* program_path();

// An argument vector for execv: `program`, then `args`, then a null pointer.
class ArgumentVector {
public:
    ArgumentVector(const std::string& program, const std::vector<std::string>& args);
    char* const* get() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// Runs `program` with the arguments `args` (argv[1] onwards; argv[0] is the
// program path) in the working directory `cwd`, without a shell, with standard
// input read from /dev/null.  The program is killed with SIGKILL when it has
// not ended after `timeout_seconds`.  A program that cannot be started (bad
// path, bad cwd) gives status 127 and the reason on `err`.
RunResult run_command(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, double timeout_seconds = 30.0);

// run_command with the program under test.
RunResult run_program(const std::vector<std::string>& args, const std::string& cwd,
                      double timeout_seconds = 30.0);

// Makes a fresh empty folder under $TMPDIR (or /tmp) and returns its absolute
// path, symbolic links resolved, without a trailing "/".
std::string make_temp_dir();

// Removes `path` and everything below it; symbolic links are removed, never
// followed.  Does nothing when `path` does not exist.
void remove_tree(const std::string& path) noexcept;

// Makes the folder `path` and any missing parent folders.
void make_dir(const std::string& path);

// The whole content of the file at `path`, byte for byte.
std::string read_file(const std::string& path);

// Writes `content` to the file at `path`, replacing it; missing parent
// folders are made first.
void write_file(const std::string& path, const std::string& content);

// Everything below the folder `root` that is not a folder (regular files,
// symbolic links, ...), as paths relative to `root` ("a/b.txt"), sorted.
// Folders are entered; symbolic links to folders are listed, not entered.
// With `with_folders`, folders are listed too, each with a trailing "/".
std::vector<std::string> list_files(const std::string& root, bool with_folders = false);

// `bytes` in plain RFC 4648 base64 on one line, "=" padded: the tests' own
// encoder, so that expected documents do not depend on the program's codec.
std::string base64(const std::string& bytes);

// A test that works in a fresh temporary folder, `dir_`, removed afterwards.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    void TearDown() override { remove_tree(dir_); }
    std::string dir_;
};

}  // namespace e2e

#endif  // L2_E2E_PROGRAM_RUNNER_H
