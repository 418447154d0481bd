// Support routines: failure reporting, checked output files, the calendar
// conversion and strpos.
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
#include <sys/ioctl.h>
#include <unistd.h>

void report_failure(const char* format, ...)
{
    ++run_state.failures;
    clear_status_line();
    std::fputs("TAIHEN: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int failures_reported()
{
    return run_state.failures;
}

void report_line(const char* format, ...)
{
    clear_status_line();
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void show_status_line(const std::string& text, bool on_terminal)
{
    if (!on_terminal) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    // A line that wrapped could not be drawn over: cut to the terminal's width.
    std::string line = text;
    struct winsize terminal;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &terminal) == 0 && terminal.ws_col > 1 &&
        line.size() >= terminal.ws_col)
        line.resize(terminal.ws_col - 1u);
    // Over the line shown before, blanking what the new one leaves over.
    std::size_t& width = run_state.status_line_width;
    const int blanks = width > line.size() ? static_cast<int>(width - line.size()) : 0;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), blanks, "");
    if (blanks > 0)
        std::fprintf(stderr, "\r%s", line.c_str());
    width = line.size();
}

void clear_status_line()
{
    std::size_t& width = run_state.status_line_width;
    if (width == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), "");
    width = 0;
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

namespace {

// The whole-day terms of the Meeus Julian Day of a calendar date: E, G and
// the Gregorian correction B, each a whole number held as a double.
struct MeeusTerms {
    double e;
    double g;
    double b;
};

MeeusTerms meeus_terms(double year, double month)
{
    double y = year;
    double m = month;
    if (!(month > 2)) {  // January, February (and NaN) count with the year before
        y = year - 1;
        m = month + 12;
    }
    const double a = std::floor(y / 100);
    MeeusTerms t;
    t.b = 2 - a + std::floor(a * 0.25);
    t.e = std::floor(365.25 * (y + 4716));
    t.g = std::floor(30.6001 * (m + 1));
    return t;
}

// Julian date of 00:00 of a calendar day, without any time of day.  For
// whole-numbered date fields every term is a whole or half number, so it is
// exact for any year up to some millions.
double julian_midnight(double year, double month, double day)
{
    const MeeusTerms t = meeus_terms(year, month);
    return ((t.e + t.g + day) + t.b) - 1524.5;
}

}  // namespace

// Julian Day after Meeus, Gregorian correction applied to every date.  The
// order of the operations is part of the result: keep it.
double greg2jul(double year, double month, double day, double hour, double minute,
                double second)
{
    const MeeusTerms t = meeus_terms(year, month);
    const double f = hour / 24 + minute / 1440 + second / 86400;
    return (t.e + t.g + day) + f + t.b - 1524.5;
}

// The days and the time of day meet in seconds, never as a day fraction: a
// Julian date near 2.4e6 days keeps only some tens of microseconds, so going
// through one would move whole-second epochs off the whole second.  Whole
// days times 86400 and whole-second times of day are exact, so only a
// fractional second is ever rounded: once into the time of day and once into
// the sum.
double gps_seconds(double year, double month, double day, double hour, double minute,
                   double second)
{
    const double days = julian_midnight(year, month, day) - julian_midnight(1980, 1, 6);
    const double time_of_day = (hour * 3600 + minute * 60) + second;
    return days * 86400 + time_of_day;
}
