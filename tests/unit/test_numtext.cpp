// Number text conversions against the C library calls they replace: every
// result must be the same bytes as snprintf and the same bits as strtod /
// strtol, over random bit patterns, rounding ties, carries into the next power
// of ten, the ends of the double range and realistic product values.
//
// 1M values per format by default; set L2_NUMTEXT_LONG for 50M (or to a
// count), L2_NUMTEXT_SEED to vary the inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "numtext.h"

namespace {

constexpr long kDefaultCount = 1000000;

long Count()
{
    const char* text = std::getenv("L2_NUMTEXT_LONG");
    if (text == nullptr)
        return kDefaultCount;
    const long count = std::strtol(text, nullptr, 10);
    return count > 1 ? count : 50000000;
}

uint64_t Seed()
{
    if (const char* text = std::getenv("L2_NUMTEXT_SEED"))
        return std::strtoull(text, nullptr, 10);
    return std::getenv("L2_NUMTEXT_LONG") ? std::random_device{}() : 20240611;
}

uint64_t Bits(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double FromBits(uint64_t bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::string Describe(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (bits %016llx)", v,
                  static_cast<unsigned long long>(Bits(v)));
    return text;
}

class Random {
public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    uint64_t Bits() { return engine_(); }
    // Uniform in lo..hi.
    int Int(int lo, int hi) { return lo + static_cast<int>(engine_() % static_cast<uint64_t>(hi - lo + 1)); }
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
    bool OneIn(int n) { return engine_() % static_cast<uint64_t>(n) == 0; }
    char Digit() { return static_cast<char>('0' + Int(0, 9)); }
    std::string Digits(int n)
    {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += Digit();
        return s;
    }

private:
    std::mt19937_64 engine_;
};

double Parse(const std::string& text)
{
    return std::strtod(text.c_str(), nullptr);
}

// Moves v by up to two representable steps either way.
double Nudge(Random& random, double v)
{
    for (int steps = random.Int(-2, 2); steps != 0; steps += steps < 0 ? 1 : -1)
        v = std::nextafter(v, steps < 0 ? -HUGE_VAL : HUGE_VAL);
    return v;
}

// Doubles that stress printing with `precision` decimals in fixed (or
// scientific) notation.
double Value(Random& random, int precision, bool fixed)
{
    const double sign = random.OneIn(2) ? -1.0 : 1.0;
    switch (random.Int(0, 9)) {
    case 0: {  // any bit pattern: NaNs of both signs, infinities, subnormals
        uint64_t bits = random.Bits();
        if (fixed && !random.OneIn(8))  // mostly below 2^64: long fixed texts are slow to check
            bits = (bits & 0x800fffffffffffffull) | static_cast<uint64_t>(random.Int(0, 1023 + 64)) << 52;
        return FromBits(bits);
    }
    case 1: {  // ends of the range and other landmarks
        static const double edges[] = {0.0,     DBL_TRUE_MIN, DBL_MIN, DBL_MAX,  1e-308, 5e-324,
                                       1e308,   1e22,         1e23,    0x1p53,   0x1p63, 0x1p64,
                                       0.5,     1.5,          2.5,     0.05,     1.0,    HUGE_VAL,
                                       NAN,     0x1p-1074,    1e-5,    1e15,     1e16,   1e17};
        const double v = edges[random.Int(0, sizeof edges / sizeof edges[0] - 1)];
        return sign * (random.OneIn(2) ? v : Nudge(random, v));
    }
    case 2:  // binary fractions: exact ties for some precision
        return sign * std::ldexp(static_cast<double>(random.Bits() >> random.Int(11, 63)), -random.Int(0, 70));
    case 3: {  // decimals ending in 5 just past the last printed digit
        std::string text;
        if (fixed) {
            text = random.Digits(random.Int(0, 12)) + "." + random.Digits(precision) + "5";
        } else {
            const int exponent = random.OneIn(2) ? random.Int(-12, 12) : random.Int(-324, 308);
            text = std::string(1, static_cast<char>('1' + random.Int(0, 8))) + "." +
                   random.Digits(precision) + "5e" + std::to_string(exponent);
        }
        return sign * Nudge(random, Parse(text));
    }
    case 4: {  // carries into the next power of ten
        std::string nines(static_cast<size_t>(precision), '9');
        std::string text =
            fixed ? std::string(static_cast<size_t>(random.Int(0, 15)), '9') + "." + nines + "5"
                  : "9." + nines + "5e" + std::to_string(random.Int(-324, 307));
        if (random.OneIn(4))
            text.insert(text.find('5'), random.OneIn(2) ? "4999" : "5000");
        return sign * Nudge(random, Parse(text));
    }
    case 5:
    case 6: {  // what the products hold
        double v;
        switch (random.Int(0, 5)) {
        case 0: v = random.Real(-3e3, 3e3); break;
        case 1: v = random.Real(-7e6, 7e6); break;
        case 2: v = random.Real(6e8, 1.4e9); break;
        case 3: v = random.Real(-1.0, 1.0); break;
        case 4: v = random.Real(-1e-4, 1e-4); break;
        default: v = std::floor(random.Real(-1e9, 1e9)) + random.Int(0, 1000000) * 1e-6; break;
        }
        if (random.OneIn(2)) {  // as read from a text with 13 significant digits
            char text[32];
            std::snprintf(text, sizeof text, "%.12E", v);
            v = Parse(text);
        }
        return v;
    }
    case 7: {  // decimals of any magnitude
        const int exponent = random.Int(-340, fixed && !random.OneIn(8) ? 20 : 310);
        const std::string text = random.Digits(random.Int(1, 17)) + "e" + std::to_string(exponent);
        return sign * Parse(text);
    }
    case 8:  // subnormal and tiny
        return sign * FromBits(random.Bits() >> random.Int(1, 12));
    default:  // integers and values near them
        return sign * Nudge(random, static_cast<double>(random.Bits() >> random.Int(1, 63)));
    }
}

enum class Notation { scientific, fixed };

// Compares `count` values of one conversion with snprintf(format) where the
// format is "%<width>.<precision>e" or "...f"; a negative width or precision
// draws them at random and passes them as "*" arguments.
void CheckFormat(const char* format, Notation notation, int width, int precision, long count)
{
    const uint64_t seed = Seed() ^ std::hash<std::string>{}(format);
    SCOPED_TRACE(std::string(format) + ", seed " + std::to_string(seed));
    Random random(seed);
    const bool fixed = notation == Notation::fixed;
    char expected[1024];
    char actual[1024];
    int failures = 0;
    for (long i = 0; i < count; ++i) {
        const int w = width >= 0 ? width : random.Int(0, 40);
        const int p = precision >= 0 ? precision : random.OneIn(8) ? random.Int(0, 60) : random.Int(0, 19);
        const double v = Value(random, p, fixed);
        const int length = width >= 0 && precision >= 0 ? std::snprintf(expected, sizeof expected, format, v)
                                                         : std::snprintf(expected, sizeof expected, format, w, p, v);
        const char* end = fixed ? format_f(actual, v, w, p) : format_e(actual, v, w, p);
        const int room = fixed ? format_f_max_length(w, p) : format_e_max_length(w, p);
        if (end - actual != length || std::memcmp(expected, actual, static_cast<size_t>(length)) != 0 ||
            length > room) {
            ADD_FAILURE() << "width " << w << ", precision " << p << ", value " << Describe(v) << ": expected \""
                          << expected << "\", got \"" << std::string(actual, static_cast<size_t>(end - actual)) << "\"";
            if (++failures == 10)
                return;
        }
    }
}

TEST(NumText, FormatEIsSnprintf)
{
    CheckFormat("%15.8e", Notation::scientific, 15, 8, Count());
    CheckFormat("%14.7e", Notation::scientific, 14, 7, Count());
}

// Values next to a midpoint between two printable digit strings, where a
// scaling with one rounding too many prints the wrong neighbour: decimal
// midpoints of every precision the fast paths take, a few steps either way.
TEST(NumText, FormatENextToMidpointsIsSnprintf)
{
    Random random(Seed());
    char expected[64];
    char actual[64];
    int failures = 0;
    for (long i = 0; i < Count() / 4 && failures < 10; ++i) {
        const int precision = random.Int(0, 13);
        const int exponent = random.OneIn(4) ? random.Int(-300, 300) : random.Int(-30, 30);
        const std::string midpoint = std::string(1, static_cast<char>('1' + random.Int(0, 8))) + "." +
                                     random.Digits(precision) + "5e" + std::to_string(exponent);
        double v = Parse(midpoint);
        for (int steps = random.Int(-3, 3); steps != 0; steps += steps < 0 ? 1 : -1)
            v = std::nextafter(v, steps < 0 ? -HUGE_VAL : HUGE_VAL);
        const int length = std::snprintf(expected, sizeof expected, "%.*e", precision, v);
        const char* end = format_e(actual, v, 0, precision);
        if (std::string(actual, static_cast<size_t>(end - actual)) != std::string(expected, static_cast<size_t>(length))) {
            ++failures;
            ADD_FAILURE() << "precision " << precision << ", value " << Describe(v) << " (next to " << midpoint
                          << "): expected \"" << expected << "\", got \""
                          << std::string(actual, static_cast<size_t>(end - actual)) << "\"";
        }
    }
}

TEST(NumText, FormatFIsSnprintf)
{
    CheckFormat("%20.9f", Notation::fixed, 20, 9, Count());
    CheckFormat("%15.6f", Notation::fixed, 15, 6, Count());
    CheckFormat("%12.6f", Notation::fixed, 12, 6, Count());
    CheckFormat("%2.16f", Notation::fixed, 2, 16, Count());
    CheckFormat("%2.15f", Notation::fixed, 2, 15, Count());
}

TEST(NumText, AnyWidthAndPrecisionIsSnprintf)
{
    CheckFormat("%*.*e", Notation::scientific, -1, -1, Count() / 4);
    CheckFormat("%*.*f", Notation::fixed, -1, -1, Count() / 4);
}

TEST(NumText, FixedOfLongDoubleHoldingDouble)
{
    Random random(Seed());
    char expected[1024];
    char actual[1024];
    for (long i = 0; i < Count() / 10; ++i) {
        const double v = Value(random, 9, true);
        const int length = std::snprintf(expected, sizeof expected, "%20.9Lf", static_cast<long double>(v));
        const char* end = format_f(actual, v, 20, 9);
        ASSERT_EQ(std::string(actual, static_cast<size_t>(end - actual)), std::string(expected, static_cast<size_t>(length))) << Describe(v);
    }
}

TEST(NumText, FormatDIsSnprintf)
{
    Random random(Seed());
    char expected[64];
    char actual[64];
    static const int edges[] = {0, -1, 1, 9, 10, -10, 99, 100, 999, 1000, 9999, 10000, 99999, 12345678, 99999999, 100000000, 100000, -100000, INT_MAX, INT_MIN, INT_MIN + 1};
    for (long i = 0; i < Count(); ++i) {
        int v;
        switch (random.Int(0, 3)) {
        case 0: v = static_cast<int>(static_cast<uint32_t>(random.Bits())); break;
        case 1: v = static_cast<int>(static_cast<int64_t>(random.Bits()) >> random.Int(32, 63)); break;
        case 2: v = edges[random.Int(0, sizeof edges / sizeof edges[0] - 1)]; break;
        default: v = random.Int(-1000000, 1000000); break;
        }
        const int width = random.OneIn(3) ? 0 : random.Int(0, 14);
        const int length = width == 0 ? std::snprintf(expected, sizeof expected, "%d", v)
                                       : std::snprintf(expected, sizeof expected, "%*d", width, v);
        const char* end = format_d(actual, v, width);
        ASSERT_LE(length, format_d_max_length(width));
        ASSERT_EQ(std::string(actual, static_cast<size_t>(end - actual)), std::string(expected, static_cast<size_t>(length)))
            << "width " << width << ", value " << v;
    }
}

// Prefix of white space, a sign or two, sometimes.
std::string Lead(Random& random)
{
    static const char spaces[] = " \t\n\v\f\r";
    std::string s;
    if (random.OneIn(3)) {
        for (int n = random.Int(1, 4); n > 0; --n)
            s += spaces[random.Int(0, 5)];
    }
    switch (random.Int(0, 7)) {
    case 0: s += '+'; break;
    case 1:
    case 2: s += '-'; break;
    case 3:
        if (random.OneIn(8))
            s += random.OneIn(2) ? "+-" : "- ";
        break;
    default: break;
    }
    return s;
}

std::string Trail(Random& random)
{
    static const char garbage[] = "xXeE.+- 9a(p,<";
    std::string s;
    if (random.OneIn(3)) {
        for (int n = random.Int(1, 3); n > 0; --n)
            s += garbage[random.Int(0, sizeof garbage - 2)];
    }
    return s;
}

std::string FlipCase(Random& random, std::string s)
{
    for (char& c : s) {
        if (random.OneIn(2) && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

std::string NumberText(Random& random)
{
    std::string body;
    char text[160];
    switch (random.Int(0, 9)) {
    case 0:
    case 1:
    case 2: {  // decimal of any shape, also without digits or exponent digits
        const int whole = random.OneIn(4) ? random.Int(0, 25) : random.Int(0, 8);
        body = random.OneIn(6) ? std::string(static_cast<size_t>(random.Int(1, 20)), '0') : "";
        body += random.Digits(whole);
        if (random.OneIn(4) == false)
            body += '.' + (random.OneIn(5) ? std::string(static_cast<size_t>(random.Int(1, 30)), '0') : "") +
                    random.Digits(random.OneIn(4) ? random.Int(0, 25) : random.Int(0, 10));
        if (random.OneIn(2)) {
            body += random.OneIn(2) ? 'e' : 'E';
            if (!random.OneIn(3))
                body += random.OneIn(2) ? '-' : '+';
            const int digits = random.Int(0, 4);
            if (digits > 0)
                body += std::to_string(random.Int(0, digits == 4 ? 9999 : 999));
            else if (random.OneIn(8))
                body += "000000000000000000000000000000000000042";
        }
        break;
    }
    case 3: {  // what the products hold
        const double v = Value(random, 12, random.OneIn(2));
        switch (random.Int(0, 3)) {
        case 0: std::snprintf(text, sizeof text, "%.12E", v); break;
        case 1: std::snprintf(text, sizeof text, "%f", v); break;
        case 2: std::snprintf(text, sizeof text, "%.17g", v); break;
        default: std::snprintf(text, sizeof text, "%.*e", random.Int(0, 25), v); break;
        }
        body = text;
        break;
    }
    case 4: {  // (nearly) halfway between two doubles, up to 80 digits
        double v = std::fabs(Value(random, 8, false));
        if (!std::isfinite(v))
            v = 1.0;
        const double next = std::nextafter(v, HUGE_VAL);
        const long double half = std::isinf(next) ? (v - static_cast<long double>(std::nextafter(v, 0.0))) / 2
                                                  : (next - static_cast<long double>(v)) / 2;
        std::snprintf(text, sizeof text, "%.*Le", random.OneIn(2) ? 80 : random.Int(16, 40), v + half);
        body = text;
        if (random.OneIn(4))  // one digit short of the middle
            body.erase(body.find('e') - 1, 1);
        break;
    }
    case 5: {  // hexadecimal
        body = random.OneIn(2) ? "0x" : "0X";
        static const char hex[] = "0123456789abcdefABCDEF";
        for (int n = random.Int(0, 15); n > 0; --n)
            body += hex[random.Int(0, 21)];
        if (random.OneIn(2))
            body += "." + std::string(1, hex[random.Int(0, 21)]);
        if (random.OneIn(2))
            body += "p" + std::to_string(random.Int(-1100, 1100));
        break;
    }
    case 6: {  // words
        static const char* const words[] = {"inf",   "infinity", "nan",     "nan(123)", "nan()", "nan(abc_9)",
                                            "infin", "in",       "na",      "nan(",     "nan(-)", "infinityx"};
        body = FlipCase(random, words[random.Int(0, sizeof words / sizeof words[0] - 1)]);
        break;
    }
    case 7: {  // around underflow and overflow
        static const char* const edges[] = {
            "2.4703282292062327e-324", "2.4703282292062328e-324", "2.47032822920623272088e-324",
            "2.4703282292062327208828439643411068618252990130716238221279284125033775e-324",
            "4.9406564584124654e-324", "1e-400", "1e400", "1e-324", "3e-324", "7.4109846876186982e-324",
            "2.2250738585072011e-308", "2.2250738585072012e-308", "1.7976931348623157e308",
            "1.7976931348623158e308", "1.7976931348623159e308", "1.797693134862315807937e308", "1e308",
            "1e309", "0.0000000000000000000000000000001e-300", "100000000000000000000000e-330", "1e23",
            "9007199254740993", "9007199254740992.5", "18446744073709551615", "1e22", "8.98846567431158e307"};
        body = edges[random.Int(0, sizeof edges / sizeof edges[0] - 1)];
        if (random.OneIn(2))  // change one digit
            body[random.OneIn(2) ? 1 + random.Int(1, 14) : 0] = random.Digit();
        break;
    }
    case 8: {  // short runs of number characters
        static const char chars[] = ".eE+-0159xXpPinfa ";
        for (int n = random.Int(0, 6); n > 0; --n)
            body += chars[random.Int(0, sizeof chars - 2)];
        break;
    }
    default: {  // plain decimals as the products write them
        const int whole = random.Int(1, 10);
        body = random.Digits(whole) + "." + random.Digits(random.Int(1, 15 - std::min(whole, 12)));
        if (random.OneIn(2))
            body += "E" + std::string(random.OneIn(2) ? "+" : "-") + random.Digits(2);
        break;
    }
    }
    return Lead(random) + body + Trail(random);
}

// The text alone in a heap block of its exact size, so that the sanitizer
// build reports any read past its closing NUL.
std::unique_ptr<char[]> Alone(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

TEST(NumText, ParseDoubleIsStrtod)
{
    Random random(Seed());
    static const char* const fixed[] = {"",     " ",     "-",    "+",     ".",   "+.",  "-.e1", "1e",
                                        "1e+",  "1e-",   "1.e5", ".5",    "-0",  "-0.0e9", "+0x",  "0x",
                                        "0x1p-1074", "0x.8", "-nan", "NaN(123)", "-INFINITY", "\v\f\r\n\t 7",
                                        "1.366690948377E+03", "941068815.000000", "-0.000000e+00", "00000.00001",
                                        "123456789012345678901234567890", "0.1234567890123456789", "1e-5 2"};
    int failures = 0;
    const long count = Count();
    for (long i = 0; i < count + static_cast<long>(sizeof fixed / sizeof fixed[0]); ++i) {
        const std::string text = i < count ? NumberText(random) : fixed[i - count];
        const double expected = std::strtod(text.c_str(), nullptr);
        const double actual = parse_double(Alone(text).get());
        if (Bits(expected) != Bits(actual)) {
            ADD_FAILURE() << "\"" << text << "\": expected " << Describe(expected) << ", got " << Describe(actual);
            if (++failures == 10)
                return;
        }
    }
}

// The fast path gathers at most 19 significant digits and takes exponents
// up to +-22 and mantissas up to 2^53: every run length on either side of the
// point, with the text ending or going on right after them, next to those
// limits.
TEST(NumText, ParseDoubleDigitRunsAreStrtod)
{
    Random random(Seed());
    static const char* const exponents[] = {"",     "e0",   "E-22", "e22",  "e-23", "e+23", "E+05", "e-5",
                                            "e",    "e+",   "E-",   "e-0000000000000000000000000000009",
                                            "e308", "e-324", "e-7x", "E+3 "};
    static const char* const tails[] = {"", "x", ".", "e", "-", " 7", "E+", "0x"};
    int failures = 0;
    auto check = [&](const std::string& text) {
        const double expected = std::strtod(text.c_str(), nullptr);
        const double actual = parse_double(Alone(text).get());
        if (Bits(expected) != Bits(actual) && ++failures <= 10)
            ADD_FAILURE() << "\"" << text << "\": expected " << Describe(expected) << ", got " << Describe(actual);
    };
    for (int whole = 0; whole <= 21; ++whole) {
        for (int fraction = -1; fraction <= 21; ++fraction) {  // -1: no point
            for (const char* exponent : exponents) {
                for (int kind = 0; kind < 5; ++kind) {
                    std::string digits;
                    switch (kind) {
                    case 0: digits = random.Digits(whole + std::max(fraction, 0)); break;
                    case 1: digits = std::string(static_cast<size_t>(whole + std::max(fraction, 0)), '9'); break;
                    case 2: digits = std::string(static_cast<size_t>(whole + std::max(fraction, 0)), '0'); break;
                    case 3:  // leading zeros, then digits
                        digits = std::string(static_cast<size_t>(random.Int(0, whole + std::max(fraction, 0))), '0');
                        digits += random.Digits(whole + std::max(fraction, 0) - static_cast<int>(digits.size()));
                        break;
                    default:  // 2^53 and its neighbours, cut to the length
                        digits = std::to_string((uint64_t{1} << 53) + static_cast<uint64_t>(random.Int(-2, 2)));
                        digits.resize(static_cast<size_t>(whole + std::max(fraction, 0)), '0');
                        break;
                    }
                    std::string text = Lead(random) + digits.substr(0, static_cast<size_t>(whole));
                    if (fraction >= 0)
                        text += "." + digits.substr(static_cast<size_t>(whole));
                    text += exponent;
                    check(text);
                    check(text + tails[random.Int(0, sizeof tails / sizeof tails[0] - 1)]);
                }
            }
        }
    }
    // Exactly representable mantissas times the largest exact powers of ten,
    // and the first ones past them.
    for (const char* text : {"9007199254740992e22", "9007199254740993e22", "9007199254740992e-22",
                             "9007199254740993e-22", "9007199254740991.5", "900719925474099.35e-21",
                             "1e22", "1e23", "1e-22", "1e-23", "0.0000000000000000000000000000000000001",
                             "1234567890123456789", "12345678901234567890", "1234567890.123456789",
                             "0.1234567890123456789", "00000000000000000001", "0000000000000000001.5",
                             "2.662293433368E-03", "-8.070295787341E-04", "2.400983456912566E-03",
                             "0.9122182070667473", "1.000000", "00.000000", "11", "0", "-0", "+.0", "0."})
        check(text);
}

// An exponent of many digits next to as many digits before or after the
// point: the exponent must not be cut short, or the two could cancel.
TEST(NumText, ParseDoubleLongExponentsAgainstLongDigitRunsAreStrtod)
{
    std::vector<std::string> texts;
    for (const size_t run : {size_t{99999}, size_t{100000}, size_t{1000000}}) {
        const std::string zeros(run, '0');
        for (const char* exponent : {"e1000000", "e100000", "e-1000000", "e99999", "e10000000000000"}) {
            texts.push_back("0." + zeros + "1" + exponent);
            texts.push_back("1" + zeros + exponent);
            texts.push_back("-1" + zeros + ".5" + exponent);
        }
    }
    texts.push_back("1e1000000");
    texts.push_back("1e-99999999999999999999");
    for (const std::string& text : texts) {
        const double expected = std::strtod(text.c_str(), nullptr);
        const double actual = parse_double(Alone(text).get());
        EXPECT_EQ(Bits(expected), Bits(actual)) << text.substr(0, 12) << "... (" << text.size()
                                                << " characters) ending " << text.substr(text.size() - 12);
    }
}

// Texts of 17 to 19 significant digits next to the middle between two
// doubles, where a value computed with more precision and then rounded to a
// double can land on the wrong side.
TEST(NumText, ParseDoubleNextToMidpointsIsStrtod)
{
    Random random(Seed());
    int failures = 0;
    for (long i = 0; i < Count() / 4 && failures < 10; ++i) {
        const double d = std::ldexp(random.Real(1.0, 2.0), random.Int(-45, 85));
        long double middle = (static_cast<long double>(d) + std::nextafter(d, HUGE_VAL)) / 2;
        for (int steps = random.Int(-3, 3); steps != 0; steps += steps < 0 ? 1 : -1)
            middle = std::nextafter(middle, steps < 0 ? -HUGE_VALL : HUGE_VALL);
        char text[64];
        std::snprintf(text, sizeof text, "%.*Le", random.Int(16, 18), middle);
        const double expected = std::strtod(text, nullptr);
        const double actual = parse_double(Alone(text).get());
        if (Bits(expected) != Bits(actual)) {
            ++failures;
            ADD_FAILURE() << "\"" << text << "\": expected " << Describe(expected) << ", got " << Describe(actual);
        }
    }
}

TEST(NumText, ParseLongIsStrtol)
{
    Random random(Seed());
    static const char* const fixed[] = {"9223372036854775807",  "9223372036854775808", "-9223372036854775808",
                                        "-9223372036854775809", "999999999999999999",  "1000000000000000000",
                                        "-", "+", "", " \t\n\v\f\r-42x", "0x10", "+-1", "00000000000000000000001"};
    const long count = Count();
    for (long i = 0; i < count + static_cast<long>(sizeof fixed / sizeof fixed[0]); ++i) {
        std::string text;
        if (i < count) {
            text = Lead(random);
            if (random.OneIn(5))
                text += std::string(static_cast<size_t>(random.Int(1, 20)), '0');
            text += random.Digits(random.OneIn(3) ? random.Int(0, 25) : random.Int(15, 20)) + Trail(random);
        } else {
            text = fixed[i - count];
        }
        ASSERT_EQ(parse_long(text.c_str()), std::strtol(text.c_str(), nullptr, 10)) << '"' << text << '"';
    }
}

}  // namespace
