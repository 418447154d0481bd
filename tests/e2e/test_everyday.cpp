// Everyday use of the program, end to end: --help and --version, the options
// around the header name, the installed program and manual page, gzip-
// compressed products, and batch conversion with tools/batch-convert.sh.
// The bundled examples are the products; each test works in its own
// temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "program_runner.h"

namespace {

const std::string kExamples = L2_SOURCE_DIR "/examples";
const std::string kPki = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PKI1.xml";
const std::string kPkiTable = "L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI1.ascii";
const std::string kPrd = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRD1.xml";
const std::string kPrm = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRM1.xml";
const std::string kPrmTable = "L2SAMPLESST_PRM_2_20091101T000000_20091101T235959_PRM1.ascii";
const std::string kHeader = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRM1.HDR";
const std::string kHeaderMessage =
    "MESSAGE: header filename not specified - setting SST_PRM.Epoch_Information to 0.0!\n";

bool contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

bool is_file(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The executable `name` from the folders of $PATH, or "" when there is none.
std::string find_in_path(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && is_file(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

// The example product files (*.xml), by name.
std::vector<std::string> example_products()
{
    std::vector<std::string> names;
    for (const std::string& f : e2e::list_files(kExamples))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".xml") == 0) names.push_back(f);
    return names;
}

void copy_file(const std::string& from, const std::string& to)
{
    e2e::write_file(to, e2e::read_file(from));
}

// `file` compressed by the gzip program.
std::string gzipped(const std::string& file)
{
    const std::string gzip = find_in_path("gzip");
    if (gzip.empty()) throw std::runtime_error("gzip not found on PATH");
    const e2e::RunResult r = e2e::run_command(gzip, {"-c", "-n", file}, "/");
    if (r.status != 0) throw std::runtime_error("gzip " + file + ": " + r.err);
    return r.out;
}

// The files of `dir` that the program wrote (not the copied inputs).
std::vector<std::string> outputs(const std::string& dir)
{
    std::vector<std::string> names;
    for (const std::string& f : e2e::list_files(dir))
        if (f.find(".ascii") != std::string::npos || f.find(".pdf") != std::string::npos)
            names.push_back(f);
    return names;
}

class EverydayTest : public e2e::ScratchFolderTest {};

// ---------------------------------------------------------------------------
// Help, version and the header option

TEST_F(EverydayTest, HelpPrintsUsageOnStdoutAndConvertsNothing)
{
    copy_file(kExamples + "/" + kPki, dir_ + "/" + kPki);
    const e2e::RunResult r = e2e::run_program({"-i", kPki, "--help"}, dir_);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0u, r.out.rfind("Usage: l2xml2ascii", 0)) << r.out;
    for (const char* option : {"--if", "--hdr", "--dir", "--help", "--version"})
        EXPECT_TRUE(contains(r.out, option)) << option;
    EXPECT_FALSE(contains(r.out, "in_filname"));
    EXPECT_TRUE(outputs(dir_).empty());
}

TEST_F(EverydayTest, VersionIsTheProjectVersion)
{
    const std::string cmake = e2e::read_file(L2_SOURCE_DIR "/CMakeLists.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(l2xml2ascii VERSION ([0-9.]+))")));
    const e2e::RunResult r = e2e::run_program({"--version"}, dir_);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("l2xml2ascii " + m[1].str() + "\n", r.out);
    EXPECT_EQ("", r.err);
}

// -h is no option: it is reported, the word after it is a stray argument, and
// the conversion runs without a header.
TEST_F(EverydayTest, DashHIsAWrongCommandLineAndNothingIsConverted)
{
    copy_file(kExamples + "/" + kPrm, dir_ + "/" + kPrm);
    copy_file(kExamples + "/" + kHeader, dir_ + "/" + kHeader);
    const e2e::RunResult r = e2e::run_program({"-h", kHeader, "-i", kPrm}, dir_);
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_TRUE(contains(r.err, "invalid option -- 'h'")) << r.err;
    EXPECT_TRUE(contains(r.err, "Try 'l2xml2ascii --help' for more information.\n")) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(is_file(dir_ + "/" + kPrmTable));
}

TEST_F(EverydayTest, ShortenedHdrNamesTheHeader)
{
    copy_file(kExamples + "/" + kPrm, dir_ + "/" + kPrm);
    copy_file(kExamples + "/" + kHeader, dir_ + "/" + kHeader);
    for (const std::string option : {"--hd=", "--h="}) {
        const e2e::RunResult r = e2e::run_program({option + kHeader, "-i", kPrm}, dir_);
        EXPECT_EQ(0, r.status) << option << r.err;
        EXPECT_TRUE(contains(r.out, "header_filname        : " + kHeader + "\n")) << option;
        EXPECT_TRUE(contains(r.out, "(in GPS-time: 941068800.000000)")) << r.out;
        // Reference 2009-11-01 00:00:00 GPS plus the document's 0 s.
        EXPECT_EQ(0u, e2e::read_file(dir_ + "/" + kPrmTable).rfind(" 941068800.000000000   ", 0));
    }
}

// ---------------------------------------------------------------------------
// Installation

// The path of the libxml2 that `program` loads, as ldd resolves it ("" when
// none, "not found" when it cannot be found).
std::string libxml2_loaded_by(const std::string& ldd, const std::string& program)
{
    const e2e::RunResult r = e2e::run_command(ldd, {program}, "/");
    const std::string out = "\n" + r.out;
    const std::regex line(R"(\n\s*libxml2\.so[^ ]* => ([^\n]*?)( \(0x[0-9a-f]+\))?\n)");
    std::smatch m;
    return std::regex_search(out, m, line) ? m[1].str() : "";
}

TEST_F(EverydayTest, InstalledProgramConvertsAndManualPageIsInstalled)
{
    const std::string cmake = find_in_path("cmake");
    if (cmake.empty()) GTEST_SKIP() << "cmake not on PATH";
    const std::string program = e2e::program_path();
    const std::string build_dir = program.substr(0, program.rfind('/'));
    const std::string prefix = dir_ + "/prefix";

    const e2e::RunResult install =
        e2e::run_command(cmake, {"--install", build_dir, "--prefix", prefix}, dir_, 120.0);
    ASSERT_EQ(0, install.status) << install.out << install.err;

    const std::string page = prefix + "/share/man/man1/l2xml2ascii.1";
    ASSERT_TRUE(is_file(page));
    EXPECT_EQ(e2e::read_file(L2_SOURCE_DIR "/docs/l2xml2ascii.1"), e2e::read_file(page));

    // The installed program converts like the built one.
    e2e::make_dir(dir_ + "/built");
    e2e::make_dir(dir_ + "/installed");
    copy_file(kExamples + "/" + kPki, dir_ + "/built/" + kPki);
    copy_file(kExamples + "/" + kPki, dir_ + "/installed/" + kPki);
    const e2e::RunResult built = e2e::run_program({"--if", kPki, "--dir", "built/"}, dir_);
    const e2e::RunResult installed =
        e2e::run_command(prefix + "/bin/l2xml2ascii", {"--if", kPki, "--dir", "installed/"}, dir_);
    ASSERT_EQ(0, built.status) << built.err;
    ASSERT_EQ(0, installed.status) << installed.err;
    EXPECT_EQ(e2e::read_file(dir_ + "/built/" + kPkiTable),
              e2e::read_file(dir_ + "/installed/" + kPkiTable));

    // And it loads the libxml2 the built one loads, also when that one lies
    // outside the system's library folders: the install keeps its run path.
    const std::string ldd = find_in_path("ldd");
    if (ldd.empty()) return;
    const std::string built_lib = libxml2_loaded_by(ldd, program);
    ASSERT_FALSE(built_lib.empty()) << "the built program loads no libxml2";
    EXPECT_EQ(built_lib, libxml2_loaded_by(ldd, prefix + "/bin/l2xml2ascii"));
}

// ---------------------------------------------------------------------------
// Compressed products

// Every example, gzip-compressed as NAME.xml.gz, gives the same files under the
// same names as NAME.xml: the output name drops everything from the first ".".
TEST_F(EverydayTest, GzipCompressedProductsGiveTheSameFiles)
{
    const std::vector<std::string> products = example_products();
    ASSERT_EQ(6u, products.size());
    e2e::make_dir(dir_ + "/plain");
    e2e::make_dir(dir_ + "/gz");
    copy_file(kExamples + "/" + kHeader, dir_ + "/plain/" + kHeader);
    copy_file(kExamples + "/" + kHeader, dir_ + "/gz/" + kHeader);
    for (const std::string& name : products) {
        SCOPED_TRACE(name);
        copy_file(kExamples + "/" + name, dir_ + "/plain/" + name);
        const std::string compressed = gzipped(kExamples + "/" + name);
        ASSERT_EQ("\x1f\x8b", compressed.substr(0, 2));
        e2e::write_file(dir_ + "/gz/" + name + ".gz", compressed);

        const e2e::RunResult plain =
            e2e::run_program({"--dir=plain/", "--hdr", kHeader, "--if", name}, dir_);
        const e2e::RunResult gz =
            e2e::run_program({"--dir=gz/", "--hdr", kHeader, "--if", name + ".gz"}, dir_);
        EXPECT_EQ(0, plain.status) << plain.err;
        EXPECT_EQ(0, gz.status) << gz.err;
        EXPECT_EQ(plain.err, gz.err);
        // The same console output apart from the input name and the folder.
        std::string expected = plain.out;
        expected.replace(expected.find(name), name.size(), name + ".gz");
        for (std::size_t at; (at = expected.find("plain/")) != std::string::npos;)
            expected.replace(at, 6, "gz/");
        EXPECT_EQ(expected, gz.out);
    }
    const std::vector<std::string> written = outputs(dir_ + "/plain");
    ASSERT_EQ(6u, written.size());
    EXPECT_EQ(written, outputs(dir_ + "/gz"));
    for (const std::string& f : written) {
        SCOPED_TRACE(f);
        EXPECT_GT(e2e::read_file(dir_ + "/plain/" + f).size(), 0u);
        EXPECT_EQ(e2e::read_file(dir_ + "/plain/" + f), e2e::read_file(dir_ + "/gz/" + f));
    }
    EXPECT_TRUE(is_file(dir_ + "/gz/" + kPkiTable));
}

TEST_F(EverydayTest, TruncatedGzipProductIsAFailure)
{
    const std::string compressed = gzipped(kExamples + "/" + kPki);
    e2e::write_file(dir_ + "/" + kPki + ".gz", compressed.substr(0, compressed.size() / 2));
    const e2e::RunResult r = e2e::run_program({"-i", kPki + ".gz"}, dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(contains(r.err, "TAIHEN: " + kPki + ".gz : failed to parse\n")) << r.err;
}

// ---------------------------------------------------------------------------
// Batch conversion

TEST_F(EverydayTest, BatchScriptNamesExactlyTheFailedFile)
{
    const std::string data = dir_ + "/data";
    for (const std::string& name : example_products())
        copy_file(kExamples + "/" + name, data + "/" + name);
    copy_file(kExamples + "/" + kHeader, data + "/" + kHeader);
    // A compressed product under a name of its own, and a truncated one.
    const std::string zipped = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PKIZ.xml.gz";
    e2e::write_file(data + "/" + zipped, gzipped(kExamples + "/" + kPki));
    const std::string broken = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_BAD1.xml";
    const std::string prd = e2e::read_file(kExamples + "/" + kPrd);
    e2e::write_file(data + "/" + broken, prd.substr(0, prd.size() / 2));

    const std::string script = L2_SOURCE_DIR "/tools/batch-convert.sh";
    const std::vector<std::string> args = {script, "-j", "4", "-p", e2e::program_path(),
                                           "-H", kHeader, data};
    const e2e::RunResult r = e2e::run_command("/bin/sh", args, dir_, 120.0);
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ("FAILED " + broken + "\n7 converted, 1 failed\n", r.out);
    EXPECT_TRUE(contains(r.err, "TAIHEN: " + data + "/" + broken + " : failed to parse")) << r.err;
    // Every good product was converted, the compressed one included; the
    // broken one keeps what came before the failure.
    const std::vector<std::string> expected = {
        "L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.ascii",
        "L2SAMPLESST_PCV_2_20091101T000000_20091101T235959_PCV1.ascii",
        kPkiTable,
        "L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKIZ.ascii",
        "L2SAMPLESST_PRD_2_20091101T000000_20091101T235959_BAD1.ascii",
        "L2SAMPLESST_PRD_2_20091101T000000_20091101T235959_PRD1.ascii",
        kPrmTable,
        "L2SAMPLESST_PRP_2_20091101T000000_20091101T235959_PRP1.pdf",
    };
    EXPECT_EQ(expected, outputs(data));
    EXPECT_EQ(e2e::read_file(data + "/" + kPkiTable),
              e2e::read_file(data + "/L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKIZ.ascii"));
    // The header reached the rotations.
    EXPECT_EQ(0u, e2e::read_file(data + "/" + kPrmTable).rfind(" 941068800.000000000   ", 0));

    // Without the broken file nothing fails and only the counts are printed.
    e2e::remove_tree(data + "/" + broken);
    const e2e::RunResult again = e2e::run_command("/bin/sh", args, dir_, 120.0);
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_EQ("7 converted, 0 failed\n", again.out);
}

}  // namespace
