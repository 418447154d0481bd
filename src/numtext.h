// Number <-> text conversions of the product fields.
//
// Each gives exactly the result of the C library call named beside it (C
// locale, default rounding mode), bit for bit and byte for byte, only faster:
// common inputs take a short exact path, everything else is handed to
// strtod / strtol / std::from_chars / std::to_chars.
#ifndef L2_NUMTEXT_H
#define L2_NUMTEXT_H

// strtod(text, nullptr): leading white space, sign, decimal or hexadecimal
// digits, inf / infinity / nan / nan(...); the rest of the text is ignored and
// a text without a number gives 0.
double parse_double(const char* text);

// strtol(text, nullptr, 10), overflow clamped to LONG_MAX / LONG_MIN.
long parse_long(const char* text);

// Appenders: each writes what snprintf writes for a single conversion of the
// form shown (blanks on the left up to `width`, never cut, no closing NUL) at
// `out` and returns the end of the written text. The caller provides the room
// given by the matching *_max_length; `precision` must lie in 0..60.
// Infinities and NaNs come out as glibc prints them: "inf", "-inf", "nan",
// "-nan".

// "%<width>.<precision>e"
char* format_e(char* out, double v, int width, int precision);
// "%<width>.<precision>f" (also the text "%<width>.<precision>Lf" gives for a
// long double that holds this double)
char* format_f(char* out, double v, int width, int precision);
// "%<width>d"; width 0 is plain "%d"
char* format_d(char* out, int v, int width);

// Most characters each appender writes: sign, one digit, point, digits and an
// exponent of up to three digits for "e"; sign, up to 309 integer digits,
// point and digits for "f"; sign and ten digits for "d".
constexpr int format_e_max_length(int width, int precision)
{
    return width > precision + 8 ? width : precision + 8;
}
constexpr int format_f_max_length(int width, int precision)
{
    return width > precision + 311 ? width : precision + 311;
}
constexpr int format_d_max_length(int width)
{
    return width > 11 ? width : 11;
}

#endif  // L2_NUMTEXT_H
