// Support routines: checked output files, the calendar conversion and strpos.
#include "helpers.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::open(const std::string& path, const char* mode, const std::string& name)
{
    close();
    path_ = name.empty() ? path : name;
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

void OutputFile::discard()
{
    if (fp_ == nullptr)
        return;
    used_ = 0;
    std::fclose(fp_);
    fp_ = nullptr;
}

bool OutputFile::device_and_inode(uint64_t& device, uint64_t& inode) const
{
    struct stat st;
    if (fp_ == nullptr || fstat(fileno(fp_), &st) != 0)
        return false;
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

void OutputFile::report_write_error(int error)
{
    if (error_reported_)
        return;
    error_reported_ = true;
    if (listener_ != nullptr)
        listener_->write_failed(*this, error);
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
