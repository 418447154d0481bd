// The conversion as a library: the values collected in memory are those the
// program prints, every line comes with its kind, libxml2's error handler is
// put back, and two conversions in two threads give what they give one after
// the other.
#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "l2xml2ascii.h"
#include "program_runner.h"

namespace {

constexpr const char* kStem = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_";

struct Product {
    const char* type;      // l2gen's name for it
    const char* file;      // the product file
    const char* table;     // the program's table of it
    const char* product;   // the product name
};

const Product kProducts[] = {
    {"egg", "L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.xml",
     "L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.ascii", "EGG_NOM_2"},
    {"pcv", "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PCV1.xml",
     "L2SAMPLESST_PCV_2_20091101T000000_20091101T235959_PCV1.ascii", "SST_PCV_2"},
    {"pki", "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PKI1.xml",
     "L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI1.ascii", "SST_PKI_2"},
    {"prd", "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRD1.xml",
     "L2SAMPLESST_PRD_2_20091101T000000_20091101T235959_PRD1.ascii", "SST_PRD_2"},
    {"prm", "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRM1.xml",
     "L2SAMPLESST_PRM_2_20091101T000000_20091101T235959_PRM1.ascii", "SST_PRM_2"},
};

// One value as printf prints it with the column's own format: an
// independent check of the values and of the program's formatting.
std::string printed(const Column& c, const Value& v)
{
    char text[512];
    switch (c.type) {
    case ValueType::kLongDouble:
        std::snprintf(text, sizeof text, c.format, v.long_double);
        break;
    case ValueType::kDouble:
        std::snprintf(text, sizeof text, c.format, v.real);
        break;
    case ValueType::kInt32:
    case ValueType::kInt16:
        std::snprintf(text, sizeof text, c.format, v.integer);
        break;
    }
    return std::string(static_cast<std::size_t>(c.blanks_before), ' ') + text;
}

std::string table_text(const ColumnSink::Table& t)
{
    std::string text;
    for (std::size_t row = 0; row < t.rows(); ++row) {
        for (std::size_t c = 0; c < t.product->column_count; ++c)
            text += printed(t.product->columns[c], t.columns[c][row]);
        text += '\n';
    }
    return text;
}

class LibraryTest : public e2e::ScratchFolderTest {
protected:
    void generate(const std::string& type, int records, const std::string& file)
    {
        const e2e::RunResult gen = e2e::run_command(
            "/usr/bin/env",
            {"python3", L2_SOURCE_DIR "/tools/l2gen.py", type, "--records", std::to_string(records),
             "--out", file},
            dir_, 120.0);
        ASSERT_EQ(0, gen.status) << gen.err;
    }

    ConversionOptions options_for(const std::string& file) const
    {
        ConversionOptions options;
        options.product_file = dir_ + "/" + file;
        return options;
    }
};

TEST_F(LibraryTest, ColumnsPrintedWithTheirFormatsAreTheProgramsTables)
{
    generate("hdr", 1, std::string(kStem) + "PRM1.HDR");
    for (const Product& p : kProducts) {
        SCOPED_TRACE(p.product);
        generate(p.type, 257, p.file);
        std::vector<std::string> args = {p.file};
        ConversionOptions options = options_for(p.file);
        if (std::string(p.type) == "prm") {
            args = {"--hdr", std::string(kStem) + "PRM1.HDR", p.file};
            options.header_file = dir_ + "/" + kStem + "PRM1.HDR";
        }
        const e2e::RunResult r = e2e::run_program(args, dir_);
        ASSERT_EQ(0, r.status) << r.err;

        ColumnSink sink;
        CollectingReporter reporter;
        const ConversionOutcome outcome = convert_input(options, sink, reporter);
        EXPECT_EQ(0, outcome.failures);
        const ColumnSink::Table* table = sink.table(*find_product(p.product));
        ASSERT_NE(nullptr, table);
        EXPECT_EQ(257u, table->rows());
        EXPECT_EQ(e2e::read_file(dir_ + "/" + p.table), table_text(*table));
    }
}

TEST_F(LibraryTest, DocumentsComeOneByOne)
{
    const std::string file = std::string(kStem) + "PRP1.xml";
    generate("prp", 3, file);
    ColumnSink sink;
    CollectingReporter reporter;
    convert_input(options_for(file), sink, reporter);
    const ColumnSink::Table* table = sink.table(*find_product("SST_PRP_2"));
    ASSERT_NE(nullptr, table);
    ASSERT_EQ(3u, table->documents.size());
    for (const std::string& document : table->documents)
        EXPECT_EQ(0u, document.rfind("%PDF-", 0)) << document.substr(0, 16);
}

// Every line a conversion tells carries what it is; failures are counted.
TEST_F(LibraryTest, LinesCarryTheirKinds)
{
    struct Case {
        std::string product;      // written into the product file (empty: none)
        std::string header;       // written into a header file (empty: none)
        MessageKind expected;     // a kind that must be among the lines
        std::string line;         // the start of that line
    };
    const Case cases[] = {
        {"", "", MessageKind::kCannotOpen, "TAIHEN: Unable to open "},
        {"<Data_Block>", "", MessageKind::kParseFailure, "TAIHEN: "},
        {"<Data_Block>", "", MessageKind::kParserMessage, ""},
        {"<Data_Block/>\n", "", MessageKind::kNoProductSection, "TAIHEN: no product section in "},
        {"<Data_Block><SST_PSO_2><SST_PKI_2><List_of_SP3c_Records></List_of_SP3c_Records></SST_PKI_2></SST_PSO_2>"
         "</Data_Block>\n", "",
         MessageKind::kInformation, "          ... finished writing SST_PKI_2.\n"},
        {"<Data_Block><EGG_NOM_2><List_of_GG_time_Records><GG_time_Record><Sigmas><QQ>1</QQ>"
         "</Sigmas></GG_time_Record></List_of_GG_time_Records></EGG_NOM_2></Data_Block>\n",
         "", MessageKind::kWarning, "MESSAGE: tag not found --> level 5"},
        {"<Data_Block/>\n",
         "<Earth_Explorer_Header><Variable_Header><SPH><SST_PSO_2><SST_PRM_2><Epoch_Information>"
         "<Reference>not a date</Reference></Epoch_Information></SST_PRM_2></SST_PSO_2></SPH>"
         "</Variable_Header></Earth_Explorer_Header>\n",
         MessageKind::kBadEpoch, "TAIHEN: bad epoch reference: not a date\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ConversionOptions options = options_for("product.xml");
        e2e::remove_tree(options.product_file);
        if (!c.product.empty())
            e2e::write_file(options.product_file, c.product);
        if (!c.header.empty()) {
            options.header_file = dir_ + "/header.HDR";
            e2e::write_file(options.header_file, c.header);
        }
        ColumnSink sink;
        CollectingReporter reporter;
        const ConversionOutcome outcome = convert_input(options, sink, reporter);
        int failures = 0;
        bool found = false;
        for (const CollectingReporter::Line& line : reporter.lines()) {
            failures += is_failure(line.kind) ? 1 : 0;
            EXPECT_EQ(is_failure(line.kind), line.text.rfind("TAIHEN: ", 0) == 0) << line.text;
            found = found || (line.kind == c.expected && line.text.rfind(c.line, 0) == 0);
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(failures, outcome.failures);
    }
}

int g_messages_seen = 0;

void count_message(void*, const char*, ...)
{
    ++g_messages_seen;
}

// A host's own handler of libxml2's messages is in place again afterwards,
// and heard nothing of the conversion's.
TEST_F(LibraryTest, Libxml2ErrorHandlerIsPutBack)
{
    xmlSetGenericErrorFunc(&g_messages_seen, count_message);
    const ConversionOptions options = options_for("broken.xml");
    e2e::write_file(options.product_file, "<Data_Block><unclosed>");
    ColumnSink sink;
    CollectingReporter reporter;
    convert_input(options, sink, reporter);
    EXPECT_EQ(0, g_messages_seen);
    EXPECT_EQ(&g_messages_seen, xmlGenericErrorContext);
    xmlGenericError(xmlGenericErrorContext, "%s", "host's own message\n");
    EXPECT_EQ(1, g_messages_seen);
    xmlSetGenericErrorFunc(nullptr, nullptr);
}

// What one conversion gave, as text: its lines and its tables.
std::string outcome_text(const ColumnSink& sink, const CollectingReporter& reporter)
{
    std::string text;
    for (const CollectingReporter::Line& line : reporter.lines())
        text += std::to_string(static_cast<int>(line.kind)) + " " + line.text;
    for (const ProductDescription* p : sink.products())
        text += p->name + std::string("\n") + table_text(*sink.table(*p));
    return text;
}

// Built under ThreadSanitizer too: two conversions share nothing but what
// is read only.
TEST_F(LibraryTest, TwoConversionsInTwoThreadsGiveWhatTheyGiveOneAfterTheOther)
{
    const std::string first = std::string(kStem) + "PKI1.xml";
    const std::string second = "L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.xml.gz";
    generate("pki", 3000, first);
    generate("egg", 800, "egg.xml");
    const e2e::RunResult gz = e2e::run_command("/bin/sh", {"-c", "gzip -c egg.xml > " + second}, dir_);
    ASSERT_EQ(0, gz.status) << gz.err;
    const std::string broken = "broken.xml";
    e2e::write_file(dir_ + "/" + broken, e2e::read_file(dir_ + "/" + first).substr(0, 200000));

    const std::vector<std::string> files = {first, second, broken};
    std::vector<std::string> alone;
    for (const std::string& file : files) {
        ColumnSink sink;
        CollectingReporter reporter;
        convert_input(options_for(file), sink, reporter);
        alone.push_back(outcome_text(sink, reporter));
    }
    for (std::size_t a = 0; a < files.size(); ++a) {
        for (std::size_t b = a + 1; b < files.size(); ++b) {
            std::string together[2];
            std::thread other([&] {
                ColumnSink sink;
                CollectingReporter reporter;
                convert_input(options_for(files[b]), sink, reporter);
                together[1] = outcome_text(sink, reporter);
            });
            ColumnSink sink;
            CollectingReporter reporter;
            convert_input(options_for(files[a]), sink, reporter);
            together[0] = outcome_text(sink, reporter);
            other.join();
            EXPECT_EQ(alone[a], together[0]) << files[a] << " beside " << files[b];
            EXPECT_EQ(alone[b], together[1]) << files[b] << " beside " << files[a];
        }
    }
}

// A stop asked for from another thread ends the conversion early, with what
// was collected so far kept.
TEST_F(LibraryTest, StopEndsTheConversionEarly)
{
    const std::string file = std::string(kStem) + "PKI1.xml";
    generate("pki", 500, file);
    std::atomic<bool> stop{true};
    ConversionOptions options = options_for(file);
    options.stop = &stop;
    ColumnSink sink;
    CollectingReporter reporter;
    const ConversionOutcome outcome = convert_input(options, sink, reporter);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(0, outcome.failures);
    EXPECT_EQ(nullptr, sink.table(*find_product("SST_PKI_2")));
}

}  // namespace
