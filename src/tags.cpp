// Element vocabulary: look-up of element names by depth, and the header
// elements of the header pass.
#include "tags.h"

namespace {

// Header elements whose simultaneous opening marks the epoch reference.
struct HeaderElement {
    const char* name;
    int bit;
};

constexpr HeaderElement kHeaderElements[] = {
    {"Earth_Explorer_Header", 1}, {"Variable_Header", 2}, {"SPH", 4},
    {"SST_PSO_2", 8},             {"SST_PRM_2", 16},      {"Epoch_Information", 32},
    {"Reference", 64},
};

constexpr int all_header_bits()
{
    int bits = 0;
    for (const HeaderElement& element : kHeaderElements)
        bits |= element.bit;
    return bits;
}
static_assert(all_header_bits() == kAllHeaderElements, "one bit per header element");

}  // namespace

int32_t GetNodeTagfromName(const char* name, int32_t depth)
{
    // The product pass remembers the codes of the names it has seen, so this
    // is asked about once per distinct name and depth.
    return vocabulary::code_of(name, depth);
}

int HDR_GetNodeTagfromFile(const char* name)
{
    for (const HeaderElement& element : kHeaderElements)
        if (vocabulary::same_name(name, element.name))
            return element.bit;
    return 0;
}
