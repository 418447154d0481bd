// Base64 codec (RFC 4648 alphabet, "=" as pad character).
//
// Decoding is lenient: "=" stands for the value 0 wherever it stands, and
// every other character outside the alphabet (line breaks, blanks, tabs, bytes
// above 127) is skipped, so wrapped and indented text decodes like the same
// text on one line.
#include "base64.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char encoding_table[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Pad characters the encoder appends for an input length modulo 3.
const int32_t mod_table[] = {0, 2, 1};

constexpr signed char kSkip = -1;
constexpr signed char kPad = -2;

// Reverse table: the value 0..63 of an alphabet character, kPad for "=",
// kSkip for everything else.
struct DecodingTable {
    signed char value[256];
    constexpr signed char operator[](std::size_t c) const { return value[c]; }
};

constexpr DecodingTable make_decoding_table()
{
    DecodingTable t{};
    for (int c = 0; c < 256; ++c)
        t.value[c] = kSkip;
    for (int v = 0; v < 64; ++v)
        t.value[static_cast<unsigned char>(encoding_table[v])] = static_cast<signed char>(v);
    t.value[static_cast<unsigned char>('=')] = kPad;
    return t;
}

constexpr DecodingTable decoding_table = make_decoding_table();

// For the whole-group path: the value of a character at each of the four
// places of a group, already placed in the group's three bytes as a
// little-endian word holds them; kNotPlaced for "=" and every character
// outside the alphabet.
constexpr uint32_t kNotPlaced = 0x01000000;

struct PlacedValues {
    uint32_t at[4][256];
};

constexpr PlacedValues make_placed_values()
{
    PlacedValues t{};
    for (int place = 0; place < 4; ++place)
        for (int c = 0; c < 256; ++c)
            t.at[place][c] = kNotPlaced;
    for (uint32_t v = 0; v < 64; ++v) {
        const auto c = static_cast<unsigned char>(encoding_table[v]);
        // A group's bits: v0 << 18 | v1 << 12 | v2 << 6 | v3, bytes high first.
        t.at[0][c] = v << 2;
        t.at[1][c] = v >> 4 | (v & 0xF) << 12;
        t.at[2][c] = (v >> 2) << 8 | (v & 0x3) << 22;
        t.at[3][c] = v << 16;
    }
    return t;
}

constexpr PlacedValues kPlaced = make_placed_values();

}  // namespace

// The table is built at compile time; these remain for callers that still
// ask for it to be built and released.
void base64_build_decoding_table() {}

void base64_cleanup() {}

std::size_t Base64Decoder::decode(const char* data, std::size_t length, unsigned char* decoded)
{
    std::size_t out = 0;
    std::size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const std::size_t room = 3 * (length / 4 + 1);  // what the caller provides
#endif
    while (i < length) {
        // Whole groups of four alphabet characters, the usual case, at once.
        if (in_group_ == 0) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            // Two groups at a time while eight characters are left: each
            // group's three bytes come from four table look-ups and go out
            // in one 4-byte store, whose last byte the next store writes
            // over, so the pair needs seven bytes of the room promised above
            // (a group carried over from the last piece may have used some).
            while (i + 8 <= length && out + 7 <= room) {
                const unsigned char* in = reinterpret_cast<const unsigned char*>(data + i);
                const uint32_t first = kPlaced.at[0][in[0]] | kPlaced.at[1][in[1]] |
                                       kPlaced.at[2][in[2]] | kPlaced.at[3][in[3]];
                const uint32_t second = kPlaced.at[0][in[4]] | kPlaced.at[1][in[5]] |
                                        kPlaced.at[2][in[6]] | kPlaced.at[3][in[7]];
                if (((first | second) & kNotPlaced) != 0)
                    break;
                std::memcpy(decoded + out, &first, 4);
                std::memcpy(decoded + out + 3, &second, 4);
                out += 6;
                last_group_pads_ = 0;
                i += 8;
            }
#endif
            while (i + 4 <= length) {
                const signed char a = decoding_table[static_cast<unsigned char>(data[i])];
                const signed char b = decoding_table[static_cast<unsigned char>(data[i + 1])];
                const signed char c = decoding_table[static_cast<unsigned char>(data[i + 2])];
                const signed char d = decoding_table[static_cast<unsigned char>(data[i + 3])];
                if ((a | b | c | d) < 0)
                    break;
                const uint32_t v = static_cast<uint32_t>(a) << 18 | static_cast<uint32_t>(b) << 12 |
                                   static_cast<uint32_t>(c) << 6 | static_cast<uint32_t>(d);
                decoded[out++] = static_cast<unsigned char>(v >> 16);
                decoded[out++] = static_cast<unsigned char>(v >> 8);
                decoded[out++] = static_cast<unsigned char>(v);
                last_group_pads_ = 0;
                i += 4;
            }
            if (i >= length)
                break;
        }
        const signed char value = decoding_table[static_cast<unsigned char>(data[i++])];
        if (value == kSkip)
            continue;
        if (value == kPad) {
            group_ <<= 6;
            ++group_pads_;
        } else {
            group_ = (group_ << 6) | static_cast<uint32_t>(value);
        }
        if (++in_group_ == 4) {
            decoded[out++] = static_cast<unsigned char>(group_ >> 16);
            decoded[out++] = static_cast<unsigned char>(group_ >> 8);
            decoded[out++] = static_cast<unsigned char>(group_);
            last_group_pads_ = group_pads_;
            group_ = 0;
            in_group_ = 0;
            group_pads_ = 0;
        }
    }
    return out;
}

unsigned char* base64_decode_counting_pads(const char* data, int32_t input_length,
                                           int32_t* output_length, int32_t* last_group_pads)
{
    *output_length = 0;
    *last_group_pads = 0;
    const std::size_t length = input_length > 0 ? static_cast<std::size_t>(input_length) : 0;
    // Three bytes per four characters, and the closing NUL.
    unsigned char* decoded = static_cast<unsigned char*>(std::malloc(3 * (length / 4) + 1));
    if (decoded == nullptr)
        return nullptr;
    Base64Decoder decoder;
    const std::size_t out = decoder.decode(data, length, decoded);
    decoded[out] = '\0';
    *output_length = static_cast<int32_t>(out + 1);
    *last_group_pads = decoder.last_group_pads();
    return decoded;
}

unsigned char* base64_decode(const char* data, int32_t input_length, int32_t* output_length)
{
    int32_t pads = 0;
    return base64_decode_counting_pads(data, input_length, output_length, &pads);
}

char* base64_encode(const unsigned char* data, int32_t input_length, int32_t* output_length)
{
    const std::size_t length = input_length > 0 ? static_cast<std::size_t>(input_length) : 0;
    const std::size_t text_length = 4 * ((length + 2) / 3);
    *output_length = static_cast<int32_t>(text_length);
    char* text = static_cast<char*>(std::malloc(text_length + 1));
    if (text == nullptr)
        return nullptr;

    std::size_t out = 0;
    for (std::size_t i = 0; i < length; i += 3) {
        const uint32_t b1 = data[i];
        const uint32_t b2 = i + 1 < length ? data[i + 1] : 0;
        const uint32_t b3 = i + 2 < length ? data[i + 2] : 0;
        const uint32_t v = (b1 << 16) | (b2 << 8) | b3;
        text[out++] = encoding_table[(v >> 18) & 0x3F];
        text[out++] = encoding_table[(v >> 12) & 0x3F];
        text[out++] = encoding_table[(v >> 6) & 0x3F];
        text[out++] = encoding_table[v & 0x3F];
    }
    for (int32_t i = 0; i < mod_table[length % 3]; ++i)
        text[text_length - 1 - i] = '=';
    text[text_length] = '\0';
    return text;
}
