// The push parser's pass and the reader's give the same result on every
// input: every table value, document byte, line and failure, and through the
// program every output byte, printed line and exit status.  The inputs are
// the products the generator makes, the bundled examples, a thousand
// variants of them damaged in the ways XML can be (cuts, comments,
// processing instructions, references, CDATA, document types, stray bytes,
// deep nesting), and, where the build names a folder of them (L2_XML_CORPUS:
// the newest-libxml2 stage names libxml2's source), XML files no one here
// wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "l2xml2ascii.h"
#include "program_runner.h"
#include "source_comparison.h"

namespace {

namespace fs = std::filesystem;
using l2test::Compared;
using l2test::compare_sources;

constexpr const char* kStem = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_";

// Damages `xml` in one of the ways XML can be damaged, chosen by `rng`.
std::string mutated(const std::string& xml, std::mt19937& rng)
{
    auto anywhere = [&] { return std::uniform_int_distribution<std::size_t>(0, xml.size())(rng); };
    // Just after a ">", where something may stand between elements.
    auto between = [&] {
        std::size_t at = xml.find('>', anywhere());
        return at == std::string::npos ? xml.size() : at + 1;
    };
    auto insert = [&](std::size_t at, const std::string& what) {
        return xml.substr(0, at) + what + xml.substr(at);
    };
    static const char* const kPieces[] = {
        "<!-- a comment -->", "<?pi some data?>", "&amp;", "&lt;", "&#65;", "&#x20;", "&e;",
        "<![CDATA[1.5]]>", "<a/>", "<Flags/>", "<XX>7</XX>", "\n  \t", " ", "<b></b>",
        "&#38;", "]]>", "<", "&", "\xC3\xA9", "\xFF", "\r\n", "<!DOCTYPE x>",
    };
    const std::size_t kinds = 9;
    switch (std::uniform_int_distribution<std::size_t>(0, kinds - 1)(rng)) {
    case 0:  // cut anywhere
        return xml.substr(0, anywhere());
    case 1:  // a piece between elements
    case 2: {
        const std::string piece = kPieces[rng() % (sizeof kPieces / sizeof *kPieces)];
        return insert(between(), piece);
    }
    case 3: {  // a piece anywhere, even inside a tag
        const std::string piece = kPieces[rng() % (sizeof kPieces / sizeof *kPieces)];
        return insert(anywhere(), piece);
    }
    case 4: {  // a document type, with an entity used or not
        const std::size_t root = xml.find("<Data_Block");
        const std::string doctype = "<!DOCTYPE Data_Block [<!ENTITY e \"2.5\"><!ATTLIST "
                                    "Covariance_Record row CDATA \"9\">]>\n";
        return root == std::string::npos ? doctype + xml : insert(root, doctype);
    }
    case 5: {  // a byte changed
        std::string out = xml;
        if (!out.empty())
            out[anywhere() % out.size()] = static_cast<char>(rng() % 256);
        return out;
    }
    case 6: {  // deep nesting around a record
        const int depth = 5 + static_cast<int>(rng() % 300);
        std::string open, close;
        for (int i = 0; i < depth; ++i) {
            open += "<n>";
            close += "</n>";
        }
        const std::size_t at = between();
        return xml.substr(0, at) + open + close + xml.substr(at);
    }
    case 7: {  // an attribute value with references or a long one
        std::string out = xml;
        const std::size_t at = out.find(" row=\"");
        if (at != std::string::npos)
            out.insert(at + 6, rng() % 2 ? "&#49;" : std::string(70000, '1'));
        const std::size_t unit = out.find("unit=\"");
        if (unit != std::string::npos)
            out.insert(unit + 6, "&amp;");
        return out;
    }
    default: {  // the encoding declared
        static const char* const kDeclarations[] = {
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n",
            "<?xml version=\"1.0\"?>\n",
            "<?xml version=\"1.0\" standalone=\"yes\"?>\n",
        };
        return kDeclarations[rng() % 4] + xml;
    }
    }
}

class EventSourceTest : public e2e::ScratchFolderTest {
protected:
    // One file of every type from the generator, the header, and the
    // bundled examples.
    std::vector<std::string> products()
    {
        const e2e::RunResult gen = e2e::run_command(
            "/usr/bin/env",
            {"python3", L2_SOURCE_DIR "/tools/l2gen.py", "--all", dir_ + "/gen", "--records", "7",
             "--seed", "5"},
            dir_, 120.0);
        EXPECT_EQ(0, gen.status) << gen.err;
        std::vector<std::string> files;
        for (const std::string& name : e2e::list_files(dir_ + "/gen"))
            if (name.find(".xml") != std::string::npos)
                files.push_back(dir_ + "/gen/" + name);
        for (const std::string& name : e2e::list_files(L2_SOURCE_DIR "/examples"))
            if (name.find(".xml") != std::string::npos)
                files.push_back(L2_SOURCE_DIR "/examples/" + name);
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(EventSourceTest, ProductsAndTheirDamagedVariantsGiveTheSameResult)
{
    const std::vector<std::string> originals = products();
    ASSERT_GE(originals.size(), 12u);
    int pushed = 0;
    for (const std::string& file : originals) {
        const Compared c = compare_sources(file);
        EXPECT_TRUE(c.same) << file << "\n--- reader\n" << c.reader << "--- push\n" << c.push;
        EXPECT_TRUE(c.pushed) << file << ": a clean product is the push parser's";
    }
    // A product with its header: the epoch reference reaches both passes.
    const Compared with_header =
        compare_sources(L2_SOURCE_DIR "/examples/" + std::string(kStem) + "PRM1.xml",
                        L2_SOURCE_DIR "/examples/" + std::string(kStem) + "PRM1.HDR");
    EXPECT_TRUE(with_header.same) << with_header.reader << "---\n" << with_header.push;

    std::mt19937 rng(20261208u);
    const std::string variant = dir_ + "/variant.xml";
    const int kVariants = 1000;
    for (int i = 0; i < kVariants; ++i) {
        const std::string& original = originals[rng() % originals.size()];
        std::string xml = e2e::read_file(original);
        const int damages = 1 + static_cast<int>(rng() % 3);
        for (int d = 0; d < damages; ++d)
            xml = mutated(xml, rng);
        e2e::write_file(variant, xml);
        const Compared c = compare_sources(variant);
        pushed += c.pushed ? 1 : 0;
        if (!c.same) {
            e2e::write_file(dir_ + "/../l2-differs-" + std::to_string(i) + ".xml", xml);
            ADD_FAILURE() << "variant " << i << " of " << original << " differs (kept as l2-differs-"
                          << i << ".xml beside the scratch folder)\n--- reader\n"
                          << c.reader.substr(0, 2000) << "--- push\n" << c.push.substr(0, 2000);
        }
    }
    // Both ways are exercised: many variants stay the push parser's.
    EXPECT_GT(pushed, kVariants / 10);
    EXPECT_LT(pushed, kVariants);
    RecordProperty("pushed_variants", pushed);
}

// Through the program: output files, both streams and the exit status.
TEST_F(EventSourceTest, ProgramGivesTheSameFilesLinesAndStatus)
{
    const std::vector<std::string> originals = products();
    std::mt19937 rng(7u);
    for (int i = 0; i < 60; ++i) {
        std::string xml = e2e::read_file(originals[rng() % originals.size()]);
        if (i % 3 != 0)
            xml = mutated(xml, rng);
        std::string results[2];
        const char* const paths[] = {"reader", "fast"};
        for (int p = 0; p < 2; ++p) {
            const std::string run_dir = dir_ + "/" + paths[p];
            e2e::remove_tree(run_dir);
            e2e::write_file(run_dir + "/" + kStem + "PCV1.xml", xml);
            e2e::write_file(run_dir + "/L2SAMPLESST_PCV_2_20091101T000000_20091101T235959_PCV1.ascii",
                            "an older table\n");
            const e2e::RunResult r = e2e::run_command(
                "/usr/bin/env",
                {std::string("L2XML2ASCII_PATH=") + paths[p], e2e::program_path(),
                 "--split-documents", "--column-names", std::string(kStem) + "PCV1.xml"},
                run_dir);
            results[p] = "status " + std::to_string(r.status) + "\n" + r.out + "---\n" + r.err;
            for (const std::string& name : e2e::list_files(run_dir))
                results[p] += "--- " + name + "\n" + e2e::read_file(run_dir + "/" + name);
        }
        EXPECT_EQ(results[0], results[1]) << "run " << i;
    }
}

// Products large enough that their events fill many blocks between the
// parser's thread and the conversion's, and texts longer than the pieces the
// parser is fed, so that a text still being gathered crosses from one block
// to the next.
TEST_F(EventSourceTest, LargeProductsAndLongTextsGiveTheSameResult)
{
    struct Made {
        const char* type;
        std::vector<std::string> options;
    };
    const Made made[] = {
        {"pki", {"--records", "3000"}},
        {"egg", {"--records", "600"}},
        {"prp", {"--size-mb", "1.5", "--docs", "3"}},
    };
    for (const Made& m : made) {
        const std::string file = dir_ + "/" + kStem + m.type + ".xml";
        std::vector<std::string> argv = {"python3", L2_SOURCE_DIR "/tools/l2gen.py", m.type,
                                         "--out", file, "--seed", "9"};
        argv.insert(argv.end(), m.options.begin(), m.options.end());
        const e2e::RunResult gen = e2e::run_command("/usr/bin/env", argv, dir_, 120.0);
        ASSERT_EQ(0, gen.status) << gen.err;
        const Compared c = compare_sources(file);
        EXPECT_TRUE(c.same) << m.type << "\n--- reader\n" << c.reader.substr(0, 2000)
                            << "--- push\n" << c.push.substr(0, 2000);
        EXPECT_TRUE(c.pushed) << m.type;
    }
    // Long documents whose text is written as it stands (no encoding named),
    // one of them cut by a comment into two texts.
    std::string xml = e2e::read_file(dir_ + "/" + kStem + "prp.xml");
    for (std::size_t at = 0; (at = xml.find("encoding=\"Base64\"", at)) != std::string::npos;)
        xml.replace(at, 17, "encoding=\"none\"");
    const std::size_t document = xml.find("<PDF_File");
    ASSERT_NE(std::string::npos, document);
    xml.insert(document + 300000, "<!-- between -->");
    e2e::write_file(dir_ + "/unencoded.xml", xml);
    const Compared c = compare_sources(dir_ + "/unencoded.xml");
    EXPECT_TRUE(c.same) << c.reader.substr(0, 2000) << "--- push\n" << c.push.substr(0, 2000);
    EXPECT_TRUE(c.pushed);
}

// XML that no one here wrote: every XML file of libxml2's source.
TEST_F(EventSourceTest, Libxml2TestSuiteGivesTheSameResult)
{
#ifdef L2_XML_CORPUS
    const fs::path corpus = L2_XML_CORPUS;
#else
    const char* named = std::getenv("L2_XML_CORPUS");
    if (named == nullptr)
        GTEST_SKIP() << "no corpus named (the newest-libxml2 stage names libxml2's source)";
    const fs::path corpus = named;
#endif
    int files = 0;
    int pushed = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(corpus, ec), end; it != end; it.increment(ec)) {
        if (ec || !it->is_regular_file(ec))
            continue;
        const std::string path = it->path().string();
        if (path.size() < 4 || path.compare(path.size() - 4, 4, ".xml") != 0)
            continue;
        if (it->file_size(ec) > (std::uintmax_t{4} << 20))
            continue;
        ++files;
        const Compared c = compare_sources(path);
        pushed += c.pushed ? 1 : 0;
        EXPECT_TRUE(c.same) << path << "\n--- reader\n" << c.reader.substr(0, 2000) << "--- push\n"
                            << c.push.substr(0, 2000);
    }
    EXPECT_GT(files, 100) << corpus;
    RecordProperty("corpus_files", files);
    RecordProperty("pushed_files", pushed);
}

}  // namespace
