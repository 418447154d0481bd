// Input files: reading the product and header files.  They are opened as
// local files (a name is never taken for a URL) and read through
// libarchive's raw reader, which recognises gzip, xz, bzip2 and zstd
// compression by content and passes any other file through as it stands.
// The bytes reach libxml2 through the read callback of xmlReaderForIO, so
// that what can be read never depends on how libxml2 was built.
//
//   XmlInput input;
//   if (!input.open(path)) ... cannot be opened (errno) ...
//   reader = xmlReaderForIO(XmlInput::read, nullptr, &input, path, nullptr, 0);
//   ... walk, free the reader ...
//   if (input.failed()) ... input.error() ...
//
// A plain file is read straight from libarchive's blocks.  A compressed file
// is decompressed on a second thread that hands whole blocks over through a
// small fixed ring, so that inflating and parsing run side by side in
// constant memory; the thread touches nothing but the archive handle and the
// ring.
#ifndef L2_INPUT_H
#define L2_INPUT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <sys/types.h>

struct archive;

// Hears how far the reading of one input has come.
class ReadProgress {
public:
    virtual ~ReadProgress() = default;
    // `bytes_read` of the file as stored have been read.
    virtual void update(uint64_t bytes_read) = 0;
};

class XmlInput {
public:
    XmlInput();
    ~XmlInput();  // the decompression thread ends before the archive goes
    XmlInput(const XmlInput&) = delete;
    XmlInput& operator=(const XmlInput&) = delete;

    // Opens the local file `path`.  False, with errno set, when it cannot be
    // opened; every later problem (reading, decompressing) shows in failed().
    bool open(const std::string& path);

    // xmlInputReadCallback: up to `length` bytes of the file's content into
    // `buffer`; 0 at its end, -1 once reading has failed.
    static int read(void* context, char* buffer, int length)
    {
        return static_cast<XmlInput*>(context)->read_some(buffer, length);
    }

    // The next piece of the file's content, in place: `data` stays valid
    // until the next call.  Its size, 0 at the end, -1 once reading failed.
    int next_piece(const char*& data);

    // Reading or decompressing failed; error() tells why.
    bool failed() const { return failed_; }
    const char* error() const { return error_.c_str(); }

    // Bytes of the file as stored (0: not a regular file), and read so far.
    uint64_t file_size() const { return file_size_; }
    uint64_t file_bytes_read() const { return file_bytes_read_.load(std::memory_order_relaxed); }

    // `progress` hears of the reading at every block; null: nobody.
    void watch(ReadProgress* progress) { progress_ = progress; }
    ReadProgress* watcher() const { return progress_; }

private:
    class Decompressor;
    struct FileDescriptor {
        int fd = -1;
        ~FileDescriptor();
    };
    struct ArchiveFree {
        void operator()(archive* a) const;
    };

    void start();
    static ssize_t read_file(archive* a, void* context, const void** buffer);
    int read_some(char* buffer, int length);
    void next_block();
    void fail(const char* reason);
    void fail_from_archive();

    FileDescriptor file_;
    uint64_t file_size_ = 0;         // bytes of a regular file, else 0
    // Bytes read from the file, by whichever thread reads it.
    std::atomic<uint64_t> file_bytes_read_{0};
    ReadProgress* progress_ = nullptr;
    std::unique_ptr<char[]> chunk_;  // the last chunk read from the file
    bool file_ended_ = false;        // read(2) has said end of file
    bool file_failed_ = false;       // read(2) has failed
    std::unique_ptr<archive, ArchiveFree> archive_;
    const char* next_ = nullptr;     // content not yet handed to the parser
    std::size_t left_ = 0;
    bool at_end_ = false;            // nothing more to hand over
    bool failed_ = false;
    std::string error_;
    // Last, so that the thread is joined before the archive and the file go.
    std::unique_ptr<Decompressor> decompressor_;
};

#endif  // L2_INPUT_H
