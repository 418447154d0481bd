// Orbit epochs end to end: a whole day of a generated 1 Hz orbit product
// (tools/l2gen.py), from noon on 31 December to noon on 1 January, so that the
// epochs cross midnight, a month end and a year end.  The generator writes
// about one epoch in twenty a microsecond early ("59.999999" in the minute
// before); every other epoch must come out as the whole second it was written
// as, and the early ones as that second less a microsecond.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

const std::string kProduct = "L2SAMPLESST_PSO_2_20111231T120000_20120101T115959_DAY1.xml";
const std::string kTable = "L2SAMPLESST_PKI_2_20111231T120000_20120101T115959_DAY1.ascii";

// Whether each record's Second text is a microsecond early (not ".000000").
std::vector<bool> early_seconds(const std::string& xml)
{
    std::vector<bool> early;
    const std::string open = "<Second>", close = "</Second>";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at)) {
        at += open.size();
        const std::string text = xml.substr(at, xml.find(close, at) - at);
        early.push_back(text.size() < 7 || text.compare(text.size() - 7, 7, ".000000") != 0);
    }
    return early;
}

class EpochTest : public e2e::ScratchFolderTest {};

TEST_F(EpochTest, DayOfOneHertzEpochsAreTheSecondsWritten)
{
    const e2e::RunResult gen = e2e::run_command(
        "/usr/bin/env",
        {"python3", L2_SOURCE_DIR "/tools/l2gen.py", "pki", "--records", "86400", "--seed", "3",
         "--epoch", "2011-12-31 12:00:00.000000", "--out", kProduct},
        dir_, 120.0);
    ASSERT_EQ(0, gen.status) << gen.err;
    const std::vector<bool> early = early_seconds(e2e::read_file(dir_ + "/" + kProduct));
    ASSERT_EQ(86400u, early.size());

    const e2e::RunResult r = e2e::run_program({"-i", kProduct}, dir_, 300.0);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(0, r.status) << r.err;
    const std::string table = e2e::read_file(dir_ + "/" + kTable);
    e2e::remove_tree(dir_ + "/" + kProduct);  // some tens of megabytes

    // 2011-12-31 12:00:00 is 11,682 days and 12 hours after 1980-01-06.
    const int64_t first = 11682 * INT64_C(86400) + 12 * 3600;
    ASSERT_EQ(1009368000, first);
    std::size_t at = 0;
    std::size_t line = 0;
    int wrong = 0;
    int64_t whole = 0;
    while (at < table.size() && line < early.size() && wrong < 5) {
        const std::size_t end = table.find('\n', at);
        ASSERT_NE(std::string::npos, end) << "last line unfinished";
        const std::string epoch = table.substr(at, 20);
        const int64_t second = first + static_cast<int64_t>(line);
        bool right;
        if (!early[line]) {
            std::string expected = std::to_string(second) + ".000000000";
            expected.insert(0, 20 - expected.size(), ' ');
            right = epoch == expected;
            ++whole;
        } else {
            // Within the spacing of doubles near 10^9 s (2^-23 s) of the true
            // value.
            const double value = std::strtod(epoch.c_str(), nullptr);
            right = std::fabs(value - static_cast<double>(second) + 1e-6) < 1.2e-7;
        }
        if (!right) {
            ++wrong;
            ADD_FAILURE() << "line " << line + 1 << ": \"" << epoch << "\" for "
                          << second << (early[line] ? " less a microsecond" : "");
        }
        at = end + 1;
        ++line;
    }
    EXPECT_EQ(early.size(), line);
    EXPECT_EQ(table.size(), at);
    EXPECT_GT(whole, 80000);
}

}  // namespace
