// Base64 codec: decoding with pad and layout characters, encoding, round trips.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base64.h"
#include "l2xml2ascii.h"

namespace {

using namespace std::string_literals;

// The document bytes the document path hands on.
struct CollectedDocument : RecordOutput {
    std::string bytes;
    void report(MessageKind, const std::string&) override {}
    bool takes_documents() override { return true; }
    void document_bytes(const char* data, std::size_t size) override { bytes.append(data, size); }
};

// The text of one base64 PDF_File through the document product's own
// operations: its "encoding" attribute, then its text.
std::string document_of(const std::string& text)
{
    const ProductDescription& documents = *find_product("SST_PRP_2");
    ProductRecordsPtr records = make_product_records();
    TagPath tags{};
    for (std::size_t d = 0; d < documents.record.length; ++d)
        tags[d] = documents.record.codes[d];
    const char* encoding[] = {"Base64", nullptr};
    documents.attributes[0].put(*records, tags, encoding);
    CollectedDocument out;
    documents.put_text(*records, tags, text.c_str(), out);
    return out.bytes;
}  // "..."s keeps embedded NULs

struct Decoded {
    std::string bytes;  // everything the buffer holds, closing NUL included
    int32_t pads = -1;
};

// Decodes `text` with both entry points, checks they agree and that the buffer
// ends in a NUL counted by the reported length.
Decoded Decode(const std::string& text) {
    Decoded out;
    const int32_t len = static_cast<int32_t>(text.size());
    int32_t n1 = -1, n2 = -1;
    unsigned char* b1 = base64_decode(text.data(), len, &n1);
    unsigned char* b2 = base64_decode_counting_pads(text.data(), len, &n2, &out.pads);
    EXPECT_NE(b1, nullptr);
    EXPECT_NE(b2, nullptr);
    if (b1 && b2 && n1 >= 1) {
        out.bytes.assign(reinterpret_cast<char*>(b1), static_cast<size_t>(n1));
        EXPECT_EQ(out.bytes.back(), '\0');
        EXPECT_EQ(n2, n1);
        if (n2 == n1) {
            EXPECT_EQ(std::memcmp(b1, b2, static_cast<size_t>(n1)), 0);
        }
    }
    std::free(b1);
    std::free(b2);
    return out;
}

std::string Encode(const std::string& data) {
    int32_t n = -1;
    char* text = base64_encode(reinterpret_cast<const unsigned char*>(data.data()),
                               static_cast<int32_t>(data.size()), &n);
    EXPECT_NE(text, nullptr);
    if (!text) return {};
    std::string out(text, static_cast<size_t>(n));
    EXPECT_EQ(std::strlen(text), static_cast<size_t>(n));
    std::free(text);
    return out;
}

TEST(Base64Decode, Groups) {
    struct Case { std::string text; std::string bytes; int32_t pads; };
    const Case cases[] = {
        {"TWFu", "Man\0"s, 0},
        {"TQ==", "M\0\0\0"s, 2},              // one data byte, two zero bytes
        {"TWE=", "Ma\0\0"s, 1},
        {"Zm9vYmFy", "foobar\0"s, 0},
        {"Zm9vYmE=", "fooba\0\0"s, 1},
        {"Zm9vYg==", "foob\0\0\0"s, 2},
        {"TWFuTWF", "Man\0"s, 0},             // trailing 3 characters yield nothing
        {"TWE=TW", "Ma\0\0"s, 1},             // pads of the last complete group
        {"", "\0"s, 0},
        {"T", "\0"s, 0},
        {"TW", "\0"s, 0},
        {"TWF", "\0"s, 0},
        {"TQ==TWFu", "M\0\0Man\0"s, 0},       // "=" does not end the text
        {"====", "\0\0\0\0"s, 4},
        {"TW=u", "M`.\0"s, 1},                // "=" is value 0 wherever it stands
        {"////", "\xff\xff\xff\0"s, 0},
        {"+/8=", "\xfb\xff\0\0"s, 1},
        {"AAAA", "\0\0\0\0"s, 0},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.text);
        EXPECT_EQ(d.bytes, c.bytes) << '"' << c.text << '"';
        EXPECT_EQ(d.pads, c.pads) << '"' << c.text << '"';
    }
}

// Every character outside the alphabet other than "=" is skipped, wherever it
// stands, so line breaks and indentation change nothing.
TEST(Base64Decode, SkipsCharactersOutsideTheAlphabet) {
    const std::string texts[] = {
        "TWFu\r\nTQ==",
        "TW\r\nFuTQ\r\n==\r\n",
        "\r\n\r\nT\rW\nFu  TQ=\r\n=",
        "    TWFu\n    TQ==\n",
        "\tT W\tF u\vT\fQ = =",
        "TW-Fu_TQ.==",                       // URL-safe letters are no alphabet
        "\x80TWFu\xffTQ\xc3\xa9==\x7f",
        "TW\0Fu\0TQ==\0"s,                   // the length, not a NUL, ends the text
    };
    for (const auto& t : texts) {
        const Decoded d = Decode(t);
        EXPECT_EQ(d.bytes, "ManM\0\0\0"s) << testing::PrintToString(t);
        EXPECT_EQ(d.pads, 2) << testing::PrintToString(t);
    }
    // Skipped characters do not complete a group.
    EXPECT_EQ(Decode("TWF\r\n \t\xff").bytes, "\0"s);
    EXPECT_EQ(Decode("\r\n\r\n").bytes, "\0"s);
    EXPECT_EQ(Decode("\r\n\r\n").pads, 0);
}

TEST(Base64Decode, ReadsOnlyTheGivenLength) {
    const char text[] = "TWFuTWFu";
    int32_t n = -1;
    unsigned char* out = base64_decode(text, 4, &n);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::memcmp(out, "Man", 4), 0);
    std::free(out);
    out = base64_decode(text, 0, &n);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(out[0], 0);
    std::free(out);
}

TEST(Base64Decode, TableRebuiltAfterCleanup) {
    const std::string text = "Zm9v\r\nYmE=";
    const Decoded first = Decode(text);
    EXPECT_EQ(Decode(text).bytes, first.bytes);
    base64_cleanup();
    EXPECT_EQ(Decode(text).bytes, first.bytes);
    base64_cleanup();
    base64_build_decoding_table();
    EXPECT_EQ(Decode(text).bytes, first.bytes);
    EXPECT_EQ(first.bytes, "fooba\0\0"s);
}

TEST(Base64Encode, Vectors) {
    struct Case { std::string data; std::string text; };
    const Case cases[] = {
        {"", ""},           {"f", "Zg=="},          {"fo", "Zm8="},
        {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},   {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\0"s, "AA=="},    {"\0\0\0"s, "AAAA"},
        {"\x80", "gA=="},   {"\xfb\xff", "+/8="},   {"\xff\xfe\xfd", "//79"},
        {"\xfb\xef\xbe", "++++"},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.data), c.text) << c.text;
}

// Encoding random data of every length and decoding the text again, as it is
// and laid out in indented CRLF lines of 76 characters.
TEST(Base64, RoundTrips) {
    std::mt19937 rng(20240611u);
    for (size_t len = 0; len <= 300; ++len) {
        std::string data(len, '\0');
        for (auto& ch : data) ch = static_cast<char>(rng() & 0xFF);

        const std::string text = Encode(data);
        ASSERT_EQ(text.size(), 4 * ((len + 2) / 3)) << len;
        const size_t pads = (3 - len % 3) % 3;
        ASSERT_EQ(text.find('='), pads ? text.size() - pads : std::string::npos) << len;

        const std::string expected = data + std::string(pads, '\0') + '\0';
        std::string crlf, indented;
        for (size_t i = 0; i < text.size(); i += 76) {
            crlf += text.substr(i, 76) + "\r\n";
            indented += "  " + text.substr(i, 76) + "\n";
        }
        for (const std::string& t : {text, crlf, indented}) {
            const Decoded d = Decode(t);
            EXPECT_EQ(d.bytes, expected) << len;
            EXPECT_EQ(d.pads, static_cast<int32_t>(pads)) << len;
        }
    }
}

// A piece decodes into exactly the room the decoder promises, whatever the
// group carried over from the piece before: the pair-of-groups stores write
// one byte past each group and must not run past that room.
TEST(Base64Decoder, PiecesStayInsideTheRoomPromised) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 rng(20261208u);
    for (size_t carried = 0; carried < 4; ++carried) {
        for (size_t length = 0; length <= 40; ++length) {
            std::string text(carried + length, 'A');
            for (char& c : text) c = alphabet[rng() % 64];
            const Decoded whole = Decode(text);

            Base64Decoder decoder;
            std::vector<unsigned char> head(3 * (carried / 4 + 1));
            ASSERT_EQ(decoder.decode(text.data(), carried, head.data()), 0u);
            std::vector<unsigned char> piece(3 * (length / 4 + 1));  // exactly the room
            const size_t n = decoder.decode(text.data() + carried, length, piece.data());
            ASSERT_EQ(n, 3 * ((carried + length) / 4)) << carried << " + " << length;
            EXPECT_EQ(std::string(piece.begin(), piece.begin() + static_cast<long>(n)), whole.bytes.substr(0, n))
                << carried << " + " << length;
        }
    }
}

// The document file holds the decoded bytes less the pad bytes of the last
// complete group, whether the text is decoded at once or piece by piece:
// texts around the piece size, groups and pads across piece boundaries,
// characters outside the alphabet anywhere, "=" in odd places.
TEST(Base64Document, PiecesGiveTheBytesOfTheWholeDecoding) {
    std::mt19937 rng(20261207u);
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t lengths[] = {0, 1, 3, 4, 5, 65535, 65536, 65537, 65539, 131075, 200001};
    for (size_t length : lengths) {
        for (int variant = 0; variant < 6; ++variant) {
            std::string text(length, 'A');
            for (char& c : text) {
                const unsigned r = rng() % 100;
                c = r < 90 ? alphabet[rng() % 64] : r < 95 ? '\n' : r < 97 ? '=' : static_cast<char>(rng() % 255 + 1);
            }
            if (variant == 1 || variant == 2) {
                // A last complete group of "====" (or "AA=="), which may
                // start a piece: its pad bytes are dropped, nothing before it.
                const size_t significant = static_cast<size_t>(std::count_if(
                    text.begin(), text.end(), [&](char c) { return c == '=' || alphabet.find(c) != std::string::npos; }));
                text += std::string((4 - significant % 4) % 4, 'Q') + (variant == 1 ? "====" : "AA==");
            }

            int32_t n = 0, pads = 0;
            unsigned char* whole = base64_decode_counting_pads(text.c_str(), static_cast<int32_t>(text.size()), &n, &pads);
            if (variant == 1 || variant == 2) {
                EXPECT_EQ(pads, variant == 1 ? 4 : 2);
            }
            ASSERT_NE(whole, nullptr);
            // A group yields three bytes, so no more than three are pad.
            const long kept = static_cast<long>(n) - 1 - std::min(pads, 3);
            const std::string expected = kept > 0 ? std::string(reinterpret_cast<char*>(whole), static_cast<size_t>(kept)) : "";
            std::free(whole);

            const std::string written = document_of(text);
            EXPECT_TRUE(written == expected) << "length " << length << ", variant " << variant << ": "
                                             << written.size() << " bytes written, " << expected.size() << " expected";
        }
    }
}

}  // namespace
