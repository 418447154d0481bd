// The progress line of a product pass on standard error.
#ifndef L2_PROGRESS_H
#define L2_PROGRESS_H

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "input.h"

// The one line on standard error that a progress meter draws over and over
// on a terminal; every other line printed takes it away first (clear()).
class StatusLine {
public:
    // On a terminal `text` is drawn over the line shown before (cut to the
    // terminal's width, so that it never wraps); elsewhere it is a line of
    // its own that stays.
    void show(const std::string& text, bool on_terminal);
    void clear();

private:
    std::size_t width_ = 0;  // characters drawn now, 0: none
};

// The progress of one product pass, shown on standard error: the share of
// the file read, the speed and the time left.  On a terminal the line is
// redrawn a few times a second and taken away at the end; elsewhere a line
// is printed every second and once at the end.
class ProgressMeter : public ReadProgress {
public:
    // `file_size`: bytes of the file as stored, 0 when not known.
    ProgressMeter(StatusLine& line, uint64_t file_size, bool on_terminal)
        : line_(line), file_size_(file_size), on_terminal_(on_terminal), start_(Clock::now()),
          last_(start_)
    {
        if (on_terminal_)
            show(0, 0.0);
    }
    ~ProgressMeter() { line_.clear(); }
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // `bytes_read` of the file have been read: shown when an update is due.
    void update(uint64_t bytes_read) override
    {
        const Clock::time_point now = Clock::now();
        if (now - last_ < (on_terminal_ ? kTerminalInterval : kLogInterval))
            return;
        last_ = now;
        show(bytes_read, seconds_since_start(now));
    }

    // The pass has ended: the terminal line goes, a log gets its last line.
    void finish(uint64_t bytes_read)
    {
        if (on_terminal_)
            line_.clear();
        else
            show(bytes_read, seconds_since_start(Clock::now()));
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kTerminalInterval = std::chrono::milliseconds(200);
    static constexpr Clock::duration kLogInterval = std::chrono::seconds(1);

    double seconds_since_start(Clock::time_point now) const
    {
        return std::chrono::duration<double>(now - start_).count();
    }

    // "progress: 42% of 1073.7 MB read, 153.2 MB/s, 0:07 left"; without the
    // file's size only what was read and the speed.
    void show(uint64_t bytes_read, double seconds)
    {
        const double megabytes = static_cast<double>(bytes_read) / 1e6;
        const double speed = seconds > 0 ? megabytes / seconds : 0.0;
        char text[160];
        if (file_size_ == 0) {
            std::snprintf(text, sizeof text, "progress: %.1f MB read, %.1f MB/s", megabytes, speed);
        } else {
            const uint64_t done = std::min(bytes_read, file_size_);
            const int percent = static_cast<int>(done * 100 / file_size_);
            std::string left = "-:--";
            if (done == file_size_) {
                left = "0:00";
            } else if (done > 0 && seconds > 0) {
                const double rest = seconds * static_cast<double>(file_size_ - done) / static_cast<double>(done);
                left = clock_text(rest);
            }
            std::snprintf(text, sizeof text, "progress: %3d%% of %.1f MB read, %.1f MB/s, %s left",
                          percent, static_cast<double>(file_size_) / 1e6, speed, left.c_str());
        }
        line_.show(text, on_terminal_);
    }

    // Seconds as m:ss, or h:mm:ss from an hour on.
    static std::string clock_text(double seconds)
    {
        const long total = seconds < 1e7 ? static_cast<long>(seconds + 0.5) : 9999999L;
        char text[32];
        if (total >= 3600)
            std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
        else
            std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
        return text;
    }

    StatusLine& line_;
    const uint64_t file_size_;
    const bool on_terminal_;
    const Clock::time_point start_;
    Clock::time_point last_;  // when the line was last shown
};


#endif  // L2_PROGRESS_H
