// Input files: reading the product and header files.  They are opened as
// local files (a name is never taken for a URL).  One compression layer,
// gzip, xz, bzip2 or zstd, recognised by content, is removed with the
// format's own library, every integrity check the format carries verified;
// any other file is read as it stands.  The bytes reach libxml2 through the
// read callback of xmlReaderForIO, so that what can be read never depends on
// how libxml2 was built.
//
//   XmlInput input;
//   if (!input.open(path)) ... cannot be opened (errno) ...
//   reader = xmlReaderForIO(XmlInput::read, nullptr, &input, path, nullptr, 0);
//   ... walk, free the reader ...
//   input.finish();   // the rest of a compressed file checked, unparsed
//   if (input.out_of_memory()) ... else if (input.failed()) ... input.error() ...
//
// Every read request is filled as far as the content allows.  Damage,
// truncation and read errors end the content as a plain end would, after
// every byte decoded before them: the parser gets all of it and says what it
// says of the end, and failed() tells the driver that the end was not one.
//
// A plain file is read on the caller's thread.  A compressed file is
// decompressed on a second thread that hands whole blocks over through a
// small fixed ring, so that inflating and parsing run side by side in
// constant memory; the thread touches nothing but the file, the decoder and
// the ring.
#ifndef L2_INPUT_H
#define L2_INPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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
    ~XmlInput();  // the decompression thread ends before the file goes
    XmlInput(const XmlInput&) = delete;
    XmlInput& operator=(const XmlInput&) = delete;

    // Opens the local file `path`.  False, with errno set, when it cannot be
    // opened; every later problem (reading, decompressing, memory) shows in
    // failed().
    bool open(const std::string& path);

    // xmlInputReadCallback: up to `length` bytes of the file's content into
    // `buffer`, fewer only at the content's end; 0 at its end.
    static int read(void* context, char* buffer, int length)
    {
        return static_cast<XmlInput*>(context)->read_some(buffer, length);
    }

    // The next piece of the file's content, in place: `data` stays valid
    // until the next call.  Its size, 0 at the end, -1 once reading failed.
    int next_piece(const char*& data);

    // For after the parser has stopped: the rest of a compressed file is
    // decoded, unparsed, to its end, so that damage behind the point where
    // the parser stopped shows in failed().
    void finish();

    // Reading, decompressing or an allocation failed; error() tells why.
    bool failed() const;
    const char* error() const;
    // The failure was a failed allocation.
    bool out_of_memory() const;

    // Bytes of the file as stored (0: not a regular file), and read so far.
    uint64_t file_size() const { return file_size_; }
    uint64_t file_bytes_read() const;

    // `progress` hears of the reading at every block; null: nobody.
    void watch(ReadProgress* progress) { progress_ = progress; }
    ReadProgress* watcher() const { return progress_; }

private:
    class Source;
    class Decompressor;
    struct FileDescriptor {
        int fd = -1;
        ~FileDescriptor();
    };

    int read_some(char* buffer, int length);
    bool next_block();
    void tell_progress();

    FileDescriptor file_;
    uint64_t file_size_ = 0;  // bytes of a regular file, else 0
    uint64_t told_ = 0;       // bytes read when progress_ last heard
    ReadProgress* progress_ = nullptr;
    bool open_failed_ = false;  // no source could be made: out of memory
    std::unique_ptr<Source> source_;
    std::unique_ptr<char[]> piece_;  // next_piece's buffer, where it needs one
    const char* next_ = nullptr;  // block content not yet handed to the parser
    std::size_t left_ = 0;
    bool at_end_ = false;  // the decompression thread has handed its last block
    // Last, so that the thread is joined before the source and the file go.
    std::unique_ptr<Decompressor> decompressor_;
};

#endif  // L2_INPUT_H
