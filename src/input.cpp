// Input files: see input.h.
#include "input.h"

#include <archive.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kFileChunk = std::size_t{1} << 17;   // bytes per read(2)
constexpr std::size_t kBlockSize = std::size_t{1} << 18;   // bytes per handed block
constexpr std::size_t kBlocks = 3;                          // blocks in the ring

}  // namespace

// The decompression thread and the ring of blocks it fills.  Its
// destructor stops and joins the thread.
class XmlInput::Decompressor {
public:
    explicit Decompressor(archive* a) : archive_(a)
    {
        for (auto& block : blocks_)
            block.reset(new char[kBlockSize]);
        thread_ = std::thread([this] { run(); });
    }
    ~Decompressor()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        has_room_.notify_one();
        thread_.join();
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Gives back the block taken last and takes the next one; false at the
    // end of the data, with `error` set when it ended in a failure.
    bool next(const char*& data, std::size_t& size, bool& failed, std::string& error)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding_) {
            holding_ = false;
            first_ = (first_ + 1) % kBlocks;
            --filled_;
            has_room_.notify_one();
        }
        has_data_.wait(lock, [this] { return filled_ > 0 || done_; });
        if (filled_ == 0) {
            failed = failed_;
            error = error_;
            return false;
        }
        holding_ = true;
        data = blocks_[first_].get();
        size = sizes_[first_];
        return true;
    }

private:
    void run()
    {
        const char* pending = nullptr;  // decompressed bytes not yet copied
        std::size_t pending_size = 0;
        for (;;) {
            std::size_t slot;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                has_room_.wait(lock, [this] { return stop_ || filled_ < kBlocks; });
                if (stop_)
                    return;
                slot = (first_ + filled_) % kBlocks;
            }
            // The slot is this thread's until it is counted as filled.
            char* block = blocks_[slot].get();
            std::size_t size = 0;
            bool end = false;
            bool failed = false;
            const char* reason = nullptr;
            while (size < kBlockSize) {
                if (pending_size == 0) {
                    const void* data = nullptr;
                    la_int64_t offset = 0;
                    const int status =
                        archive_read_data_block(archive_, &data, &pending_size, &offset);
                    if (status == ARCHIVE_EOF) {
                        end = true;
                        break;
                    }
                    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                        end = failed = true;
                        reason = archive_error_string(archive_);
                        break;
                    }
                    pending = static_cast<const char*>(data);
                    continue;
                }
                const std::size_t take = std::min(pending_size, kBlockSize - size);
                std::memcpy(block + size, pending, take);
                size += take;
                pending += take;
                pending_size -= take;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                sizes_[slot] = size;
                ++filled_;
                if (end) {
                    done_ = true;
                    failed_ = failed;
                    // The reason is copied while the archive still holds it.
                    try {
                        error_ = reason != nullptr ? reason : "unknown error";
                    } catch (const std::bad_alloc&) {
                        error_.clear();
                    }
                }
            }
            has_data_.notify_one();
            if (end)
                return;
        }
    }

    archive* const archive_;
    std::array<std::unique_ptr<char[]>, kBlocks> blocks_;
    std::array<std::size_t, kBlocks> sizes_{};
    std::mutex mutex_;
    std::condition_variable has_data_;
    std::condition_variable has_room_;
    std::size_t first_ = 0;   // oldest filled block
    std::size_t filled_ = 0;  // filled blocks, the one held by the reader included
    bool holding_ = false;    // the reader holds block first_
    bool done_ = false;       // no block follows the filled ones
    bool failed_ = false;
    bool stop_ = false;
    std::string error_;
    std::thread thread_;  // last: started when everything else is there
};


XmlInput::FileDescriptor::~FileDescriptor()
{
    if (fd >= 0)
        ::close(fd);
}

void XmlInput::ArchiveFree::operator()(archive* a) const
{
    archive_read_free(a);
}

XmlInput::XmlInput() = default;
XmlInput::~XmlInput() = default;

bool XmlInput::open(const std::string& path)
{
    file_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (file_.fd < 0)
        return false;
    struct stat st;
    if (fstat(file_.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        file_size_ = static_cast<uint64_t>(st.st_size);
    start();
    return true;
}

// Sets up the archive and the reading path; a failure is kept for the
// first read.
void XmlInput::start()
{
    archive_.reset(archive_read_new());
    if (!archive_) {
        fail(std::strerror(ENOMEM));
        return;
    }
    archive* a = archive_.get();
    // Only the built-in decoders: a filter that would run an external
    // program (ARCHIVE_WARN) is refused.
    if (archive_read_support_filter_gzip(a) != ARCHIVE_OK ||
        archive_read_support_filter_xz(a) != ARCHIVE_OK ||
        archive_read_support_filter_bzip2(a) != ARCHIVE_OK ||
        archive_read_support_filter_zstd(a) != ARCHIVE_OK ||
        archive_read_support_format_raw(a) != ARCHIVE_OK) {
        fail_from_archive();
        return;
    }
    archive_entry* entry = nullptr;
    if (archive_read_open(a, this, nullptr, read_file, nullptr) != ARCHIVE_OK ||
        archive_read_next_header(a, &entry) != ARCHIVE_OK) {
        // The raw reader refuses no data at all: an empty file, or one
        // that decompresses to nothing, is handed on empty, so that the
        // parser says what it says of an empty document.
        if (file_ended_ && !file_failed_)
            at_end_ = true;
        else
            fail_from_archive();
        return;
    }
    if (archive_filter_count(a) > 1) {  // a compression filter over the file
        try {
            decompressor_.reset(new Decompressor(a));
        } catch (const std::bad_alloc&) {
            // Read on this thread instead.
        } catch (const std::system_error&) {
        }
    }
}

// libarchive's read callback: the next chunk of the file.
ssize_t XmlInput::read_file(archive* a, void* context, const void** buffer)
{
    XmlInput& self = *static_cast<XmlInput*>(context);
    if (!self.chunk_) {
        self.chunk_.reset(new (std::nothrow) char[kFileChunk]);
        if (!self.chunk_) {
            self.file_failed_ = true;
            archive_set_error(a, ENOMEM, "%s", std::strerror(ENOMEM));
            return -1;
        }
    }
    ssize_t got;
    do
        got = ::read(self.file_.fd, self.chunk_.get(), kFileChunk);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        const int error = errno;
        self.file_failed_ = true;
        archive_set_error(a, error, "%s", std::strerror(error));
        return -1;
    }
    if (got == 0)
        self.file_ended_ = true;
    self.file_bytes_read_.fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
    *buffer = self.chunk_.get();
    return got;
}

int XmlInput::next_piece(const char*& data)
{
    while (left_ == 0) {
        if (at_end_)
            return failed_ ? -1 : 0;
        next_block();
    }
    const std::size_t take = std::min<std::size_t>(left_, std::size_t{1} << 30);
    data = next_;
    next_ += take;
    left_ -= take;
    return static_cast<int>(take);
}

int XmlInput::read_some(char* buffer, int length)
{
    while (left_ == 0) {
        if (at_end_)
            return failed_ ? -1 : 0;
        next_block();
    }
    const std::size_t take = std::min(left_, static_cast<std::size_t>(std::max(length, 0)));
    std::memcpy(buffer, next_, take);
    next_ += take;
    left_ -= take;
    return static_cast<int>(take);
}

// The next block of content into next_ / left_, or at_end_.
void XmlInput::next_block()
{
    if (progress_ != nullptr)
        progress_->update(file_bytes_read());
    if (decompressor_) {
        bool failed = false;
        std::string reason;
        if (!decompressor_->next(next_, left_, failed, reason)) {
            at_end_ = true;
            if (failed)
                fail(reason.empty() ? "unknown error" : reason.c_str());
        }
        return;
    }
    const void* data = nullptr;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(archive_.get(), &data, &left_, &offset);
    if (status == ARCHIVE_EOF) {
        left_ = 0;
        at_end_ = true;
    } else if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
        left_ = 0;
        fail_from_archive();
    } else {
        next_ = static_cast<const char*>(data);
    }
}

void XmlInput::fail(const char* reason)
{
    at_end_ = true;
    if (failed_)
        return;
    failed_ = true;
    try {
        error_ = reason;
    } catch (const std::bad_alloc&) {
        error_.clear();
    }
}
void XmlInput::fail_from_archive()
{
    const char* reason = archive_ ? archive_error_string(archive_.get()) : nullptr;
    fail(reason != nullptr ? reason : "unknown error");
}

