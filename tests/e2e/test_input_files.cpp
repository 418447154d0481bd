// How product files are opened and read: compressed forms recognised by
// content, damaged ones reported with the reason, names never taken for URLs.
#include "program_runner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string kInput = "L2SAMPLESST_PSO_2_x.xml";
const std::string kPcv = "L2SAMPLESST_PCV_2_x.ascii";
const std::string kParseFailure = "TAIHEN: " + kInput + " : failed to parse\n";

// A covariance product of `records` records whose values all differ, and
// the table it converts to, worked out here from the table's format.
struct Product {
    std::string xml;
    std::string table;
};

Product covariance_product(int records)
{
    Product p;
    p.xml = "<?xml version=\"1.0\"?>\n<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>\n";
    for (int i = 1; i <= records; ++i) {
        const std::string n = std::to_string(i);
        p.xml += "<Covariance_Record row=\"" + n + "\" column=\"" + std::to_string(i % 97 + 1) +
                 "\">" + n + ".5E+00</Covariance_Record>\n";
        char line[64];
        std::snprintf(line, sizeof line, "%6d %6d   %14.7e\n", i, i % 97 + 1, i + 0.5);
        p.table += line;
    }
    p.xml += "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";
    return p;
}

bool have_tool(const std::string& tool)
{
    return e2e::run_command("/bin/sh", {"-c", "command -v " + tool}, "/").status == 0;
}

class InputFilesTest : public e2e::ScratchFolderTest {
protected:
    // Runs `command` through the shell in the scratch folder; fails the test
    // if it does not succeed.
    void shell(const std::string& command)
    {
        const e2e::RunResult r = e2e::run_command("/bin/sh", {"-c", command}, dir_);
        ASSERT_EQ(0, r.status) << command << ": " << r.err;
    }

    e2e::RunResult convert(const std::string& name, double timeout = 60.0)
    {
        return e2e::run_program({"-i", name}, dir_, timeout);
    }

    std::string table() { return e2e::read_file(dir_ + "/" + kPcv); }
};

TEST_F(InputFilesTest, EveryCompressionGivesThePlainTable)
{
    const Product p = covariance_product(20000);
    e2e::write_file(dir_ + "/plain/" + kInput, p.xml);
    const e2e::RunResult plain = e2e::run_program({"--dir=plain/", "-i", kInput}, dir_);
    ASSERT_EQ(0, plain.status) << plain.err;
    ASSERT_EQ(p.table, e2e::read_file(dir_ + "/plain/" + kPcv));

    const struct {
        const char* tool;
        const char* command;  // compresses `plain` to standard output
    } forms[] = {
        {"gzip", "gzip -c -n"},
        {"xz", "xz -c"},
        {"bzip2", "bzip2 -c"},
        {"zstd", "zstd -q -c"},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.tool);
        if (!have_tool(form.tool)) {
            std::printf("%s not installed: its form is not tried\n", form.tool);
            continue;
        }
        // The name says nothing of the compression: it is recognised by content.
        const std::string folder = std::string(form.tool) + "/";
        shell("mkdir " + folder + " && " + form.command + " plain/" + kInput + " > " + folder +
              kInput);
        const e2e::RunResult r = e2e::run_program({"--dir=" + folder, "-i", kInput}, dir_);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.out.find("... finished writing SST_PCV_2.")) << r.out;
        EXPECT_TRUE(e2e::read_file(dir_ + "/" + folder + kPcv) == p.table) << "table differs";
    }
}

TEST_F(InputFilesTest, CompressedHeaderFileIsRead)
{
    if (!have_tool("gzip"))
        GTEST_SKIP() << "gzip not installed";
    e2e::write_file(dir_ + "/H.HDR",
                    "<Earth_Explorer_Header><Variable_Header><SPH><SST_PSO_2><SST_PRM_2>"
                    "<Epoch_Information><Reference>2009-11-01 00:00:00 GPS</Reference>"
                    "</Epoch_Information></SST_PRM_2></SST_PSO_2></SPH></Variable_Header>"
                    "</Earth_Explorer_Header>\n");
    shell("gzip -n H.HDR");
    e2e::write_file(dir_ + "/" + kInput,
                    "<Data_Block><SST_PSO_2><SST_PRM_2><List_of_Rotation_Records/>"
                    "</SST_PRM_2></SST_PSO_2></Data_Block>\n");
    const e2e::RunResult r = e2e::run_program({"-i", kInput, "--hdr", "H.HDR.gz"}, dir_);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("(in GPS-time: 941068800.000000)")) << r.out;
}

// Files that look like something else are read as they stand: only the
// compressions are recognised, never an archive format.
TEST_F(InputFilesTest, PlainFilesOfAnyContentPassThrough)
{
    const Product p = covariance_product(3);
    // A tar archive holding the product: the archive's bytes are the
    // document, which is not XML.
    e2e::write_file(dir_ + "/in/" + kInput, p.xml);
    shell("tar -cf " + kInput + ".tar -C in " + kInput + " && mv " + kInput + ".tar " + kInput);
    e2e::RunResult r = convert(kInput);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::string::npos, r.err.find("read error")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(kParseFailure)) << r.err;

    // Bytes that begin like a compressed stream but are not one.
    e2e::write_file(dir_ + "/" + kInput, std::string("\x1f\x8b") + p.xml);
    r = convert(kInput);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find(kParseFailure)) << r.err;

    // The empty file and a gzip file that holds nothing: the parser's own
    // failure, nothing about reading.
    e2e::write_file(dir_ + "/" + kInput, "");
    r = convert(kInput);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::string::npos, r.err.find("read error")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(kParseFailure)) << r.err;
    if (have_tool("gzip")) {
        shell("gzip -n -c < " + kInput + " > empty.gz && mv empty.gz " + kInput);
        r = convert(kInput);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(std::string::npos, r.err.find("read error")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(kParseFailure)) << r.err;
    }
}

TEST_F(InputFilesTest, DamagedGzipIsAReadErrorAfterWhatCameBefore)
{
    if (!have_tool("gzip"))
        GTEST_SKIP() << "gzip not installed";
    const Product p = covariance_product(100000);
    e2e::write_file(dir_ + "/" + kInput, p.xml);
    shell("gzip -n -c " + kInput + " > whole.gz");
    const std::string whole = e2e::read_file(dir_ + "/whole.gz");
    ASSERT_GT(whole.size(), 100000u);

    // Cut off in the middle.
    e2e::write_file(dir_ + "/" + kInput, whole.substr(0, whole.size() / 2));
    e2e::RunResult r = convert(kInput);
    EXPECT_EQ(1, r.status);
    const std::string read_error = "TAIHEN: read error on " + kInput + ": ";
    std::size_t at = r.err.find(read_error);
    ASSERT_NE(std::string::npos, at) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(kParseFailure, at)) << r.err;
    std::string kept = table();
    EXPECT_GT(kept.size(), p.table.size() / 4);
    EXPECT_LT(kept.size(), p.table.size());
    EXPECT_EQ(0u, p.table.compare(0, kept.size(), kept)) << "not the start of the table";

    // Two gzip members, the second damaged right after its header (a deflate
    // block of the reserved type): the first member's records are converted.
    const std::size_t half = p.xml.find('\n', p.xml.size() / 2) + 1;
    e2e::write_file(dir_ + "/first", p.xml.substr(0, half));
    e2e::write_file(dir_ + "/second", p.xml.substr(half));
    shell("gzip -n first second");
    std::string second = e2e::read_file(dir_ + "/second.gz");
    second.replace(10, 16, 16, '\xff');
    e2e::write_file(dir_ + "/" + kInput, e2e::read_file(dir_ + "/first.gz") + second);
    r = convert(kInput);
    EXPECT_EQ(1, r.status);
    at = r.err.find(read_error);
    ASSERT_NE(std::string::npos, at) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(kParseFailure, at)) << r.err;
    // What the plain file cut after the first member gives, no less.
    e2e::write_file(dir_ + "/cut/" + kInput, p.xml.substr(0, half));
    r = e2e::run_program({"--dir=cut/", "-i", kInput}, dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(table() == e2e::read_file(dir_ + "/cut/" + kPcv)) << "not the first member's records";
}

TEST_F(InputFilesTest, FileThatCannotBeOpenedIsNotARead)
{
    const e2e::RunResult r = convert(kInput);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("TAIHEN: Unable to open " + kInput + "\n")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("read error")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("failed to parse")) << r.err;
}

// A listening socket on 127.0.0.1 that never accepts: a connection attempt
// would wait in its queue.
class Listener {
public:
    Listener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int port() const { return port_; }
    bool was_called() const
    {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(InputFilesTest, NamesAreNeverUrls)
{
    const Listener listener;
    const std::string base = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    // Bounded: a fetch would wait for an answer that never comes.
    e2e::RunResult r = e2e::run_program({"--dir", base, "-i", kInput, "--hdr", "H.HDR"}, dir_, 20.0);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("TAIHEN: Unable to open " + base + "H.HDR\n")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("TAIHEN: Unable to open " + base + kInput + "\n"))
        << r.err;
    EXPECT_FALSE(listener.was_called());

    // The same name is a path of folders "http:" and "host" here.
    const Product p = covariance_product(3);
    e2e::write_file(dir_ + "/http:/host/" + kInput, p.xml);
    r = e2e::run_program({"--dir", "http://host/", "-i", kInput}, dir_);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(p.table, e2e::read_file(dir_ + "/http:/host/" + kPcv));
}

}  // namespace
