// --column-names: every table the run creates begins with "# " and the names
// of its columns.  Read back the way numpy.loadtxt and MATLAB read a table
// (text from "#" on is a comment, blanks separate the fields, every field is
// a number), a named table must give exactly the numbers of the plain one,
// and it must be the plain one byte for byte after its first line.
#include "program_runner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kExamples = L2_SOURCE_DIR "/examples/";
const std::string kStem = "_20091101T000000_20091101T235959_";
const std::string kHeader = "L2SAMPLESST_PSO_2" + kStem + "PRM1.HDR";

// A table as a loader sees it: the rows of numbers, and the comment lines.
struct LoadedTable {
    std::vector<std::vector<double>> rows;
    std::vector<std::string> comments;
    bool ok = true;
    std::string problem;
};

// numpy.loadtxt's rules with comments="#" and blank-separated fields: a
// field must be a whole number text; every row must have as many fields.
LoadedTable load_table(const std::string& text)
{
    LoadedTable table;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) {
            table.comments.push_back(line.substr(hash));
            line.erase(hash);
        }
        std::istringstream fields(line);
        std::vector<double> row;
        std::string field;
        while (fields >> field) {
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(field.c_str(), &end);
            if (*end != '\0') {
                table.ok = false;
                table.problem = "not a number: " + field;
                return table;
            }
            row.push_back(value);
        }
        if (row.empty())
            continue;
        if (!table.rows.empty() && row.size() != table.rows.front().size()) {
            table.ok = false;
            table.problem = "ragged row: " + line;
            return table;
        }
        table.rows.push_back(row);
    }
    return table;
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> all;
    std::string word;
    while (in >> word)
        all.push_back(word);
    return all;
}

// Bit-for-bit equality, NaN included.
bool same_numbers(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size())
            return false;
        for (std::size_t j = 0; j < a[i].size(); ++j)
            if (!(a[i][j] == b[i][j] || (a[i][j] != a[i][j] && b[i][j] != b[i][j])))
                return false;
    }
    return true;
}

class ColumnNamesTest : public e2e::ScratchFolderTest {
protected:
    // Converts the bundled example of `kind` ("PKI1", ...) in folder `sub`,
    // with the header, and returns the table.
    std::string convert_example(const std::string& product_type, const std::string& kind,
                                const std::string& table_product, const std::string& sub,
                                const std::vector<std::string>& extra)
    {
        const std::string input = "L2SAMPLE" + product_type + kStem + kind + ".xml";
        e2e::write_file(dir_ + "/" + sub + "/" + input, e2e::read_file(kExamples + input));
        e2e::write_file(dir_ + "/" + sub + "/" + kHeader, e2e::read_file(kExamples + kHeader));
        std::vector<std::string> args = extra;
        args.insert(args.end(), {"--hdr", kHeader, input});
        const e2e::RunResult r = e2e::run_program(args, dir_ + "/" + sub);
        EXPECT_EQ(0, r.status) << r.err;
        return e2e::read_file(dir_ + "/" + sub + "/L2SAMPLE" + table_product + kStem + kind + ".ascii");
    }
};

TEST_F(ColumnNamesTest, EveryTableLoadsToTheSameNumbersWithOneNamePerColumn)
{
    struct Example {
        const char* product_type;
        const char* kind;
        const char* table;
        std::size_t columns;
        const char* names_begin;
    };
    const Example examples[] = {
        {"EGG_NOM_2", "0001", "EGG_NOM_2", 59, "# gps_time XX YY ZZ XY XZ YZ sigma_XX sigma_YY "},
        {"SST_PSO_2", "PCV1", "SST_PCV_2", 3, "# row column element\n"},
        {"SST_PSO_2", "PKI1", "SST_PKI_2", 5, "# gps_time[s] X[m] Y[m] Z[m] clock\n"},
        {"SST_PSO_2", "PRD1", "SST_PRD_2", 9, "# gps_time[s] X[m] Y[m] Z[m] clock VX[m/s] "},
        {"SST_PSO_2", "PRM1", "SST_PRM_2", 5, "# gps_time[s] Q1 Q2 Q3 Q4\n"},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.table);
        const std::string plain = convert_example(e.product_type, e.kind, e.table, "plain", {});
        const std::string named =
            convert_example(e.product_type, e.kind, e.table, "named", {"--column-names"});
        ASSERT_EQ(0u, named.find(e.names_begin)) << named.substr(0, 200);
        const std::size_t first_line_end = named.find('\n') + 1;
        EXPECT_TRUE(named.substr(first_line_end) == plain);

        const LoadedTable loaded = load_table(named);
        const LoadedTable reference = load_table(plain);
        ASSERT_TRUE(loaded.ok) << loaded.problem;
        ASSERT_TRUE(reference.ok) << reference.problem;
        ASSERT_FALSE(reference.rows.empty());
        EXPECT_EQ(e.columns, reference.rows.front().size());
        EXPECT_TRUE(same_numbers(loaded.rows, reference.rows));
        ASSERT_EQ(1u, loaded.comments.size());
        // One name per column, no name twice.
        std::vector<std::string> names = words(loaded.comments.front().substr(1));
        EXPECT_EQ(e.columns, names.size()) << loaded.comments.front();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end()));
    }
}

TEST_F(ColumnNamesTest, NamesOnlyWhereTheRunCreatesTheTable)
{
    // Two sections of one product in one file, both in one table: one line
    // of names, on top.
    const std::string input = "L2SAMPLESST_PSO_2" + kStem + "PRM1.xml";
    const std::string xml = e2e::read_file(kExamples + input);
    const std::string copy = "L2SAMPLESST_PSO_2" + kStem + "PRM1.copy.xml";
    e2e::write_file(dir_ + "/" + copy, xml);
    const std::string section_start = "<SST_PRM_2>";
    const std::string section_end = "</SST_PRM_2>";
    const std::size_t from = xml.find(section_start), to = xml.find(section_end);
    ASSERT_NE(std::string::npos, from);
    ASSERT_NE(std::string::npos, to);
    const std::string section = xml.substr(from, to + section_end.size() - from);
    e2e::write_file(dir_ + "/" + input, xml.substr(0, to + section_end.size()) + section +
                                            xml.substr(to + section_end.size()));
    const e2e::RunResult r = e2e::run_program({"--column-names", input}, dir_);
    EXPECT_EQ(0, r.status) << r.err;
    const std::string table = e2e::read_file(dir_ + "/L2SAMPLESST_PRM_2" + kStem + "PRM1.ascii");
    EXPECT_EQ(0u, table.find("# gps_time[s] Q1 Q2 Q3 Q4\n"));
    EXPECT_EQ(std::string::npos, table.find('#', 1));
    const LoadedTable loaded = load_table(table);
    ASSERT_TRUE(loaded.ok) << loaded.problem;
    EXPECT_EQ(0u, loaded.rows.size() % 2);

    // A later run (of a file with the section once) creates the table anew,
    // names again on top.
    const e2e::RunResult again = e2e::run_program({"--column-names", copy}, dir_);
    EXPECT_EQ(0, again.status);
    const std::string anew = e2e::read_file(dir_ + "/L2SAMPLESST_PRM_2" + kStem + "PRM1.ascii");
    EXPECT_EQ(0u, anew.find("# gps_time[s] Q1 Q2 Q3 Q4\n"));
    EXPECT_EQ(loaded.rows.size() / 2, load_table(anew).rows.size());
}

TEST_F(ColumnNamesTest, DocumentsGetNoNames)
{
    const std::string input = "L2SAMPLESST_PSO_2" + kStem + "PRP1.xml";
    e2e::write_file(dir_ + "/" + input, e2e::read_file(kExamples + input));
    e2e::make_dir(dir_ + "/named");
    const e2e::RunResult plain = e2e::run_program({input}, dir_);
    const e2e::RunResult named = e2e::run_program({"--column-names", "--out-dir", "named", input}, dir_);
    EXPECT_EQ(0, plain.status);
    EXPECT_EQ(0, named.status);
    const std::string document = "L2SAMPLESST_PRP_2" + kStem + "PRP1.pdf";
    EXPECT_TRUE(e2e::read_file(dir_ + "/" + document) == e2e::read_file(dir_ + "/named/" + document));
}

}  // namespace
