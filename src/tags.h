// Element vocabulary: the element names the product pass understands, by
// depth, and the tag paths written with them.  Everything here is known at
// compile time: a path names its elements, and a name that is not listed at
// its depth stops the build.
#ifndef L2_TAGS_H
#define L2_TAGS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

// Deepest element depth that gets a tag path entry, plus one.
constexpr int kTagDepths = 10;

// Entry d holds the tag code of the element open at depth d, or 0.
using TagPath = std::array<int32_t, kTagDepths>;

namespace vocabulary {

// Names known at one depth; a name's code is its position, counted from 1.
constexpr const char* kDepth0[] = {"Data_Block"};
constexpr const char* kDepth1[] = {"EGG_NOM_2", "SST_PSO_2"};
constexpr const char* kDepth2[] = {"List_of_GG_time_Records", "SST_PCV_2", "SST_PKI_2",
                                   "SST_PRD_2", "SST_PRM_2", "SST_PRP_2"};
constexpr const char* kDepth3[] = {"GG_time_Record", "List_of_Covariance_Records",
                                   "List_of_SP3c_Records", "List_of_Rotation_Records",
                                   "List_of_PDF_Files"};
constexpr const char* kDepth4[] = {"Time_Information", "Gravity_Gradients", "Sigmas",
                                   "Flags", "Corrections", "Quaternions",
                                   "Covariance_Record", "SP3c_Record", "Rotation_Record",
                                   "PDF_File"};
constexpr const char* kDepth5[] = {"GPS_Time", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                                   "Temporal", "Calibration", "Q1", "Q2", "Q3", "Q4",
                                   "Time_Information", "List_of_Satellite_IDs",
                                   "Quaternions"};
constexpr const char* kDepth6[] = {"Tidal", "Non-Tidal", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                                   "GPS_Time", "L15", "Time_Since_Reference_Epoch",
                                   "Q1", "Q2", "Q3", "Q4"};
constexpr const char* kDepth7[] = {"Direct_Tides", "Solid_Earth", "Ocean_Tides",
                                   "Pole_Tides", "XX", "YY", "ZZ", "XY", "XZ", "YZ",
                                   "Start", "Position", "Velocity", "Clock",
                                   "Clock_Change_Rate", "Standard_Deviations"};
constexpr const char* kDepth8[] = {"XX", "YY", "ZZ", "XY", "XZ", "YZ", "Gregorian",
                                   "X", "Y", "Z", "Position", "Velocity", "Clock",
                                   "Clock_Change_Rate"};
constexpr const char* kDepth9[] = {"Year", "Month", "Day_of_Month", "Hour", "Minute",
                                   "Second"};

struct DepthNames {
    const char* const* names;
    int count;
};

template <std::size_t N>
constexpr DepthNames depth_names(const char* const (&names)[N])
{
    return DepthNames{names, static_cast<int>(N)};
}

constexpr DepthNames kByDepth[kTagDepths] = {
    depth_names(kDepth0), depth_names(kDepth1), depth_names(kDepth2),
    depth_names(kDepth3), depth_names(kDepth4), depth_names(kDepth5),
    depth_names(kDepth6), depth_names(kDepth7), depth_names(kDepth8),
    depth_names(kDepth9),
};

// The whole of `name` equals `known`.
constexpr bool same_name(const char* name, const char* known)
{
    while (*known != '\0' && *name == *known) {
        ++name;
        ++known;
    }
    return *name == '\0' && *known == '\0';
}

// Tag code of `name` at `depth`: 1, 2, ... within the depth's list, else -1.
constexpr int32_t code_of(const char* name, int depth)
{
    if (depth < 0 || depth >= kTagDepths)
        return -1;
    for (int i = 0; i < kByDepth[depth].count; ++i)
        if (same_name(name, kByDepth[depth].names[i]))
            return i + 1;
    return -1;
}

// code_of for a name that must be listed: one that is not stops the build
// (a throw cannot be evaluated at compile time).
constexpr int32_t listed_code(const char* name, int depth)
{
    const int32_t code = code_of(name, depth);
    return code > 0 ? code : throw "element name not listed at this depth";
}

// The element tag table: how many names each depth lists, and the codes
// that tables and files of this system have always used.
static_assert(kByDepth[0].count == 1 && kByDepth[1].count == 2 && kByDepth[2].count == 6 &&
              kByDepth[3].count == 5 && kByDepth[4].count == 10 && kByDepth[5].count == 16 &&
              kByDepth[6].count == 15 && kByDepth[7].count == 16 && kByDepth[8].count == 14 &&
              kByDepth[9].count == 6, "names per depth");
static_assert(code_of("Data_Block", 0) == 1 && code_of("EGG_NOM_2", 1) == 1 &&
              code_of("SST_PSO_2", 1) == 2, "depths 0 and 1");
static_assert(code_of("List_of_GG_time_Records", 2) == 1 && code_of("SST_PCV_2", 2) == 2 &&
              code_of("SST_PKI_2", 2) == 3 && code_of("SST_PRD_2", 2) == 4 &&
              code_of("SST_PRM_2", 2) == 5 && code_of("SST_PRP_2", 2) == 6, "depth 2");
static_assert(code_of("GG_time_Record", 3) == 1 && code_of("List_of_Covariance_Records", 3) == 2 &&
              code_of("List_of_SP3c_Records", 3) == 3 &&
              code_of("List_of_Rotation_Records", 3) == 4 &&
              code_of("List_of_PDF_Files", 3) == 5, "depth 3");
static_assert(code_of("Time_Information", 4) == 1 && code_of("Gravity_Gradients", 4) == 2 &&
              code_of("Sigmas", 4) == 3 && code_of("Flags", 4) == 4 &&
              code_of("Corrections", 4) == 5 && code_of("Quaternions", 4) == 6 &&
              code_of("Covariance_Record", 4) == 7 && code_of("SP3c_Record", 4) == 8 &&
              code_of("Rotation_Record", 4) == 9 && code_of("PDF_File", 4) == 10, "depth 4");
static_assert(code_of("GPS_Time", 5) == 1 && code_of("XX", 5) == 2 && code_of("YZ", 5) == 7 &&
              code_of("Temporal", 5) == 8 && code_of("Calibration", 5) == 9 &&
              code_of("Q1", 5) == 10 && code_of("Q4", 5) == 13 &&
              code_of("Time_Information", 5) == 14 && code_of("List_of_Satellite_IDs", 5) == 15 &&
              code_of("Quaternions", 5) == 16, "depth 5");
static_assert(code_of("Tidal", 6) == 1 && code_of("Non-Tidal", 6) == 2 && code_of("XX", 6) == 3 &&
              code_of("YZ", 6) == 8 && code_of("GPS_Time", 6) == 9 && code_of("L15", 6) == 10 &&
              code_of("Time_Since_Reference_Epoch", 6) == 11 && code_of("Q1", 6) == 12 &&
              code_of("Q4", 6) == 15, "depth 6");
static_assert(code_of("Direct_Tides", 7) == 1 && code_of("Solid_Earth", 7) == 2 &&
              code_of("Ocean_Tides", 7) == 3 && code_of("Pole_Tides", 7) == 4 &&
              code_of("XX", 7) == 5 && code_of("YZ", 7) == 10 && code_of("Start", 7) == 11 &&
              code_of("Position", 7) == 12 && code_of("Velocity", 7) == 13 &&
              code_of("Clock", 7) == 14 && code_of("Clock_Change_Rate", 7) == 15 &&
              code_of("Standard_Deviations", 7) == 16, "depth 7");
static_assert(code_of("XX", 8) == 1 && code_of("YZ", 8) == 6 && code_of("Gregorian", 8) == 7 &&
              code_of("X", 8) == 8 && code_of("Y", 8) == 9 && code_of("Z", 8) == 10 &&
              code_of("Position", 8) == 11 && code_of("Velocity", 8) == 12 &&
              code_of("Clock", 8) == 13 && code_of("Clock_Change_Rate", 8) == 14, "depth 8");
static_assert(code_of("Year", 9) == 1 && code_of("Month", 9) == 2 &&
              code_of("Day_of_Month", 9) == 3 && code_of("Hour", 9) == 4 &&
              code_of("Minute", 9) == 5 && code_of("Second", 9) == 6, "depth 9");

}  // namespace vocabulary

// A run of tag path entries from some depth on, held in place; empty means
// "none".
struct CodePath {
    int32_t codes[kTagDepths] = {};
    std::size_t length = 0;
    bool closed = false;  // ends in 0: "and nothing open below"
};

// The path of the elements named, the first at depth `first_depth`.
constexpr CodePath path_from(int first_depth, std::initializer_list<const char*> names)
{
    CodePath path;
    int depth = first_depth;
    for (const char* name : names)
        path.codes[path.length++] = vocabulary::listed_code(name, depth++);
    return path;
}

// The path of the elements named from depth 0 on (Data_Block, ...).
constexpr CodePath tag_path(std::initializer_list<const char*> names)
{
    return path_from(0, names);
}

// `path` with nothing open below its last element.
constexpr CodePath nothing_below(CodePath path)
{
    path.codes[path.length++] = 0;
    path.closed = true;
    return path;
}

// True when entries 0, 1, ... of `tags` hold `codes` in order; the entries
// behind them are not looked at.  A code of 0 means "nothing open there".
inline bool tag_path_shows(const TagPath& tags, const int32_t* codes, std::size_t count)
{
    // Two entries at a time, as one 64-bit word.
    std::size_t d = 0;
    for (; d + 2 <= count; d += 2) {
        uint64_t open_pair;
        uint64_t code_pair;
        std::memcpy(&open_pair, &tags[d], sizeof open_pair);
        std::memcpy(&code_pair, codes + d, sizeof code_pair);
        if (open_pair != code_pair)
            return false;
    }
    return d == count || tags[d] == codes[d];
}

// The tag path shows `path` (from depth 0); never for an empty path.
inline bool tag_path_shows(const TagPath& tags, const CodePath& path)
{
    return path.length > 0 && tag_path_shows(tags, path.codes, path.length);
}

// Entries `first_depth`, `first_depth` + 1, ... of `tags` hold `path`.
inline bool tag_path_shows_from(const TagPath& tags, int first_depth, const CodePath& path)
{
    for (std::size_t d = 0; d < path.length; ++d)
        if (tags[static_cast<std::size_t>(first_depth) + d] != path.codes[d])
            return false;
    return true;
}

// Tag code of `name` at `depth`: 1, 2, ... within the depth's list, else -1.
int32_t GetNodeTagfromName(const char* name, int32_t depth);

// Header elements whose simultaneous opening marks the epoch reference, one
// bit each; all of them open at once make kAllHeaderElements.
constexpr int kAllHeaderElements = 127;

// Header bit of a header element name, 0 for any other name.
int HDR_GetNodeTagfromFile(const char* name);

#endif  // L2_TAGS_H
