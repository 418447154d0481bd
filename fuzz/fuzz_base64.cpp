// libFuzzer harness for the base64 codec: decoding any bytes, and encoding
// any bytes and decoding the text again.
//
// Decoder invariants: with n the count of alphabet characters and "=" in the
// text, the reported length is 3 * (n / 4) + 1 and the last byte is the NUL;
// the pad count of the last complete group lies in 0..4 (0 with no group).
// Round trip: the text of k bytes decodes to the k bytes, then zero bytes for
// the pad characters, then the NUL.
#include "base64.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "HARNESS: %s\n", what);
    std::abort();
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // An exact copy without a closing NUL, so that a read past the end is seen.
    std::unique_ptr<char[]> text(new char[size]);
    if (size > 0)
        std::memcpy(text.get(), data, size);
    const int32_t length = static_cast<int32_t>(size);

    size_t counted = 0;
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '=' || (data[i] != 0 && std::strchr(kAlphabet, data[i]) != nullptr))
            ++counted;

    int32_t out_length = -1, pads = -1;
    std::unique_ptr<unsigned char, FreeDeleter> decoded(
        base64_decode_counting_pads(text.get(), length, &out_length, &pads));
    if (!decoded)
        fail("decoder gave no buffer");
    if (static_cast<size_t>(out_length) != 3 * (counted / 4) + 1)
        fail("decoded length is not 3 * (characters / 4) + 1");
    if (decoded.get()[out_length - 1] != '\0')
        fail("decoded text does not end with NUL");
    if (pads < 0 || pads > 4 || (counted < 4 && pads != 0))
        fail("pad count out of range");

    int32_t plain_length = -1;
    std::unique_ptr<unsigned char, FreeDeleter> plain(
        base64_decode(text.get(), length, &plain_length));
    if (!plain || plain_length != out_length ||
        std::memcmp(plain.get(), decoded.get(), static_cast<size_t>(out_length)) != 0)
        fail("base64_decode and base64_decode_counting_pads disagree");

    // Round trip of the raw bytes.
    int32_t encoded_length = -1;
    std::unique_ptr<char, FreeDeleter> encoded(
        base64_encode(data, length, &encoded_length));
    if (!encoded || static_cast<size_t>(encoded_length) != 4 * ((size + 2) / 3) ||
        encoded.get()[encoded_length] != '\0')
        fail("encoded length");
    int32_t back_length = -1, back_pads = -1;
    std::unique_ptr<unsigned char, FreeDeleter> back(base64_decode_counting_pads(
        encoded.get(), encoded_length, &back_length, &back_pads));
    const int32_t expected_pads = static_cast<int32_t>((3 - size % 3) % 3);
    if (!back || back_length != encoded_length / 4 * 3 + 1 || back_pads != expected_pads)
        fail("round trip length or pads");
    if (size > 0 && std::memcmp(back.get(), data, size) != 0)
        fail("round trip changed the bytes");
    for (int32_t i = length; i < back_length; ++i)
        if (back.get()[i] != 0)
            fail("round trip: pad bytes or end not zero");
    return 0;
}
