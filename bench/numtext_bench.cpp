// Nanoseconds per value of the number conversions next to the C library
// calls they replace (and std::from_chars / std::to_chars), on values shaped
// like the products' fields.
//
//   g++ -O2 -std=c++17 -ffp-contract=off -Isrc bench/numtext_bench.cpp src/numtext.cpp -o /tmp/numtext_bench
//   /tmp/numtext_bench [distinct values, default 10000]
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "numtext.h"

namespace {

volatile uint64_t sink;  // keeps the results alive

// Best of 5 rounds, each going `passes` times over the n inputs (few enough
// to stay in cache, as the text of the node just read is).
template <typename F>
void Time(const char* name, size_t n, F&& body)
{
    const size_t passes = 2000000 / n + 1;
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        uint64_t sum = 0;
        for (size_t pass = 0; pass < passes; ++pass) {
            for (size_t i = 0; i < n; ++i)
                sum += body(i);
        }
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        sink = sum;
        best = std::min(best, took.count() / static_cast<double>(n * passes));
    }
    std::printf("  %-34s %7.1f ns\n", name, best);
}

uint64_t Bits(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    std::mt19937_64 engine(7);
    std::uniform_real_distribution<double> gradient(-3e3, 3e3), position(-7e6, 7e6), time(6e8, 1.4e9),
        unit(-1.0, 1.0);
    std::vector<double> values(n);
    std::vector<std::string> texts(n);
    std::vector<std::string> integers(n);
    std::vector<int> ints(n);
    char text[64];
    for (size_t i = 0; i < n; ++i) {
        double v;
        switch (i % 4) {
        case 0: v = gradient(engine); break;
        case 1: v = position(engine); break;
        case 2: v = time(engine); break;
        default: v = unit(engine); break;
        }
        std::snprintf(text, sizeof text, i % 8 == 2 ? "%f" : "%.12E", v);  // as in the XML
        texts[i] = text;
        values[i] = std::strtod(text, nullptr);
        ints[i] = static_cast<int>(engine() % 2000000) - 1000000;
        integers[i] = std::to_string(ints[i]);
    }
    char out[512];

    std::printf("parsing, %zu texts like \"%s\"\n", n, texts[0].c_str());
    Time("strtod", n, [&](size_t i) { return Bits(std::strtod(texts[i].c_str(), nullptr)); });
    Time("std::from_chars", n, [&](size_t i) {
        double v;
        std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), v);
        return Bits(v);
    });
    Time("parse_double", n, [&](size_t i) { return Bits(parse_double(texts[i].c_str())); });
    // 16 and 17 significant digits, as the gradient and attitude fields have.
    std::vector<std::string> long_texts(n);
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, i % 2 ? "%.15E" : "%.16f", i % 2 ? values[i] * 1e-6 : unit(engine));
        long_texts[i] = text;
    }
    std::printf("parsing, %zu texts like \"%s\", \"%s\"\n", n, long_texts[0].c_str(), long_texts[1].c_str());
    Time("strtod", n, [&](size_t i) { return Bits(std::strtod(long_texts[i].c_str(), nullptr)); });
    Time("parse_double", n, [&](size_t i) { return Bits(parse_double(long_texts[i].c_str())); });
    Time("strtol", n, [&](size_t i) { return static_cast<uint64_t>(std::strtol(integers[i].c_str(), nullptr, 10)); });
    Time("parse_long", n, [&](size_t i) { return static_cast<uint64_t>(parse_long(integers[i].c_str())); });

    std::printf("formatting, %zu values\n", n);
    const struct {
        const char* format;
        int width, precision;
        bool fixed;
    } formats[] = {{"%15.8e", 15, 8, false}, {"%14.7e", 14, 7, false}, {"%20.9f", 20, 9, true},
                   {"%15.6f", 15, 6, true},  {"%2.16f", 2, 16, true}};
    for (const auto& f : formats) {
        std::string label = std::string("snprintf ") + f.format;
        Time(label.c_str(), n, [&](size_t i) {
            return static_cast<uint64_t>(std::snprintf(out, sizeof out, f.format, values[i]));
        });
        Time("std::to_chars", n, [&](size_t i) {
            return static_cast<uint64_t>(
                std::to_chars(out, out + sizeof out, values[i],
                              f.fixed ? std::chars_format::fixed : std::chars_format::scientific, f.precision)
                    .ptr -
                out);
        });
        Time(f.fixed ? "format_f" : "format_e", n, [&](size_t i) {
            return static_cast<uint64_t>(
                (f.fixed ? format_f(out, values[i], f.width, f.precision) : format_e(out, values[i], f.width, f.precision)) -
                out);
        });
    }
    Time("snprintf %6d", n, [&](size_t i) { return static_cast<uint64_t>(std::snprintf(out, sizeof out, "%6d", ints[i])); });
    Time("format_d", n, [&](size_t i) { return static_cast<uint64_t>(format_d(out, ints[i], 6) - out); });
    return 0;
}
