// Support routines: checked output files, the calendar conversion, strpos.
#ifndef L2_HELPERS_H
#define L2_HELPERS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

// Position of the first occurrence of `pattern` in `str` (strstr), or -1.
int32_t strpos(const char* str, const char* pattern);

// Julian date of a proleptic Gregorian calendar date and time of day.
double greg2jul(double year, double month, double day, double hour, double minute,
                double second);

// Seconds since 1980-01-06 00:00:00 of a calendar date, without leap seconds.
double gps_seconds(double year, double month, double day, double hour, double minute,
                   double second);

class OutputFile;

// Hears of the first write error on an output file.
class WriteErrorListener {
public:
    virtual void write_failed(const OutputFile& file, int error) = 0;

protected:
    ~WriteErrorListener() = default;
};

// One output file.  Every write and the close are checked; the first failure
// on a file goes to its listener, once.
class OutputFile {
public:
    explicit OutputFile(WriteErrorListener* listener = nullptr) : listener_(listener) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    void set_listener(WriteErrorListener* listener) { listener_ = listener; }

    // Opens `path` with fopen `mode` ("w" or "a"), closing what was open;
    // the file is known as `name` (as `path` when empty).  Returns false,
    // with errno set by fopen, when the file cannot be had.
    bool open(const std::string& path, const char* mode, const std::string& name = "");
    bool is_open() const { return fp_ != nullptr; }
    // The name it was opened under.
    const std::string& path() const { return path_; }

    void write(const void* data, std::size_t size)
    {
        // Table lines, the usual case, gather in the file's own buffer:
        // stdio is handed whole blocks.
        if (fp_ != nullptr && size <= kBufferSize - used_) {
            std::memcpy(buffer_.get() + used_, data, size);
            used_ += size;
            return;
        }
        write_through(data, size);
    }
    void write(const std::string& text) { write(text.data(), text.size()); }
    // Checked close; does nothing when not open.
    void close();
    // Closes without writing what is still buffered or telling anyone.
    void discard();
    // Device and inode of the open file; false when closed.
    bool device_and_inode(uint64_t& device, uint64_t& inode) const;

private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 16;

    void write_through(const void* data, std::size_t size);
    void flush_buffer();
    void report_write_error(int error);

    WriteErrorListener* listener_;
    std::FILE* fp_ = nullptr;   // the stream, null while closed
    std::string path_;          // name the stream was opened under
    bool error_reported_ = false;  // a write error on this file was reported
    std::unique_ptr<char[]> buffer_;  // kBufferSize bytes once opened
    std::size_t used_ = 0;            // bytes of buffer_ not yet handed on
};

#endif  // L2_HELPERS_H
