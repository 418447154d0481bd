// Embedded documents end to end: SST_PRP_2 sections whose PDF_File elements
// carry a real PDF (examples/sample.pdf) as base64 text, converted by the
// built program in a fresh temporary folder each.  The document file must hold
// exactly the documents' bytes, one after the other, whatever the line layout
// of the base64 text; text that is not declared "Base64" goes out raw.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"

namespace {

const std::string kInput = "ABCDEFGHSST_PSO_2_DOCS.xml";
const std::string kOutput = "ABCDEFGHSST_PRP_2_DOCS.pdf";

std::string sample_pdf()
{
    static const std::string pdf = e2e::read_file(L2_SOURCE_DIR "/examples/sample.pdf");
    return pdf;
}


// `text` cut into lines of `width` characters, each led by `indent` and ended
// by `eol`; the whole begins with `eol` so the text starts below its tag.
std::string wrap(const std::string& text, const std::string& eol, const std::string& indent = "",
                 std::size_t width = 76)
{
    std::string out = eol;
    for (std::size_t i = 0; i < text.size(); i += width)
        out += indent + text.substr(i, width) + eol;
    return out;
}

// One PDF_File: its "encoding" attribute (none when absent) and its content,
// put into the file as it stands (markup included).
struct Doc {
    std::optional<std::string> encoding;
    std::string content;
};

Doc base64_doc(const std::string& bytes)
{
    return {"Base64", wrap(e2e::base64(bytes), "\n")};
}

std::string section(const std::vector<Doc>& docs)
{
    std::string xml = "    <SST_PRP_2>\n      <List_of_PDF_Files>\n";
    for (const Doc& d : docs) {
        xml += "        <PDF_File";
        if (d.encoding) xml += " encoding=\"" + *d.encoding + "\"";
        xml += ">" + d.content + "</PDF_File>\n";
    }
    return xml + "      </List_of_PDF_Files>\n    </SST_PRP_2>\n";
}

std::string product(const std::vector<std::string>& sections)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Data_Block type=\"xml\">\n"
                      "  <SST_PSO_2>\n";
    for (const std::string& s : sections) xml += s;
    return xml + "  </SST_PSO_2>\n</Data_Block>\n";
}

std::size_t count(const std::string& haystack, const std::string& needle)
{
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

class DocumentTest : public e2e::ScratchFolderTest {
protected:
    // Writes the product file and converts it with the folder as working
    // directory of the process (no --dir).
    e2e::RunResult convert(const std::string& xml)
    {
        e2e::write_file(dir_ + "/" + kInput, xml);
        return e2e::run_program({"-i", kInput}, dir_, 60.0);
    }
    std::string output() { return e2e::read_file(dir_ + "/" + kOutput); }

    std::string sha256(const std::string& path)
    {
        const e2e::RunResult r = e2e::run_command("/usr/bin/sha256sum", {path}, dir_);
        EXPECT_EQ(0, r.status) << r.err;
        return r.out.substr(0, 64);
    }

};

TEST_F(DocumentTest, SamplePdfSurvivesAnyLineLayout)
{
    const std::string pdf = sample_pdf();
    ASSERT_GT(pdf.size(), 1000u);
    ASSERT_EQ("%PDF-", pdf.substr(0, 5));
    const std::string text = e2e::base64(pdf);
    const std::pair<const char*, std::string> layouts[] = {
        {"LF", wrap(text, "\n")},
        {"CRLF", wrap(text, "\r\n")},
        // The reader turns CRLF into LF; a character reference keeps the CR.
        {"CR by reference", wrap(text, "&#13;\n")},
        {"indented", wrap(text, "\n", "          ")},
        {"tabs and no-break spaces", wrap(text, "\r\n", "\t \xC2\xA0", 60)},
        {"one line", text},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.first);
        TearDown();
        SetUp();
        const e2e::RunResult r = convert(product({section({{"Base64", layout.second}})}));
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(std::string::npos, r.out.find("no encoding!"));
        EXPECT_TRUE(output() == pdf) << "document differs, " << output().size() << " bytes";
        e2e::write_file(dir_ + "/original.pdf", pdf);
        EXPECT_EQ(sha256("original.pdf"), sha256(kOutput));
    }
}

TEST_F(DocumentTest, ConsoleOfOneRun)
{
    const e2e::RunResult r = convert(product({section({base64_doc(sample_pdf())})}));
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("in_filname            : ABCDEFGHSST_PSO_2_DOCS.xml\n"
              "output base file name : ABCDEFGH%s_DOCS.%s\n"
              "working directory     : \n"
              "     output to: ABCDEFGHSST_PRP_2_DOCS.pdf\n"
              "          ... finished writing SST_PRP_2.\n",
              r.out);
    EXPECT_EQ(std::string::npos, r.err.find("TAIHEN"));
    EXPECT_EQ((std::vector<std::string>{"ABCDEFGHSST_PRP_2_DOCS.pdf", kInput}),
              e2e::list_files(dir_));
}

TEST_F(DocumentTest, DocumentsFollowEachOtherWithoutPadOrNul)
{
    // Two documents whose lengths differ modulo 3, so the first one ends in
    // pad characters: nothing may stand between them.
    const std::string pdf1 = sample_pdf();
    const std::string pdf2 = pdf1.substr(0, pdf1.size() - 1) + "\x01";
    const std::string pdf3 = pdf1.substr(0, pdf1.size() - 2);
    const e2e::RunResult r = convert(
        product({section({base64_doc(pdf3), base64_doc(pdf1), base64_doc(pdf2)})}));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(output() == pdf3 + pdf1 + pdf2) << output().size() << " bytes";
}

TEST_F(DocumentTest, PadCharactersAreTrimmedExactly)
{
    const std::string pdf = sample_pdf();
    // {document, pad characters its base64 text ends in}
    const std::pair<std::string, int> docs[] = {
        {pdf.substr(0, pdf.size() / 3 * 3), 0},
        {pdf.substr(0, pdf.size() / 3 * 3 - 2), 2},
        {pdf.substr(0, pdf.size() / 3 * 3 - 1), 1},
        {"A", 2},
        {"AB", 1},
        // Zero bytes of the document's own are data, not pad.
        {std::string("ab\0", 3), 0},
        {std::string("a\0", 2), 1},
        {std::string("\0", 1), 2},
    };
    for (const auto& doc : docs) {
        SCOPED_TRACE(doc.first.size());
        const std::string text = e2e::base64(doc.first);
        ASSERT_EQ(std::string(doc.second, '='), text.substr(text.size() - doc.second));
        ASSERT_NE('=', text[text.size() - doc.second - 1]);
        TearDown();
        SetUp();
        const e2e::RunResult r = convert(product({section({base64_doc(doc.first)})}));
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_TRUE(output() == doc.first) << output().size() << " bytes";
    }
}

TEST_F(DocumentTest, PadsAreTakenOnlyFromTheLastGroup)
{
    // Whatever the last complete group holds, at most its own three bytes are
    // pad; "=" elsewhere stands for zero bits that stay, and characters after
    // the last complete group yield nothing.
    const std::string pdf = sample_pdf();
    std::string long_doc;  // 65,536 characters of base64, no pad
    while (long_doc.size() < 49152) long_doc += pdf;
    long_doc.resize(49152);
    const std::string whole_groups = pdf.substr(0, pdf.size() / 3 * 3);
    const std::pair<std::string, std::string> cases[] = {
        {"QUJD====", "ABC"},
        {"QUJDx===", "ABC"},
        {"QUJD\n==\r\n==\n", "ABC"},
        {"QUJD====QQ", "ABC"},
        {"====", ""},
        {"QUJD====QUJD", std::string("ABC\0\0\0ABC", 9)},
        {"QUJDQQ==", "ABCA"},
        {"QUJDQUI=", "ABCAB"},
        {"QUJDQUJD", "ABCABC"},
        {e2e::base64(whole_groups) + "====", whole_groups},
        {e2e::base64(long_doc) + "====", long_doc},
        {e2e::base64(long_doc) + "\nQQ==", long_doc + "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.size() < 20 ? c.first : std::to_string(c.first.size()) + " characters");
        TearDown();
        SetUp();
        const e2e::RunResult r = convert(product({section({{"Base64", c.first}})}));
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_TRUE(output() == c.second) << output().size() << " bytes";
    }
}

TEST_F(DocumentTest, OnlyExactBase64IsDecoded)
{
    const std::string raw = "\nJVBERi0x\n";
    const std::optional<std::string> encodings[] = {
        "base64", "BASE64", " Base64", "Base64 ", "Base6", "", std::nullopt,
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding ? "\"" + *encoding + "\"" : "no attribute");
        TearDown();
        SetUp();
        const e2e::RunResult r = convert(product({section({{encoding, raw}})}));
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(1u, count(r.out, "no encoding!\n"));
        EXPECT_EQ(raw, output());
    }
}

TEST_F(DocumentTest, EncodingIsDecidedPerDocument)
{
    // An empty Base64 document leaves no text behind to clear the flag; the
    // next PDF_File, without the attribute, must still be written raw, and a
    // Base64 one after it decoded again.
    const std::string pdf = sample_pdf();
    const e2e::RunResult r = convert(product(
        {section({{"Base64", ""}, {std::nullopt, "plain text"}, base64_doc(pdf)})}));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(1u, count(r.out, "no encoding!\n"));
    EXPECT_TRUE(output() == "plain text" + pdf) << output().size() << " bytes";
}

TEST_F(DocumentTest, OnlyTheFirstTextNodeIsDecoded)
{
    // A comment splits the text: the node after it goes out raw.  CDATA is
    // never routed, and the text after it is one more raw node.
    const std::string pdf = sample_pdf();
    const std::string after_comment = "\nQUJD\n";
    const std::string after_cdata = "tail\n";
    const e2e::RunResult r = convert(product({section(
        {{"Base64", wrap(e2e::base64(pdf), "\n") + "<!-- split -->" + after_comment +
                        "<![CDATA[not routed]]>" + after_cdata}})}));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(2u, count(r.out, "no encoding!\n"));
    EXPECT_TRUE(output() == pdf + after_comment + after_cdata) << output().size() << " bytes";
}

TEST_F(DocumentTest, LaterSectionAppendsToTheDocumentFile)
{
    const std::string pdf = sample_pdf();
    const std::string second = pdf.substr(0, 100);
    const e2e::RunResult r =
        convert(product({section({base64_doc(pdf)}), section({base64_doc(second)})}));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(2u, count(r.out, "     output to: " + kOutput + "\n"));
    EXPECT_EQ(2u, count(r.out, "          ... finished writing SST_PRP_2.\n"));
    EXPECT_TRUE(output() == pdf + second) << output().size() << " bytes";
}

TEST_F(DocumentTest, OversizedTextNodeFailsTheParseAndKeepsEarlierDocuments)
{
    // The XML reader refuses text nodes above 10,000,000 bytes.
    const std::string pdf = sample_pdf();
    std::string huge = "\n";
    for (std::size_t line = 0; line < 10000000 / 77 + 100; ++line)
        huge += std::string(76, 'Q') + "\n";
    ASSERT_GT(huge.size(), 10000000u);
    const e2e::RunResult r = convert(product({section({base64_doc(pdf), {"Base64", huge}})}));
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("TAIHEN: " + kInput + " : failed to parse\n")) << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("finished writing"));
    EXPECT_TRUE(output() == pdf) << output().size() << " bytes";
}

TEST_F(DocumentTest, DocumentFileThatCannotBeCreated)
{
    e2e::make_dir(dir_ + "/" + kOutput);
    const e2e::RunResult r = convert(
        product({section({base64_doc(sample_pdf()), {std::nullopt, "raw text"}})}));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.err.find("TAIHEN: cannot create " + kOutput + ": Is a directory\n"))
        << r.err;
    // The section is still walked, but the documents' text is dropped.
    EXPECT_NE(std::string::npos, r.out.find("     output to: " + kOutput + "\n"));
    EXPECT_NE(std::string::npos, r.out.find("          ... finished writing SST_PRP_2.\n"));
    EXPECT_EQ(std::string::npos, r.out.find("no encoding!"));
    EXPECT_EQ((std::vector<std::string>{kOutput + "/", kInput}), e2e::list_files(dir_, true));
}

// --split-documents: every PDF_File its own file, numbered over the run.

// A second real PDF, made by the sample generator.
std::string generated_pdf()
{
    static const std::string pdf = [] {
        const e2e::RunResult r = e2e::run_command(
            "/usr/bin/env",
            {"python3", "-c",
             "import sys; sys.path.insert(0, '" L2_SOURCE_DIR "/tools'); import l2gen; "
             "sys.stdout.buffer.write(l2gen.make_pdf(['L2SAMPLE split documents']))"},
            "/");
        EXPECT_EQ(0, r.status) << r.err;
        return r.out;
    }();
    return pdf;
}

std::string document_file(int number)
{
    return "ABCDEFGHSST_PRP_2_DOCS_" + std::to_string(number) + ".pdf";
}

TEST_F(DocumentTest, SplitDocumentsAreEachExactlyTheirOwnPdf)
{
    const std::string first = sample_pdf();
    const std::string second = generated_pdf();
    ASSERT_EQ("%PDF-", second.substr(0, 5));
    ASSERT_NE(first, second);
    e2e::write_file(dir_ + "/" + kInput, product({section({base64_doc(first), base64_doc(second)})}));
    const e2e::RunResult r = e2e::run_program({"--split-documents", kInput}, dir_);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("in_filname            : ABCDEFGHSST_PSO_2_DOCS.xml\n"
              "output base file name : ABCDEFGH%s_DOCS.%s\n"
              "working directory     : \n"
              "     output to: ABCDEFGHSST_PRP_2_DOCS_1.pdf\n"
              "     output to: ABCDEFGHSST_PRP_2_DOCS_2.pdf\n"
              "          ... finished writing SST_PRP_2.\n",
              r.out);
    EXPECT_EQ((std::vector<std::string>{document_file(1), document_file(2), kInput}),
              e2e::list_files(dir_));
    e2e::write_file(dir_ + "/first.pdf", first);
    e2e::write_file(dir_ + "/second.pdf", second);
    EXPECT_EQ(sha256("first.pdf"), sha256(document_file(1)));
    EXPECT_EQ(sha256("second.pdf"), sha256(document_file(2)));

    // Without the option: the one file of both, as ever.
    const e2e::RunResult joined = e2e::run_program({kInput}, dir_);
    EXPECT_EQ(0, joined.status) << joined.err;
    EXPECT_TRUE(output() == first + second) << output().size() << " bytes";
}

TEST_F(DocumentTest, SplitDocumentsAreNumberedFromOneInEveryInput)
{
    // Two sections of one file, then a second file: the numbers go on over
    // the sections of one input and start again with the next input, so a
    // file gives the same names alone as in a batch.
    const std::string pdf = sample_pdf();
    const std::string a = pdf.substr(0, 10), b = pdf.substr(10, 20), c = pdf.substr(30, 3),
                      d = pdf.substr(33, 40);
    e2e::write_file(dir_ + "/" + kInput,
                    product({section({base64_doc(a), base64_doc(b)}), section({base64_doc(c)})}));
    const std::string other_input = "ABCDEFGHSST_PSO_2_MORE.xml";
    e2e::write_file(dir_ + "/" + other_input, product({section({base64_doc(d)})}));
    const e2e::RunResult r =
        e2e::run_program({"--split-documents", kInput, other_input}, dir_);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(3u, count(r.out, "          ... finished writing SST_PRP_2.\n"));
    EXPECT_EQ(1u, count(r.out, "     output to: ABCDEFGHSST_PRP_2_MORE_1.pdf\n"));
    EXPECT_EQ(a, e2e::read_file(dir_ + "/" + document_file(1)));
    EXPECT_EQ(b, e2e::read_file(dir_ + "/" + document_file(2)));
    EXPECT_EQ(c, e2e::read_file(dir_ + "/" + document_file(3)));
    EXPECT_EQ(d, e2e::read_file(dir_ + "/ABCDEFGHSST_PRP_2_MORE_1.pdf"));
    EXPECT_EQ(6u, e2e::list_files(dir_).size());
}

TEST_F(DocumentTest, SplitDocumentThatCannotBeCreatedLeavesTheOthers)
{
    e2e::make_dir(dir_ + "/" + document_file(1));
    const std::string pdf = sample_pdf();
    e2e::write_file(dir_ + "/" + kInput, product({section({base64_doc("lost"), base64_doc(pdf)})}));
    const e2e::RunResult r = e2e::run_program({"--split-documents", kInput}, dir_);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(1u, count(r.err, "TAIHEN: "));
    EXPECT_NE(std::string::npos,
              r.err.find("TAIHEN: cannot create " + document_file(1) + ": Is a directory\n"))
        << r.err;
    EXPECT_TRUE(e2e::read_file(dir_ + "/" + document_file(2)) == pdf);
}

}  // namespace
