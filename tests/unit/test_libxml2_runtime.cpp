// The libxml2 the tests run against: the library loaded at run time must be
// the one whose headers the build compiled against, and, where the build was
// told which release to expect (L2_EXPECT_LIBXML2_VERSION, set by
// tools/newest-libxml2.sh), that release, so that a test run against a
// libxml2 outside the system paths cannot silently fall back on the system's.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlversion.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef L2_EXPECT_LIBXML2_VERSION
#define L2_EXPECT_LIBXML2_VERSION ""
#endif

namespace {

// "21504" -> "2.15.4"
std::string dotted(const std::string& number)
{
    const long n = std::strtol(number.c_str(), nullptr, 10);
    return std::to_string(n / 10000) + "." + std::to_string(n / 100 % 100) + "." +
           std::to_string(n % 100);
}

TEST(Libxml2Runtime, LoadedLibraryMatchesTheHeadersAndTheExpectedRelease)
{
    const std::string loaded = xmlParserVersion;
    std::printf("libxml2 at run time: %s (%s), compiled against %s\n", dotted(loaded).c_str(),
                loaded.c_str(), LIBXML_DOTTED_VERSION);
    RecordProperty("libxml2_runtime", dotted(loaded));
    EXPECT_EQ(std::to_string(LIBXML_VERSION), loaded);
    const std::string expected = L2_EXPECT_LIBXML2_VERSION;
    if (!expected.empty()) {
        EXPECT_EQ(expected, dotted(loaded));
    }
}

}  // namespace
