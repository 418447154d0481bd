// The command line as users type it: wrong command lines touch nothing, and
// no output is ever written over the product or header file being read.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "program_runner.h"

namespace {

const std::string kTryHelp = "Try 'l2xml2ascii --help' for more information.\n";

const std::string kOrbit =
    "<Data_Block><SST_PSO_2><SST_PKI_2><List_of_SP3c_Records>\n"
    "<SP3c_Record><List_of_Satellite_IDs><L15><Clock>1.5</Clock></L15>"
    "</List_of_Satellite_IDs></SP3c_Record>\n"
    "</List_of_SP3c_Records></SST_PKI_2></SST_PSO_2></Data_Block>\n";
// "%20.9f   %15.6f %15.6f %15.6f %15.6f" of an epoch and a position not given.
const std::string kOrbitTable = std::string(17, ' ') + "nan   " + std::string(12, ' ') + "nan " +
                                std::string(12, ' ') + "nan " + std::string(12, ' ') + "nan " +
                                std::string(7, ' ') + "1.500000\n";

const std::string kRotations =
    "<Data_Block><SST_PSO_2><SST_PRM_2><List_of_Rotation_Records>\n"
    "<Rotation_Record><Time_Information><Time_Since_Reference_Epoch>2</Time_Since_Reference_Epoch>"
    "</Time_Information></Rotation_Record>\n"
    "</List_of_Rotation_Records></SST_PRM_2></SST_PSO_2></Data_Block>\n";

// A header whose epoch reference is 10 s after the start of GPS time.
const std::string kHeaderAt10s =
    "<Earth_Explorer_Header><Variable_Header><SPH><SST_PSO_2><SST_PRM_2><Epoch_Information>"
    "<Reference>1980-01-06 00:00:10 GPS</Reference></Epoch_Information></SST_PRM_2>"
    "</SST_PSO_2></SPH></Variable_Header></Earth_Explorer_Header>\n";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class CommandLineTest : public e2e::ScratchFolderTest {
protected:
    // Everything in the scratch folder, with each file's content.
    std::string snapshot() const
    {
        std::string all;
        for (const std::string& name : e2e::list_files(dir_))
            all += name + "\n" + e2e::read_file(dir_ + "/" + name) + "\n";
        return all;
    }
};

// A typo or a missing argument stops the run before it prints, reads or
// writes anything: the option parser's diagnostic, the hint, status 2.
TEST_F(CommandLineTest, WrongCommandLinesTouchNothing)
{
    e2e::write_file(dir_ + "/L2SAMPLESST_PSO_2_t.xml", kOrbit);
    e2e::write_file(dir_ + "/H.HDR", "<Earth_Explorer_Header/>\n");
    const std::string before = snapshot();
    struct Case {
        std::vector<std::string> args;
        std::string diagnostic;
    };
    const Case cases[] = {
        {{"--hrd", "H.HDR", "-i", "L2SAMPLESST_PSO_2_t.xml"}, "unrecognized option '--hrd'"},
        {{"-h", "H.HDR", "L2SAMPLESST_PSO_2_t.xml"}, "invalid option -- 'h'"},
        {{"L2SAMPLESST_PSO_2_t.xml", "-x"}, "invalid option -- 'x'"},
        {{"L2SAMPLESST_PSO_2_t.xml", "--if"}, "option '--if' requires an argument"},
        {{"L2SAMPLESST_PSO_2_t.xml", "--out-dir"}, "requires an argument"},
        {{"--version=1", "L2SAMPLESST_PSO_2_t.xml"}, "doesn't allow an argument"},
    };
    for (const Case& c : cases) {
        const e2e::RunResult r = e2e::run_program(c.args, dir_);
        EXPECT_EQ(2, r.status) << c.args[0];
        EXPECT_EQ("", r.out) << c.args[0];
        EXPECT_TRUE(contains(r.err, c.diagnostic)) << r.err;
        EXPECT_TRUE(r.err.size() >= kTryHelp.size() &&
                    r.err.compare(r.err.size() - kTryHelp.size(), kTryHelp.size(), kTryHelp) == 0)
            << r.err;
        EXPECT_FALSE(contains(r.err, "TAIHEN:")) << r.err;
        EXPECT_EQ(before, snapshot()) << c.args[0];
    }
}

// --h and --hd still name the header, --he is --help, --v --version and
// --o --out-dir.
TEST_F(CommandLineTest, ShortenedLongOptions)
{
    e2e::write_file(dir_ + "/L2SAMPLESST_PSO_2_t.xml", kOrbit);
    EXPECT_TRUE(contains(e2e::run_program({"--he"}, dir_).out, "Usage: l2xml2ascii"));
    EXPECT_TRUE(contains(e2e::run_program({"--v"}, dir_).out, "l2xml2ascii "));
    const e2e::RunResult header = e2e::run_program({"--h", "H.HDR", "L2SAMPLESST_PSO_2_t.xml"}, dir_);
    EXPECT_EQ(1, header.status);
    EXPECT_TRUE(contains(header.out, "header_filname        : H.HDR\n")) << header.out;
    EXPECT_TRUE(contains(header.err, "TAIHEN: Unable to open H.HDR\n")) << header.err;
    e2e::make_dir(dir_ + "/o");
    const e2e::RunResult out_dir = e2e::run_program({"--o", "o", "L2SAMPLESST_PSO_2_t.xml"}, dir_);
    EXPECT_EQ(0, out_dir.status) << out_dir.err;
    EXPECT_EQ(kOrbitTable, e2e::read_file(dir_ + "/o/L2SAMPLESST_PKI_2_t.ascii"));
}

// An input whose own output would be itself, under its own name, through a
// hard link or through a symbolic link: the output is refused and the
// input stays as it was.
TEST_F(CommandLineTest, AnOutputIsNeverTheProductFile)
{
    struct Case {
        const char* what;
        std::string input;        // the name given on the command line
        std::string output;       // the output name the program derives
        void (*make)(const std::string& dir);
    };
    const Case cases[] = {
        {"own name", "XXXXXXXXSST_PKI_2_t.ascii", "XXXXXXXXSST_PKI_2_t.ascii",
         [](const std::string& dir) { e2e::write_file(dir + "/XXXXXXXXSST_PKI_2_t.ascii", kOrbit); }},
        {"hard link", "L2SAMPLESST_PSO_2_t.xml", "L2SAMPLESST_PKI_2_t.ascii",
         [](const std::string& dir) {
             e2e::write_file(dir + "/L2SAMPLESST_PSO_2_t.xml", kOrbit);
             ASSERT_EQ(0, ::link((dir + "/L2SAMPLESST_PSO_2_t.xml").c_str(),
                                 (dir + "/L2SAMPLESST_PKI_2_t.ascii").c_str()));
         }},
        {"symbolic link", "L2SAMPLESST_PSO_2_t.xml", "L2SAMPLESST_PKI_2_t.ascii",
         [](const std::string& dir) {
             e2e::write_file(dir + "/L2SAMPLESST_PSO_2_t.xml", kOrbit);
             ASSERT_EQ(0, ::symlink("L2SAMPLESST_PSO_2_t.xml",
                                    (dir + "/L2SAMPLESST_PKI_2_t.ascii").c_str()));
         }},
    };
    for (const Case& c : cases) {
        e2e::remove_tree(dir_);
        e2e::make_dir(dir_);
        c.make(dir_);
        const std::string before = snapshot();
        const e2e::RunResult r = e2e::run_program({c.input}, dir_);
        EXPECT_EQ(1, r.status) << c.what;
        EXPECT_TRUE(contains(r.out, "     output to: " + c.output + "\n")) << r.out;
        EXPECT_TRUE(contains(r.err, "TAIHEN: cannot create " + c.output + ": it is the product file\n"))
            << c.what << ": " << r.err;
        EXPECT_EQ(before, snapshot()) << c.what;
    }
}

TEST_F(CommandLineTest, AnOutputIsNeverTheHeaderFile)
{
    e2e::write_file(dir_ + "/L2SAMPLESST_PSO_2_t.xml", kRotations);
    e2e::write_file(dir_ + "/L2SAMPLESST_PRM_2_t.ascii", kHeaderAt10s);
    const std::string before = snapshot();
    const e2e::RunResult r =
        e2e::run_program({"--hdr", "L2SAMPLESST_PRM_2_t.ascii", "L2SAMPLESST_PSO_2_t.xml"}, dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(contains(r.out, "(in GPS-time: 10.000000)")) << r.out;
    EXPECT_TRUE(contains(r.err, "TAIHEN: cannot create L2SAMPLESST_PRM_2_t.ascii: it is the header file\n"))
        << r.err;
    EXPECT_EQ(before, snapshot());
}

// An output that could not be created is created anew at its next section,
// never added to: here the first input is refused its output (it is that
// file), and the second input's section empties it before writing.
// An input named like another input's output is never written over, whether
// it is being read or not.
TEST_F(CommandLineTest, NoOutputIsOpenedOverAnyInputOfTheRun)
{
    e2e::write_file(dir_ + "/o/XXXXXXXXSST_PKI_2_t.ascii", kOrbit);
    e2e::write_file(dir_ + "/y/XXXXXXXXSST_PSO_2_t.xml", kOrbit);
    const e2e::RunResult r = e2e::run_program(
        {"--out-dir=o", "o/XXXXXXXXSST_PKI_2_t.ascii", "y/XXXXXXXXSST_PSO_2_t.xml"}, dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(contains(r.err, "TAIHEN: cannot create o/XXXXXXXXSST_PKI_2_t.ascii: it is the product file\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "TAIHEN: cannot create o/XXXXXXXXSST_PKI_2_t.ascii: it is an input of this run\n"))
        << r.err;
    EXPECT_EQ(kOrbit, e2e::read_file(dir_ + "/o/XXXXXXXXSST_PKI_2_t.ascii"));
}

// The simplest batch: a header and a folder's products in one command; a
// file that fails does not stop the others.
TEST_F(CommandLineTest, OneHeaderForAFolderOfProducts)
{
    e2e::write_file(dir_ + "/H.HDR", kHeaderAt10s);
    e2e::write_file(dir_ + "/data/L2SAMPLESST_PSO_2_a.xml", kRotations);
    e2e::write_file(dir_ + "/data/L2SAMPLESST_PSO_2_b.xml", "<Data_Block>");
    e2e::write_file(dir_ + "/data/L2SAMPLESST_PSO_2_c.xml", kRotations);
    const e2e::RunResult r = e2e::run_program(
        {"--hdr", "H.HDR", "data/L2SAMPLESST_PSO_2_a.xml", "data/L2SAMPLESST_PSO_2_b.xml",
         "data/L2SAMPLESST_PSO_2_c.xml"},
        dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(contains(r.err, "TAIHEN: data/L2SAMPLESST_PSO_2_b.xml : failed to parse\n")) << r.err;
    // "%20.9f   %2.16f %2.15f %2.16f %2.16f": 10 s of epoch plus 2 s.
    const std::string table = std::string(8, ' ') + "12.000000000   nan nan nan nan\n";
    EXPECT_EQ(table, e2e::read_file(dir_ + "/data/L2SAMPLESST_PRM_2_a.ascii"));
    EXPECT_EQ(table, e2e::read_file(dir_ + "/data/L2SAMPLESST_PRM_2_c.ascii"));
}

}  // namespace
