// Element vocabulary: the element names the product pass understands, with
// their codes per depth, and the header elements of the header pass.
#include "l2xml2ascii.h"

#include <array>
#include <cstring>

namespace {

// Names known at one depth; a name's code is its position, counted from 1.
struct DepthNames {
    const char* const* names;
    int count;
};

const char* const kDepth0[] = {"Data_Block"};
const char* const kDepth1[] = {"EGG_NOM_2", "SST_PSO_2"};
const char* const kDepth2[] = {"List_of_GG_time_Records", "SST_PCV_2", "SST_PKI_2",
                               "SST_PRD_2", "SST_PRM_2", "SST_PRP_2"};
const char* const kDepth3[] = {"GG_time_Record", "List_of_Covariance_Records",
                               "List_of_SP3c_Records", "List_of_Rotation_Records",
                               "List_of_PDF_Files"};
const char* const kDepth4[] = {"Time_Information", "Gravity_Gradients", "Sigmas",
                               "Flags", "Corrections", "Quaternions",
                               "Covariance_Record", "SP3c_Record", "Rotation_Record",
                               "PDF_File"};
const char* const kDepth5[] = {"GPS_Time", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                               "Temporal", "Calibration", "Q1", "Q2", "Q3", "Q4",
                               "Time_Information", "List_of_Satellite_IDs",
                               "Quaternions"};
const char* const kDepth6[] = {"Tidal", "Non-Tidal", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                               "GPS_Time", "L15", "Time_Since_Reference_Epoch",
                               "Q1", "Q2", "Q3", "Q4"};
const char* const kDepth7[] = {"Direct_Tides", "Solid_Earth", "Ocean_Tides",
                               "Pole_Tides", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                               "Start", "Position", "Velocity", "Clock",
                               "Clock_Change_Rate", "Standard_Deviations"};
const char* const kDepth8[] = {"XX", "YY", "ZZ", "XY", "XZ", "YZ", "Gregorian",
                               "X", "Y", "Z", "Position", "Velocity", "Clock",
                               "Clock_Change_Rate"};
const char* const kDepth9[] = {"Year", "Month", "Day_of_Month", "Hour", "Minute",
                               "Second"};

template <std::size_t N>
constexpr DepthNames depth_names(const char* const (&names)[N])
{
    return DepthNames{names, static_cast<int>(N)};
}

const DepthNames kVocabulary[kTagDepths] = {
    depth_names(kDepth0), depth_names(kDepth1), depth_names(kDepth2),
    depth_names(kDepth3), depth_names(kDepth4), depth_names(kDepth5),
    depth_names(kDepth6), depth_names(kDepth7), depth_names(kDepth8),
    depth_names(kDepth9),
};

// Header elements whose simultaneous opening marks the epoch reference.
struct HeaderElement {
    const char* name;
    int bit;
};

const HeaderElement kHeaderElements[] = {
    {"Earth_Explorer_Header", 1}, {"Variable_Header", 2}, {"SPH", 4},
    {"SST_PSO_2", 8},             {"SST_PRM_2", 16},      {"Epoch_Information", 32},
    {"Reference", 64},
};

// The whole of `name` equals `known`.  Every element start asks this of
// several names, most of which differ in their first byte.
bool same_name(const char* name, const char* known)
{
    while (*known != '\0' && *name == *known) {
        ++name;
        ++known;
    }
    return *name == '\0' && *known == '\0';
}

}  // namespace

int32_t GetNodeTagfromName(const char* name, int32_t depth)
{
    if (depth < 0 || depth >= kTagDepths)
        return -1;
    // Every element start asks this: the names of a depth are found through
    // a small hash of length, first and last byte, then compared in full.
    struct Slot {
        const char* name;  // null: empty slot
        int32_t code;
    };
    constexpr std::size_t kSlots = 64;  // a power of two, well above 16 names
    using Table = std::array<Slot, kSlots>;
    auto hash = [](const char* text, std::size_t length) {
        const unsigned char first = static_cast<unsigned char>(text[0]);
        const unsigned char last = static_cast<unsigned char>(length ? text[length - 1] : 0);
        return (length * 37 + first * 7 + last) & (kSlots - 1);
    };
    static const std::array<Table, kTagDepths> tables = [&hash] {
        std::array<Table, kTagDepths> result{};
        for (int d = 0; d < kTagDepths; ++d) {
            for (int i = 0; i < kVocabulary[d].count; ++i) {
                const char* known = kVocabulary[d].names[i];
                std::size_t slot = hash(known, std::strlen(known));
                while (result[d][slot].name != nullptr)
                    slot = (slot + 1) & (kSlots - 1);
                result[d][slot] = Slot{known, i + 1};
            }
        }
        return result;
    }();
    const Table& table = tables[static_cast<std::size_t>(depth)];
    for (std::size_t slot = hash(name, std::strlen(name)); table[slot].name != nullptr;
         slot = (slot + 1) & (kSlots - 1))
        if (same_name(name, table[slot].name))
            return table[slot].code;
    return -1;
}

int HDR_GetNodeTagfromFile(const char* name)
{
    for (const HeaderElement& element : kHeaderElements)
        if (same_name(name, element.name))
            return element.bit;
    return 0;
}
