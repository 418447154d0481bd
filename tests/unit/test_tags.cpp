// Element vocabulary: product element codes by depth and header element bits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tags.h"

namespace {

// The run-time look-up agrees with the vocabulary the paths are built from
// (whose codes are pinned at compile time): every listed name has its code
// at its depth and no code, or another one, at every other depth.
TEST(GetNodeTagfromName, AgreesWithTheVocabularyAtEveryDepth) {
    for (int listed = 0; listed < kTagDepths; ++listed) {
        const vocabulary::DepthNames& names = vocabulary::kByDepth[listed];
        for (int i = 0; i < names.count; ++i) {
            const char* name = names.names[i];
            EXPECT_EQ(GetNodeTagfromName(name, listed), i + 1) << name << " at " << listed;
            for (int d = 0; d < kTagDepths; ++d)
                EXPECT_EQ(GetNodeTagfromName(name, d), vocabulary::code_of(name, d))
                    << name << " at " << d;
        }
    }
}

TEST(GetNodeTagfromName, NamesAtSeveralDepths) {
    struct Case { const char* name; int depth; int32_t code; };
    const Case cases[] = {
        {"Time_Information", 4, 1}, {"Time_Information", 5, 14},
        {"Quaternions", 4, 6},      {"Quaternions", 5, 16},
        {"GPS_Time", 5, 1},         {"GPS_Time", 6, 9},
        {"XX", 5, 2}, {"XX", 6, 3}, {"XX", 7, 5}, {"XX", 8, 1}, {"XX", 9, -1}, {"XX", 4, -1},
        {"YZ", 5, 7}, {"YZ", 6, 8}, {"YZ", 7, 10}, {"YZ", 8, 6},
        {"Q4", 5, 13}, {"Q4", 6, 15}, {"Q1", 5, 10}, {"Q1", 6, 12},
        {"Position", 7, 12}, {"Position", 8, 11},
        {"Clock_Change_Rate", 7, 15}, {"Clock_Change_Rate", 8, 14},
        {"X", 8, 8}, {"X", 7, -1}, {"Second", 9, 6}, {"Second", 8, -1},
        {"SST_PSO_2", 1, 2}, {"SST_PSO_2", 2, -1}, {"SST_PRP_2", 2, 6}, {"SST_PRP_2", 1, -1},
        {"Data_Block", 0, 1}, {"Data_Block", 1, -1},
        {"Tidal", 6, 1}, {"Non-Tidal", 6, 2}, {"Month", 9, 2}, {"Day_of_Month", 9, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetNodeTagfromName(c.name, c.depth), c.code) << c.name << " at " << c.depth;
}

// Matching is over the whole name, byte for byte.
TEST(GetNodeTagfromName, NearMissesAreUnknown) {
    struct Case { const char* name; int depth; };
    const Case cases[] = {
        {"SST_PRP_2x", 2}, {"SST_PRP", 2}, {"SST_PRP_2 ", 2}, {" SST_PRP_2", 2},
        {"data_block", 0}, {"DATA_BLOCK", 0}, {"ns:Data_Block", 0}, {"ns:XX", 8},
        {"q1", 5}, {"q1", 6}, {"Q", 5}, {"Q", 6}, {"Q5", 5}, {"Q5", 6}, {"Q11", 5}, {"Q11", 6},
        {"L1", 6}, {"L150", 6}, {"L15", 5}, {"of_Month", 9}, {"Day_of", 9}, {"Tidal", 7},
        {"X", 5}, {"XXX", 8}, {"x", 8}, {"Day_of_Month\n", 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetNodeTagfromName(c.name, c.depth), -1) << '"' << c.name << "\" at " << c.depth;
}

TEST(GetNodeTagfromName, NamelessNodesAndBadDepths) {
    for (int d = -2; d <= kTagDepths + 1; ++d) {
        EXPECT_EQ(GetNodeTagfromName("--", d), -1) << d;
        EXPECT_EQ(GetNodeTagfromName("", d), -1) << d;
    }
    for (int32_t d : {-1, 10, 1000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(GetNodeTagfromName("Data_Block", d), -1) << d;
        EXPECT_EQ(GetNodeTagfromName("XX", d), -1) << d;
        EXPECT_EQ(GetNodeTagfromName("Year", d), -1) << d;
    }
}

TEST(HDR_GetNodeTagfromFile, HeaderBits) {
    struct Case { const char* name; int bit; };
    const Case cases[] = {
        {"Earth_Explorer_Header", 1}, {"Variable_Header", 2}, {"SPH", 4}, {"SST_PSO_2", 8},
        {"SST_PRM_2", 16}, {"Epoch_Information", 32}, {"Reference", 64},
        // exact, case-sensitive, whole-name matches only
        {"", 0}, {"--", 0}, {"sph", 0}, {"SPH ", 0}, {"SP", 0}, {"SPHX", 0}, {"ns:SPH", 0},
        {"Reference_", 0}, {"Epoch", 0}, {"Earth_Explorer", 0}, {"SST_PRM_2x", 0},
        {"Data_Block", 0}, {"SST_PCV_2", 0}, {"Fixed_Header", 0},
    };
    int all = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(HDR_GetNodeTagfromFile(c.name), c.bit) << '"' << c.name << '"';
        all |= c.bit;
    }
    EXPECT_EQ(all, kAllHeaderElements);
}

}  // namespace
