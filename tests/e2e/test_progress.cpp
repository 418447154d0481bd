// The progress line of long product passes: on a terminal it is drawn for
// product files of 64 MiB or more and taken away when the pass ends, so the
// report lines read as without it; --progress shows it always (one line per
// update where standard error is not a terminal), --no-progress never.  Off
// a terminal nothing changes unless it is asked for.
#include "program_runner.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string kInput = "L2SAMPLESST_PSO_2_x.xml";
const std::string kTable = "L2SAMPLESST_PCV_2_x.ascii";

// A covariance product of `records` records, padded with comments to at
// least `bytes` bytes.
std::string covariance_product(int records, std::size_t bytes)
{
    std::string xml = "<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>\n";
    for (int i = 1; i <= records; ++i)
        xml += "<Covariance_Record row=\"" + std::to_string(i) + "\" column=\"1\">2</Covariance_Record>\n";
    const std::string comment = "<!--" + std::string(4088, '-' + 1) + "-->\n";
    while (xml.size() < bytes)
        xml += comment;
    return xml + "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";
}

// Runs the program under test on a terminal: all it prints, as the
// terminal received it, and its exit status.
struct TerminalRun {
    std::string screen;
    int status = -1;
};

TerminalRun run_on_terminal(const std::vector<std::string>& args, const std::string& cwd)
{
    e2e::ArgumentVector argv(e2e::program_path(), args);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0)
        throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(127);
        execv(e2e::program_path(), argv.get());
        _exit(127);
    }
    TerminalRun run;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got > 0)
            run.screen.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            break;  // EIO once the program has ended and let go of the terminal
    }
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

class ProgressTest : public e2e::ScratchFolderTest {};

TEST_F(ProgressTest, ForcedOffTheTerminalItIsOneLinePerUpdateAndChangesNothingElse)
{
    e2e::write_file(dir_ + "/" + kInput, covariance_product(3, 0));
    const e2e::RunResult plain = e2e::run_program({kInput}, dir_);
    const std::string table = e2e::read_file(dir_ + "/" + kTable);
    const e2e::RunResult shown = e2e::run_program({"--progress", kInput}, dir_);
    EXPECT_EQ(0, plain.status);
    EXPECT_EQ(0, shown.status);
    EXPECT_EQ(plain.out, shown.out);
    EXPECT_EQ(table, e2e::read_file(dir_ + "/" + kTable));
    // The header pass shows none; the product pass ends with the whole file.
    ASSERT_EQ(0u, shown.err.find(plain.err)) << shown.err;
    const std::string added = shown.err.substr(plain.err.size());
    const std::string last = "progress: 100% of 0.0 MB read, ";
    EXPECT_EQ(0u, added.find(last)) << added;
    EXPECT_EQ(" MB/s, 0:00 left\n", added.substr(added.size() - 17)) << added;
    EXPECT_EQ(1u, std::count(added.begin(), added.end(), '\n'));

    // --no-progress after it wins; without either nothing is shown here.
    const e2e::RunResult off = e2e::run_program({"--progress", "--no-progress", kInput}, dir_);
    EXPECT_EQ(plain.err, off.err);
    EXPECT_EQ(std::string::npos, plain.err.find("progress"));
}

TEST_F(ProgressTest, OnATerminalALargeFileShowsALineThatIsTakenAway)
{
    const std::size_t size = std::size_t{64} << 20;
    e2e::write_file(dir_ + "/" + kInput, covariance_product(3, size));
    e2e::write_file(dir_ + "/small/" + kInput, covariance_product(3, 0));

    const TerminalRun large = run_on_terminal({kInput}, dir_);
    EXPECT_EQ(0, large.status) << large.screen;
    const std::size_t drawn = large.screen.find("\rprogress: ");
    ASSERT_NE(std::string::npos, drawn) << large.screen;
    EXPECT_NE(std::string::npos, large.screen.find(" MB read, ", drawn));
    // Taken away (blanks over it, back to the line's start) before the report
    // lines that follow, which start at the line's start.
    const std::size_t finished = large.screen.find("          ... finished writing SST_PCV_2.");
    ASSERT_NE(std::string::npos, finished);
    const std::size_t erased = large.screen.rfind("     \r", finished);
    ASSERT_NE(std::string::npos, erased);
    EXPECT_EQ(std::string::npos, large.screen.find("progress: ", erased)) << large.screen;
    const std::string table = e2e::read_file(dir_ + "/" + kTable);
    EXPECT_EQ(3, std::count(table.begin(), table.end(), '\n'));

    const TerminalRun quiet = run_on_terminal({"--no-progress", kInput}, dir_);
    EXPECT_EQ(0, quiet.status);
    EXPECT_EQ(std::string::npos, quiet.screen.find("progress")) << quiet.screen;

    const TerminalRun small = run_on_terminal({kInput}, dir_ + "/small");
    EXPECT_EQ(0, small.status);
    EXPECT_EQ(std::string::npos, small.screen.find("progress")) << small.screen;
}

TEST_F(ProgressTest, ParserMessagesStartOnALineOfTheirOwn)
{
    // A file cut short: libxml2's own message must not run on from the
    // progress line.
    std::string xml = covariance_product(3, std::size_t{64} << 20);
    xml.resize(xml.size() - 40);
    e2e::write_file(dir_ + "/" + kInput, xml);
    const TerminalRun run = run_on_terminal({kInput}, dir_);
    EXPECT_EQ(1, run.status);
    const std::size_t message = run.screen.find(kInput + ":");
    ASSERT_NE(std::string::npos, message) << run.screen;
    ASSERT_GT(message, 0u);
    EXPECT_TRUE(run.screen[message - 1] == '\r' || run.screen[message - 1] == '\n')
        << run.screen.substr(message > 80 ? message - 80 : 0, 160);
}

}  // namespace
