// Number <-> text conversions: exact and fast equivalents of strtod, strtol
// and snprintf for the fields of the product records.
//
// Parsing: a plain decimal with at most 19 significant digits whose value
// times a power of ten up to 1e22 is exact (mantissa below 2^53) is one
// correctly rounded double operation; other decimals go to std::from_chars,
// which rounds correctly as well; hex, inf, nan, results past the double range
// and texts without a number go to strtod.
//
// "%f": the double is split exactly into its integer part and a binary
// fraction f / 2^q; the fraction times 10^precision fits in 128 bits, so the
// rounding (to nearest, ties to even, as glibc does) is integer arithmetic and
// never needs help.  Values of 2^63 and more, and more than 19 decimals, go to
// std::to_chars.
//
// "%e" with up to 8 decimals and a scale 10^(precision - exponent) of at
// most 10^22 either way (the powers a double holds exactly): the scaled value
// is one correctly rounded double multiplication or division, below 2^30, so
// within 2^-24 of the true one (and, rounding being monotonic, never on the
// other side of a midpoint n + 1/2, which is a double there).  When it lies
// farther than 2^-23 from a midpoint, its nearest integer is the digit
// string; otherwise, and for every other "%e", std::to_chars writes the text.
//
// "%d" and strtol have no path of their own: the integers of the products
// are few.
#include "numtext.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

__extension__ typedef unsigned __int128 uint128;

inline bool is_digit(char c)
{
    return static_cast<unsigned>(c - '0') <= 9u;
}

// ' ', \t, \n, \v, \f, \r: isspace in the C locale.
inline bool is_space(char c)
{
    return c == ' ' || static_cast<unsigned>(c - '\t') <= 4u;
}

constexpr uint64_t kPow10u[20] = {
    1ull,
    10ull,
    100ull,
    1000ull,
    10000ull,
    100000ull,
    1000000ull,
    10000000ull,
    100000000ull,
    1000000000ull,
    10000000000ull,
    100000000000ull,
    1000000000000ull,
    10000000000000ull,
    100000000000000ull,
    1000000000000000ull,
    10000000000000000ull,
    100000000000000000ull,
    1000000000000000000ull,
    10000000000000000000ull,
};

constexpr double kPow10d[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};


const char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void put_pair(char* out, uint32_t pair)
{
    std::memcpy(out, kPairs + 2 * pair, 2);
}

// Writes the `n` lowest decimal digits of v, leading zeros included, so that
// they end just before `end`. Eight digits at a time, as two independent
// halves.
inline void put_digits(char* end, uint64_t v, int n)
{
    for (; n >= 8; n -= 8) {
        const uint32_t chunk = static_cast<uint32_t>(v % 100000000);
        v /= 100000000;
        end -= 8;
        const uint32_t high = chunk / 10000;
        const uint32_t low = chunk % 10000;
        put_pair(end, high / 100);
        put_pair(end + 2, high % 100);
        put_pair(end + 4, low / 100);
        put_pair(end + 6, low % 100);
    }
    uint32_t rest = static_cast<uint32_t>(v);  // below 10^8 now
    for (; n >= 2; n -= 2) {
        end -= 2;
        put_pair(end, rest % 100);
        rest /= 100;
    }
    if (n)
        end[-1] = static_cast<char>('0' + rest % 10);
}

// Decimal digits of v (1 for 0).
inline int digit_count(uint64_t v)
{
    const int bits = 64 - __builtin_clzll(v | 1);
    const int guess = (bits * 1233) >> 12;  // floor(bits * log10(2))
    return guess + (guess < 20 && (v | 1) >= kPow10u[guess]);
}

// Blanks that bring a text of `length` characters up to `width`.
inline char* pad(char* out, int length, int width)
{
    if (width <= length)
        return out;
    // Mostly one or two blanks: overlapping stores instead of a call.
    const size_t n = static_cast<size_t>(width - length);
    const uint64_t blanks = 0x2020202020202020u;
    if (n >= 8 && n <= 16) {
        std::memcpy(out, &blanks, 8);
        std::memcpy(out + n - 8, &blanks, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(out, &blanks, 4);
        std::memcpy(out + n - 4, &blanks, 4);
    } else if (n < 4) {
        out[0] = ' ';
        out[n / 2] = ' ';
        out[n - 1] = ' ';
    } else {
        std::memset(out, ' ', n);
    }
    return out + n;
}

inline char* put_text(char* out, const char* text, int length, int width)
{
    out = pad(out, length, width);
    std::memcpy(out, text, static_cast<size_t>(length));
    return out + length;
}

char* put_nonfinite(char* out, double v, int width)
{
    const bool negative = std::signbit(v);
    const char* text = std::isnan(v) ? "-nan" : "-inf";
    return negative ? put_text(out, text, 4, width) : put_text(out, text + 1, 3, width);
}

char* put_via_to_chars(char* out, double v, int width, int precision, std::chars_format format)
{
    char text[400];  // fixed notation of 1e308 with 60 decimals: 371 characters
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v, format, precision);
    return put_text(out, text, static_cast<int>(r.ptr - text), width);
}


// Passes over the run of digits at p, counting them in `significant` and
// keeping the first 19 significant ones in `mantissa`.  Two digits at a time
// while both fit: half the dependent multiplications.  A byte is read only
// after the one before it was seen to be a digit, never past the NUL.
const char* take_digits(const char* p, uint64_t& mantissa, int& significant)
{
    while (significant <= 17 && is_digit(p[0]) && is_digit(p[1])) {
        mantissa = mantissa * 100 + static_cast<unsigned>(p[0] - '0') * 10 +
                   static_cast<unsigned>(p[1] - '0');
        p += 2;
        significant += 2;
    }
    for (; is_digit(*p); ++p, ++significant) {
        if (significant < 19)
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    }
    return p;
}

// Passes over the white space and the sign that strtod and strtol allow in
// front of a number; true for a minus sign.
bool skip_space_and_sign(const char*& p)
{
    while (is_space(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    return negative;
}

}  // namespace

double parse_double(const char* text)
{
    const char* p = text;
    const bool negative = skip_space_and_sign(p);
    const char* const first = p;

    bool any_digit = false;
    while (*p == '0') {
        ++p;
        any_digit = true;
    }
    if (any_digit && (*p == 'x' || *p == 'X'))
        return std::strtod(text, nullptr);
    // Up to 19 significant digits are gathered; `fraction` counts the digits
    // after the point.
    uint64_t mantissa = 0;
    int significant = 0;
    int fraction = 0;
    p = take_digits(p, mantissa, significant);
    if (*p == '.') {
        ++p;
        if (significant == 0) {
            for (; *p == '0'; ++p, ++fraction)
                any_digit = true;
        }
        const char* const first_decimal = p;
        p = take_digits(p, mantissa, significant);
        fraction += static_cast<int>(p - first_decimal);
    }
    if (significant > 0)
        any_digit = true;
    if (!any_digit)
        return std::strtod(text, nullptr);  // inf, nan or no number at all

    int exponent = 0;
    bool exponent_cut = false;  // more exponent digits than `exponent` keeps
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        const bool exponent_negative = *q == '-';
        if (*q == '-' || *q == '+')
            ++q;
        if (is_digit(*q)) {
            for (; is_digit(*q); ++q) {
                if (exponent < 100000)
                    exponent = exponent * 10 + (*q - '0');
                else
                    exponent_cut = true;
            }
            if (exponent_negative)
                exponent = -exponent;
            p = q;
        }
    }

    if (mantissa == 0 && significant == 0)
        return negative ? -0.0 : 0.0;
    // A cut exponent is far past the double range, unless a run of digits
    // as long takes it back (zeros after the point): strtod settles both.
    if (exponent_cut)
        return std::strtod(text, nullptr);
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    if (significant <= 19 && mantissa <= (uint64_t{1} << 53)) {
        const int scale = exponent - fraction;
        if (scale >= -22 && scale <= 22) {
            double value = static_cast<double>(mantissa);
            value = scale < 0 ? value / kPow10d[-scale] : value * kPow10d[scale];
            return negative ? -value : value;
        }
    }
#endif
    double value;
    const std::from_chars_result r = std::from_chars(first, p, value);
    if (r.ec == std::errc() && r.ptr == p)
        return negative ? -value : value;
    return std::strtod(text, nullptr);  // past the double range
}

long parse_long(const char* text)
{
    // The usual text: a sign or none, then up to 18 digits (which cannot
    // overflow) and something that is not a digit.  Everything else, white
    // space in front included, is strtol's.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (static_cast<unsigned>(*p - '0') <= 9u) {
        uint64_t value = 0;
        int n = 0;
        while (n < 18 && static_cast<unsigned>(p[n] - '0') <= 9u)
            value = value * 10 + static_cast<unsigned>(p[n++] - '0');
        if (static_cast<unsigned>(p[n] - '0') > 9u)
            return negative ? -static_cast<long>(value) : static_cast<long>(value);
    }
    return std::strtol(text, nullptr, 10);
}

namespace {

// Writes "%W.Pe" of the value (-1)^negative * digits * 10^(exponent - precision),
// digits holding precision + 1 decimal digits.
char* put_e(char* out, bool negative, uint64_t digits, int exponent, int width, int precision)
{
    const int magnitude = exponent < 0 ? -exponent : exponent;
    const int length = negative + (precision ? precision + 2 : 1) + (magnitude >= 100 ? 5 : 4);
    out = pad(out, length, width);
    if (negative)
        *out++ = '-';
    // All digits one place to the right, then the first one moves in front
    // of the point.
    put_digits(out + precision + 2, digits, precision + 1);
    out[0] = out[1];
    if (precision) {
        out[1] = '.';
        out += precision + 2;
    } else {
        out += 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    if (magnitude >= 100)
        *out++ = static_cast<char>('0' + magnitude / 100);
    std::memcpy(out, kPairs + 2 * (magnitude % 100), 2);
    return out + 2;
}

// floor(log10(a)), or one less, for a positive a in [2^binary, 2^(binary+1)).
int decimal_exponent_guess(int binary)
{
    return binary >= 0 ? (binary * 78913) >> 18 : -((-binary * 78913) >> 18) - 1;
}

#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
constexpr int kMaxDoubleE = 8;  // 10^(precision + 1) stays below 2^30

// The digit string and exponent of "%.Pe" (P <= kMaxDoubleE) through one
// double operation, where that decides them; false otherwise.
bool e_digits_by_double(double a, uint64_t bits, int precision, uint64_t& digits, int& exponent)
{
    const double low = kPow10d[precision];
    const double high = kPow10d[precision + 1];
    exponent = decimal_exponent_guess(static_cast<int>(bits >> 52 & 0x7ff) - 1023);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int scale = precision - exponent;
        if (scale < -22 || scale > 22)
            return false;
        const double scaled = scale >= 0 ? a * kPow10d[scale] : a / kPow10d[-scale];
        if (scaled >= high) {  // the guess was one too low
            ++exponent;
            continue;
        }
        // Adding 2^52 rounds to an integer (ties to even); the difference
        // is exact.
        const double nearest = (scaled + 0x1p52) - 0x1p52;
        if (0.5 - std::fabs(scaled - nearest) <= 0x1p-23)
            return false;  // too close to a tie to tell
        digits = static_cast<uint64_t>(nearest);
        if (digits < static_cast<uint64_t>(low))
            return false;  // below the exponent guessed: not seen from normal values
        if (digits == static_cast<uint64_t>(high)) {  // rounded up to the next power of ten
            digits = static_cast<uint64_t>(low);
            ++exponent;
        }
        return true;
    }
    return false;
}
#endif

}  // namespace

char* format_e(char* out, double v, int width, int precision)
{
    if (!std::isfinite(v))
        return put_nonfinite(out, v, width);
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const bool negative = bits >> 63;
    const double a = std::fabs(v);
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    if (precision <= kMaxDoubleE && (bits >> 52 & 0x7ff) != 0) {
        uint64_t digits = 0;
        int exponent = 0;
        if (e_digits_by_double(a, bits, precision, digits, exponent))
            return put_e(out, negative, digits, exponent, width, precision);
    }
#endif
    return put_via_to_chars(out, v, width, precision, std::chars_format::scientific);
}

char* format_f(char* out, double v, int width, int precision)
{
    if (!std::isfinite(v))
        return put_nonfinite(out, v, width);
    const bool negative = std::signbit(v);
    if (std::fabs(v) >= 0x1p63 || precision > 19)
        return put_via_to_chars(out, v, width, precision, std::chars_format::fixed);

    // |v| = m * 2^e exactly.
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    int biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased != 0)
        m |= uint64_t{1} << 52;
    else
        biased = 1;
    const int e = biased - 1075;

    uint64_t integer;
    uint64_t decimals = 0;  // the fraction times 10^precision, rounded
    if (e >= 0) {
        integer = m << e;
    } else {
        const int q = -e;  // |v| = integer + f / 2^q
        const uint64_t f = q >= 64 ? m : m & ((uint64_t{1} << q) - 1);
        integer = q >= 64 ? 0 : m >> q;
        if (f != 0 && q < 128) {
            // f * 10^precision < 2^117: below half a unit once q >= 118.
            const uint128 product = static_cast<uint128>(f) * kPow10u[precision];
            decimals = static_cast<uint64_t>(product >> q);
            const uint128 rest = product & ((uint128{1} << q) - 1);
            const uint128 half = uint128{1} << (q - 1);
            const bool odd = (precision == 0 ? integer : decimals) & 1;
            if (rest > half || (rest == half && odd))
                ++decimals;
            if (decimals == kPow10u[precision]) {
                decimals = 0;
                ++integer;
            }
        }
    }

    const int integer_digits = digit_count(integer);
    const int length = negative + integer_digits + (precision ? precision + 1 : 0);
    out = pad(out, length, width);
    if (negative)
        *out++ = '-';
    put_digits(out + integer_digits, integer, integer_digits);
    out += integer_digits;
    if (precision) {
        *out++ = '.';
        put_digits(out + precision, decimals, precision);
        out += precision;
    }
    return out;
}

char* format_d(char* out, int v, int width)
{
    // Integers are few: std::to_chars is fast enough (a one-word path of its
    // own saves under 1 % on any product).
    char text[12];  // sign and ten digits
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    return put_text(out, text, static_cast<int>(r.ptr - text), width);
}
