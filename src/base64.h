// Base64 codec (RFC 4648 alphabet, "=" as pad character).
#ifndef L2_BASE64_H
#define L2_BASE64_H

#include <cstddef>
#include <cstdint>

unsigned char* base64_decode(const char* data, int32_t input_length, int32_t* output_length);
char* base64_encode(const unsigned char* data, int32_t input_length, int32_t* output_length);
void base64_build_decoding_table();
void base64_cleanup();

// base64_decode that also tells how many "=" stood among the four characters
// of the last complete group, i.e. how many zero bytes before the NUL are pad.
unsigned char* base64_decode_counting_pads(const char* data, int32_t input_length,
                                           int32_t* output_length, int32_t* last_group_pads);

// The decoding of base64_decode_counting_pads, a piece of text at a time: a
// group may run over from one piece into the next.
class Base64Decoder {
public:
    // Decodes `length` characters into `decoded`, which has room for three
    // bytes per complete group: 3 * (length / 4 + 1) is always enough.
    // Returns the number of bytes written.
    std::size_t decode(const char* data, std::size_t length, unsigned char* decoded);
    // "=" among the characters of the last complete group so far.
    int32_t last_group_pads() const { return last_group_pads_; }

private:
    uint32_t group_ = 0;           // values of the open group's characters
    int in_group_ = 0;             // characters of the open group
    int32_t group_pads_ = 0;       // "=" among them
    int32_t last_group_pads_ = 0;
};

#endif  // L2_BASE64_H
