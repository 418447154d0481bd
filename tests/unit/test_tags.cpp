// Element vocabulary: product element codes by depth and header element bits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tags.h"

namespace {

// Every depth's names in code order: the code of a name is its index + 1.
const std::vector<std::vector<std::string>> kNamesByDepth = {
    {"Data_Block"},
    {"EGG_NOM_2", "SST_PSO_2"},
    {"List_of_GG_time_Records", "SST_PCV_2", "SST_PKI_2", "SST_PRD_2", "SST_PRM_2",
     "SST_PRP_2"},
    {"GG_time_Record", "List_of_Covariance_Records", "List_of_SP3c_Records",
     "List_of_Rotation_Records", "List_of_PDF_Files"},
    {"Time_Information", "Gravity_Gradients", "Sigmas", "Flags", "Corrections",
     "Quaternions", "Covariance_Record", "SP3c_Record", "Rotation_Record", "PDF_File"},
    {"GPS_Time", "XX", "YY", "ZZ", "XY", "XZ", "YZ", "Temporal", "Calibration", "Q1", "Q2",
     "Q3", "Q4", "Time_Information", "List_of_Satellite_IDs", "Quaternions"},
    {"Tidal", "Non-Tidal", "XX", "YY", "ZZ", "XY", "XZ", "YZ", "GPS_Time", "L15",
     "Time_Since_Reference_Epoch", "Q1", "Q2", "Q3", "Q4"},
    {"Direct_Tides", "Solid_Earth", "Ocean_Tides", "Pole_Tides", "XX", "YY", "ZZ", "XY",
     "XZ", "YZ", "Start", "Position", "Velocity", "Clock", "Clock_Change_Rate",
     "Standard_Deviations"},
    {"XX", "YY", "ZZ", "XY", "XZ", "YZ", "Gregorian", "X", "Y", "Z", "Position", "Velocity",
     "Clock", "Clock_Change_Rate"},
    {"Year", "Month", "Day_of_Month", "Hour", "Minute", "Second"},
};

// Code that `name` must have at `depth`, worked out from the lists above.
int32_t ExpectedCode(const std::string& name, int depth) {
    const auto& names = kNamesByDepth[depth];
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int32_t>(i + 1);
    return -1;
}

TEST(GetNodeTagfromName, ListSizes) {
    const size_t sizes[kTagDepths] = {1, 2, 6, 5, 10, 16, 15, 16, 14, 6};
    ASSERT_EQ(kNamesByDepth.size(), static_cast<size_t>(kTagDepths));
    for (int d = 0; d < kTagDepths; ++d) EXPECT_EQ(kNamesByDepth[d].size(), sizes[d]) << d;
}

// Every known name at every depth: its code where it is listed, -1 elsewhere.
TEST(GetNodeTagfromName, WholeTableAtEveryDepth) {
    for (const auto& names : kNamesByDepth)
        for (const auto& name : names)
            for (int d = 0; d < kTagDepths; ++d)
                EXPECT_EQ(GetNodeTagfromName(name.c_str(), d), ExpectedCode(name, d))
                    << name << " at depth " << d;
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
    EXPECT_EQ(all, 127);
}

}  // namespace
