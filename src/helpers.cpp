// Support routines: failure reporting, checked output files, the calendar
// conversion and exact, fast number <-> text conversions.
#include "l2xml2ascii.h"

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Failures reported in this run; any decides exit status 1.
int failure_count = 0;

}  // namespace

void report_failure(const char* format, ...)
{
    ++failure_count;
    std::fputs("TAIHEN: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int failures_reported()
{
    return failure_count;
}

void reset_failures()
{
    failure_count = 0;
}

void prepare_standard_streams()
{
    // A reader that goes away makes writes fail with EPIPE, reported like
    // any other write error, instead of ending the run unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard descriptor closed at start would be the next one handed
    // out, and an output file opened on it would receive what is printed.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)  // cannot happen: fd was the lowest free one
            ::close(opened);
    }
}

void check_standard_output()
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout))
        return;
    // A failure before the last flush may have left errno long changed.
    report_failure("write error on standard output: %s\n",
                   std::strerror(!flushed && error != 0 ? error : EIO));
    std::clearerr(stdout);
}

// ---------------------------------------------------------------------------

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::open(const std::string& path, const char* mode)
{
    close();
    path_ = path;
    error_reported_ = false;
    fp_ = std::fopen(path.c_str(), mode);
    if (fp_ == nullptr)
        return false;
    // The file's own buffer does the buffering.
    std::setvbuf(fp_, nullptr, _IONBF, 0);
    if (!buffer_)
        buffer_.reset(new char[kBufferSize]);
    used_ = 0;
    return true;
}

void OutputFile::flush_buffer()
{
    if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, fp_) != used_)
        report_write_error(errno);
    used_ = 0;
}

void OutputFile::write_through(const void* data, std::size_t size)
{
    if (fp_ == nullptr || size == 0)
        return;
    flush_buffer();
    if (size < kBufferSize) {
        std::memcpy(buffer_.get(), data, size);
        used_ = size;
    } else if (std::fwrite(data, 1, size, fp_) != size) {
        report_write_error(errno);
    }
}

void OutputFile::close()
{
    if (fp_ == nullptr)
        return;
    flush_buffer();
    // fflush first so that errno describes a failure of the last writes.
    errno = 0;
    const bool flushed = std::fflush(fp_) == 0 && !std::ferror(fp_);
    const int flush_error = errno;
    const bool closed = std::fclose(fp_) == 0;
    const int close_error = errno;
    fp_ = nullptr;
    if (!flushed)
        report_write_error(flush_error != 0 ? flush_error : EIO);
    else if (!closed)
        report_write_error(close_error != 0 ? close_error : EIO);
}

void OutputFile::report_write_error(int error)
{
    if (error_reported_)
        return;
    error_reported_ = true;
    report_failure("write error on %s: %s\n", path_.c_str(), std::strerror(error));
}

// ---------------------------------------------------------------------------

int32_t strpos(const char* str, const char* pattern)
{
    const char* found = std::strstr(str, pattern);
    return found == nullptr ? -1 : static_cast<int32_t>(found - str);
}

// Julian Day after Meeus, Gregorian correction applied to every date.  The
// order of the operations is part of the result: keep it.
double greg2jul(double year, double month, double day, double hour, double minute,
                double second)
{
    double y = year;
    double m = month;
    if (!(month > 2)) {  // January, February (and NaN) count with the year before
        y = year - 1;
        m = month + 12;
    }
    const double a = std::floor(y / 100);
    const double b = 2 - a + std::floor(a * 0.25);
    const double e = std::floor(365.25 * (y + 4716));
    const double g = std::floor(30.6001 * (m + 1));
    const double f = hour / 24 + minute / 1440 + second / 86400;
    return (e + g + day) + f + b - 1524.5;
}

double gps_seconds(double year, double month, double day, double hour, double minute,
                   double second)
{
    const double j = greg2jul(year, month, day, hour, minute, second);
    const double j0 = greg2jul(1980, 1, 6, 0, 0, 0);
    return (j - j0) * 24 * 3600;
}

// ---------------------------------------------------------------------------
// Number <-> text conversions, exact and fast.
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
// never needs help.
//
// "%e" with up to 8 decimals and a scale 10^(precision - exponent) of at
// most 10^22 either way (the powers a double holds exactly): the scaled value
// is one correctly rounded double multiplication or division, below 2^30, so
// within 2^-24 of the true one (and, rounding being monotonic, never on the
// other side of a midpoint n + 1/2, which is a double there).  When it lies
// farther than 2^-23 from a midpoint, its nearest integer is the digit
// string; otherwise the x87 path below decides.
//
// Other "%e": the value is scaled by 10^(precision - exponent) in x87 long double
// (64-bit significand): at most two roundings, so the scaled value is within
// 10^(precision + 2) * 2^-62 of the true one. When it lies farther than that
// from the middle between two integers, the nearest integer is the correctly
// rounded digit string; otherwise (a few values in a billion of random data,
// plus exact ties such as 1234567891.5 with 8 decimals) std::to_chars writes
// the text, as it does for precisions above 12 and where long double is not
// the x87 format.

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

#if LDBL_MANT_DIG == 64 && (defined(__x86_64__) || defined(__i386__))
// Whether long double arithmetic keeps its 64-bit significand here: under an
// emulator such as valgrind it is done in double precision.
bool long_double_is_extended()
{
    static const bool extended = [] {
        volatile long double one = 1.0L;
        return one + 0x1p-60L != 1.0L;
    }();
    return extended;
}

// 10^k, exact in a 64-bit significand for k <= 27 (5^27 < 2^64).
constexpr long double kPow10ld[28] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
    1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
    1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
#endif

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

#if LDBL_MANT_DIG == 64 && (defined(__x86_64__) || defined(__i386__))
constexpr int kMaxFastE = 12;  // 10^(precision + 2) stays below 2^63
constexpr int kMinPow = -330;  // every 10^k format_e looks up, with room
constexpr int kMaxPow = 340;

// 10^k correctly rounded to long double, kMinPow <= k <= kMaxPow.
struct Powers {
    long double value[kMaxPow - kMinPow + 1];
    Powers()
    {
        char text[16];
        for (int k = kMinPow; k <= kMaxPow; ++k) {
            std::snprintf(text, sizeof text, "1e%d", k);
            value[k - kMinPow] = std::strtold(text, nullptr);
        }
    }
    long double operator()(int k) const { return value[k - kMinPow]; }
};

const Powers& powers()
{
    static const Powers table;
    return table;
}
#endif

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
#if LDBL_MANT_DIG == 64 && (defined(__x86_64__) || defined(__i386__))
    if (significant <= 19 && long_double_is_extended()) {
        // Up to 19 digits fit the 64-bit significand of an x87 long double,
        // and so do the powers of ten up to 10^27: one long double operation
        // rounds once, to 64 bits.  Rounding that to a double gives the
        // correctly rounded value unless the 11 bits dropped lie next to a
        // half (the true value could then be on the other side of it).
        const int scale = exponent - fraction;
        if (scale >= -27 && scale <= 27) {
            const long double whole = static_cast<long double>(mantissa);
            const long double scaled = scale < 0 ? whole / kPow10ld[-scale] : whole * kPow10ld[scale];
            uint64_t significand;
            std::memcpy(&significand, &scaled, sizeof significand);
            const unsigned dropped = static_cast<unsigned>(significand & 0x7ff);
            if (dropped + 1 - 0x400 > 2) {  // not within one of 0x400
                const double value = static_cast<double>(scaled);
                return negative ? -value : value;
            }
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
    const char* p = text;
    const bool negative = skip_space_and_sign(p);
    const char* const digits = p;
    long value = 0;
    for (; is_digit(*p); ++p) {
        if (p - digits == 18)
            return std::strtol(text, nullptr, 10);  // may overflow
        value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
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
#if LDBL_MANT_DIG == 64 && (defined(__x86_64__) || defined(__i386__))
    if (precision <= kMaxFastE) {
        const uint64_t low = kPow10u[precision];
        const uint64_t high = kPow10u[precision + 1];
        uint64_t digits = 0;
        int exponent = 0;
        bool done = a == 0;
        if (!done) {
            // Guess floor(log10(a)) from the binary exponent, then correct it
            // with the table; a guess that is still one off shows up below in
            // the count of digits.
            const int biased = static_cast<int>(bits >> 52 & 0x7ff);
            exponent = decimal_exponent_guess(biased != 0 ? biased - 1023 : std::ilogb(a));
            const Powers& pow10 = powers();
            if (static_cast<long double>(a) >= pow10(exponent + 1))
                ++exponent;
            // Within this distance of a tie the scaled value cannot tell the
            // rounding direction.
            const long double bound = static_cast<long double>(high) * 10 * 0x1p-62L;
            for (int attempt = 0; attempt < 3 && !done; ++attempt) {
                const long double scaled = a * pow10(precision - exponent);
                // Adding 2^63 rounds to an integer (ties to even) and leaves
                // it in the low bits of the 64-bit significand.
                const long double shifted = scaled + 0x1p63L;
                if (0.5L - std::fabs(scaled - (shifted - 0x1p63L)) <= bound)
                    break;
                std::memcpy(&digits, &shifted, sizeof digits);
                digits -= uint64_t{1} << 63;
                if (digits < low) {
                    --exponent;
                } else if (digits > high) {
                    ++exponent;
                } else {
                    if (digits == high) {  // rounded up to the next power of ten
                        digits = low;
                        ++exponent;
                    }
                    done = true;
                }
            }
        }
        if (done)
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
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Indices and flags, the usual values, fit eight places: they are made
    // in one word, leading zeros turned to blanks, and its last `field`
    // places are stored at once (the caller's room holds eight bytes).
    if (v >= 0 && v < 100000000 && width <= 8) {
        const uint32_t value = static_cast<uint32_t>(v);
        const int digits = digit_count(value);
        const int field = width > digits ? width : digits;
        const uint32_t high = value / 10000;
        const uint32_t low = value % 10000;
        auto pair = [](uint32_t two_digits) {
            uint16_t text;
            std::memcpy(&text, kPairs + 2 * two_digits, 2);
            return uint64_t{text};
        };
        uint64_t places = pair(high / 100) | pair(high % 100) << 16 | pair(low / 100) << 32 |
                          pair(low % 100) << 48;
        const uint64_t zeros = (uint64_t{1} << (8 * (8 - digits))) - 1;  // the first bytes
        places = (places & ~zeros) | (0x2020202020202020u & zeros);
        places >>= 8 * (8 - field);
        std::memcpy(out, &places, 8);
        return out + field;
    }
#endif
    unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    const int digits = digit_count(magnitude);
    const int length = (v < 0) + digits;
    out = pad(out, length, width);
    if (v < 0)
        *out++ = '-';
    put_digits(out + digits, magnitude, digits);
    return out + digits;
}
