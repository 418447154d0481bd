// Standard descriptors and pipes: a reader that goes away is a write error
// like any other, and descriptors 0-2 closed at start never end up holding an
// output file.
#include "program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kInput = "L2SAMPLESST_PSO_2_x.xml";
const std::string kPcv = "L2SAMPLESST_PCV_2_x.ascii";

std::string covariance_records(int records)
{
    std::string xml;
    for (int i = 1; i <= records; ++i)
        xml += "<Covariance_Record row=\"" + std::to_string(i) + "\" column=\"1\">2</Covariance_Record>\n";
    return xml;
}

std::string covariance_lines(int records)
{
    std::string lines;
    char line[64];
    for (int i = 1; i <= records; ++i) {
        std::snprintf(line, sizeof line, "%6d      1    2.0000000e+00\n", i);
        lines += line;
    }
    return lines;
}

const std::string kPcvOpen = "<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>\n";
const std::string kPcvClose = "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";

// Runs the program under test in `cwd` with standard output on `out` and
// standard error on `err` (descriptors of the caller, or -1: closed), and
// standard input closed when `close_input`.  Returns the exit status as the
// shell shows it; the program is killed after `timeout_seconds`.
int run_with(const std::vector<std::string>& args, const std::string& cwd, int out, int err,
             bool close_input, double timeout_seconds = 60.0)
{
    e2e::ArgumentVector argv(e2e::program_path(), args);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Moved above 2 first, so that closing 0-2 cannot close them.
        const int out_copy = out >= 0 ? fcntl(out, F_DUPFD, 10) : -1;
        const int err_copy = err >= 0 ? fcntl(err, F_DUPFD, 10) : -1;
        if (chdir(cwd.c_str()) != 0)
            _exit(127);
        if (close_input)
            close(0);
        if (out_copy >= 0)
            dup2(out_copy, 1);
        else
            close(1);
        if (err_copy >= 0)
            dup2(err_copy, 2);
        else
            close(2);
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        signal(SIGPIPE, SIG_DFL);
        execv(e2e::program_path(), argv.get());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(timeout_seconds * 1000));
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class PipesAndDescriptorsTest : public e2e::ScratchFolderTest {
protected:
    // A file in the scratch folder for the program's standard error.
    int error_file()
    {
        const int fd = open((dir_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            throw std::runtime_error("cannot make stderr.txt");
        return fd;
    }
    std::string errors() { return e2e::read_file(dir_ + "/stderr.txt"); }
};

TEST_F(PipesAndDescriptorsTest, ClosedPipeOnStandardOutputIsAWriteError)
{
    e2e::write_file(dir_ + "/" + kInput, kPcvOpen + covariance_records(3) + kPcvClose);
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    close(ends[0]);  // nobody will read
    const int err = error_file();
    const int status = run_with({"-i", kInput}, dir_, ends[1], err, false);
    close(ends[1]);
    close(err);
    EXPECT_EQ(1, status);  // not ended by SIGPIPE
    const std::string message = "TAIHEN: write error on standard output: Broken pipe\n";
    const std::string text = errors();
    ASSERT_NE(std::string::npos, text.find(message)) << text;
    EXPECT_EQ(text.find(message), text.rfind(message)) << "reported more than once:\n" << text;
    // The tables are written whole all the same.
    EXPECT_EQ(covariance_lines(3), e2e::read_file(dir_ + "/" + kPcv));
}

TEST_F(PipesAndDescriptorsTest, ReaderLeavingAFifoOutputIsAWriteError)
{
    // More table than a pipe holds, so that the program writes after the
    // reader has gone.
    e2e::write_file(dir_ + "/" + kInput, kPcvOpen + covariance_records(50000) + kPcvClose);
    const std::string fifo = dir_ + "/" + kPcv;
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    // Opened without waiting, so that the program's open does not wait either.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int out = open("/dev/null", O_WRONLY);
    const int err = error_file();
    int status = -1;
    std::thread run([&] { status = run_with({"-i", kInput}, dir_, out, err, false); });
    // One byte read once the program writes, then the reader goes.
    pollfd p{reader, POLLIN, 0};
    poll(&p, 1, 30000);
    char byte;
    EXPECT_EQ(1, read(reader, &byte, 1));
    close(reader);
    run.join();
    close(out);
    close(err);
    EXPECT_EQ(1, status);
    const std::string message = "TAIHEN: write error on " + kPcv + ": Broken pipe\n";
    const std::string text = errors();
    ASSERT_NE(std::string::npos, text.find(message)) << text;
    EXPECT_EQ(text.find(message), text.rfind(message)) << "reported more than once:\n" << text;
}

TEST_F(PipesAndDescriptorsTest, ClosedStandardDescriptorsNeverHoldATable)
{
    // A fault inside the section: the parser reports it on standard error
    // while the table is open.
    e2e::write_file(dir_ + "/H.HDR", "<Earth_Explorer_Header/>\n");
    e2e::write_file(dir_ + "/" + kInput, kPcvOpen + covariance_records(2) + "<!-- " +
                                             std::string(64 * 1024, 'x') + " -->\n" +
                                             "<bad attr=>\n");
    const std::vector<std::string> args = {"-i", kInput, "--hdr", "H.HDR"};

    // All three closed.
    EXPECT_EQ(1, run_with(args, dir_, -1, -1, true));
    EXPECT_EQ(covariance_lines(2), e2e::read_file(dir_ + "/" + kPcv));

    // Standard input and error closed, standard output open: the input file
    // and the table would otherwise take descriptors 0 and 2.
    const int out = open((dir_ + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    EXPECT_EQ(1, run_with(args, dir_, out, -1, true));
    close(out);
    EXPECT_EQ(covariance_lines(2), e2e::read_file(dir_ + "/" + kPcv));
    EXPECT_NE(std::string::npos,
              e2e::read_file(dir_ + "/stdout.txt").find("     output to: " + kPcv + "\n"));
    EXPECT_EQ((std::vector<std::string>{"H.HDR", kPcv, kInput, "stdout.txt"}),
              e2e::list_files(dir_));
}

}  // namespace
