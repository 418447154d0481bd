// Input files: see input.h.
#include "input.h"

#include <bzlib.h>
#include <fcntl.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kFileChunk = std::size_t{1} << 17;   // bytes per read(2)
constexpr std::size_t kBlockSize = std::size_t{1} << 18;   // bytes per handed block
constexpr std::size_t kBlocks = 3;                          // blocks in the ring
constexpr std::size_t kLongestMagic = 6;                    // xz's

// The most an xz stream may ask for its dictionary and state.
constexpr uint64_t kXzMemoryLimit = uint64_t{256} << 20;
static_assert(kXzMemoryLimit == 256u << 20, "the xz reason below names 256 MiB");

constexpr const char* kOutOfMemory = "out of memory";
constexpr const char* kTrailingData = "trailing data after the compressed stream";

// One compression format's decoder, over one member (gzip), stream (xz,
// bzip2) or frame (zstd) at a time.  A failure leaves its reason in
// reason() and, when an allocation failed, out_of_memory().
class Codec {
public:
    enum class Step { kGoing, kMemberEnd, kFailed };

    virtual ~Codec() = default;
    // Makes ready for a member; false when that failed.
    virtual bool start() = 0;
    // Decodes from `in` into `out`, moving both on past what it used.
    virtual Step step(const unsigned char*& in, std::size_t& in_left, char*& out,
                      std::size_t& out_left) = 0;
    // Whether `bytes` (magic_size() of them) begin a member.
    virtual bool begins_member(const unsigned char* bytes) const = 0;
    virtual std::size_t magic_size() const = 0;
    // Whether zero bytes in multiples of four may stand between members.
    virtual bool allows_padding() const { return false; }
    // The reason when the data ends inside a member.
    virtual const char* truncated() const = 0;

    const char* reason() const { return reason_; }
    bool out_of_memory() const { return out_of_memory_; }

protected:
    Step fail(const char* reason)
    {
        reason_ = reason;
        out_of_memory_ = reason == kOutOfMemory;
        return Step::kFailed;
    }
    bool fail_start(const char* reason)
    {
        fail(reason);
        return false;
    }

private:
    const char* reason_ = nullptr;
    bool out_of_memory_ = false;
};

// Moves `in`/`out` on by what a library consumed and produced.
template <typename InPointer, typename OutPointer>
void advance(const unsigned char*& in, std::size_t& in_left, InPointer next_in, char*& out,
             std::size_t& out_left, OutPointer next_out)
{
    const auto used = static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(next_in) - in);
    const auto made = static_cast<std::size_t>(reinterpret_cast<char*>(next_out) - out);
    in += used;
    in_left -= used;
    out += made;
    out_left -= made;
}

// The part of `n` that a library's counter of type Count takes.
template <typename Count>
Count at_most(std::size_t n)
{
    return static_cast<Count>(std::min<std::size_t>(n, std::numeric_limits<Count>::max()));
}

// One call of a library whose stream has next_in / avail_in / next_out /
// avail_out (zlib, liblzma, libbz2) over `in` and `out`, moving both on;
// the call's status.
template <typename Stream, typename Call>
auto decode_call(Stream& stream, const unsigned char*& in, std::size_t& in_left, char*& out,
                 std::size_t& out_left, Call call)
{
    stream.next_in = reinterpret_cast<decltype(stream.next_in)>(const_cast<unsigned char*>(in));
    stream.avail_in = at_most<decltype(stream.avail_in)>(in_left);
    stream.next_out = reinterpret_cast<decltype(stream.next_out)>(out);
    stream.avail_out = at_most<decltype(stream.avail_out)>(out_left);
    const auto status = call(&stream);
    advance(in, in_left, stream.next_in, out, out_left, stream.next_out);
    return status;
}

bool starts_with(const unsigned char* bytes, const char* magic, std::size_t size)
{
    return std::memcmp(bytes, magic, size) == 0;
}

class GzipCodec : public Codec {
public:
    ~GzipCodec() override
    {
        if (started_)
            inflateEnd(&z_);
    }
    bool start() override
    {
        if (started_)
            return inflateReset(&z_) == Z_OK || fail_start("gzip data corrupt");
        const int status = inflateInit2(&z_, 16 + MAX_WBITS);  // gzip wrapper only
        if (status != Z_OK)
            return fail_start(status == Z_MEM_ERROR ? kOutOfMemory : "cannot start gzip decoding");
        started_ = true;
        return true;
    }
    Step step(const unsigned char*& in, std::size_t& in_left, char*& out,
              std::size_t& out_left) override
    {
        const int status =
            decode_call(z_, in, in_left, out, out_left, [](z_stream* z) { return inflate(z, Z_NO_FLUSH); });
        switch (status) {
        case Z_OK:
        case Z_BUF_ERROR:  // no progress: the caller sees why
            return Step::kGoing;
        case Z_STREAM_END:
            return Step::kMemberEnd;
        case Z_MEM_ERROR:
            return fail(kOutOfMemory);
        case Z_DATA_ERROR:
            if (z_.msg != nullptr && std::strcmp(z_.msg, "incorrect data check") == 0)
                return fail("gzip CRC mismatch");
            if (z_.msg != nullptr && std::strcmp(z_.msg, "incorrect length check") == 0)
                return fail("gzip length mismatch");
            return fail("gzip data corrupt");
        default:
            return fail("gzip data corrupt");
        }
    }
    bool begins_member(const unsigned char* bytes) const override
    {
        return starts_with(bytes, "\x1f\x8b", 2);
    }
    std::size_t magic_size() const override { return 2; }
    const char* truncated() const override { return "truncated gzip data"; }

private:
    z_stream z_{};
    bool started_ = false;
};

class XzCodec : public Codec {
public:
    ~XzCodec() override { lzma_end(&s_); }
    bool start() override
    {
        // Without LZMA_CONCATENATED: each stream ends on its own, so that
        // what follows it is judged here.  The stream's check is verified.
        switch (lzma_stream_decoder(&s_, kXzMemoryLimit, 0)) {
        case LZMA_OK:
            return true;
        case LZMA_MEM_ERROR:
            return fail_start(kOutOfMemory);
        default:
            return fail_start("cannot start xz decoding");
        }
    }
    Step step(const unsigned char*& in, std::size_t& in_left, char*& out,
              std::size_t& out_left) override
    {
        const lzma_ret status =
            decode_call(s_, in, in_left, out, out_left, [](lzma_stream* s) { return lzma_code(s, LZMA_RUN); });
        switch (status) {
        case LZMA_OK:
        case LZMA_BUF_ERROR:  // no progress: the caller sees why
            return Step::kGoing;
        case LZMA_STREAM_END:
            return Step::kMemberEnd;
        case LZMA_MEM_ERROR:
            return fail(kOutOfMemory);
        case LZMA_MEMLIMIT_ERROR:
            return fail("xz data needs more than 256 MiB of memory to decode");
        case LZMA_OPTIONS_ERROR:
            return fail("xz data uses options this decoder does not know");
        default:  // LZMA_DATA_ERROR, LZMA_FORMAT_ERROR: damage or a wrong check
            return fail("xz data corrupt");
        }
    }
    bool begins_member(const unsigned char* bytes) const override
    {
        return starts_with(bytes, "\xfd" "7zXZ\0", 6);
    }
    std::size_t magic_size() const override { return 6; }
    bool allows_padding() const override { return true; }
    const char* truncated() const override { return "truncated xz data"; }

private:
    lzma_stream s_ = LZMA_STREAM_INIT;
};

class Bzip2Codec : public Codec {
public:
    ~Bzip2Codec() override { stop(); }
    bool start() override
    {
        stop();
        switch (BZ2_bzDecompressInit(&b_, 0, 0)) {
        case BZ_OK:
            started_ = true;
            return true;
        case BZ_MEM_ERROR:
            return fail_start(kOutOfMemory);
        default:
            return fail_start("cannot start bzip2 decoding");
        }
    }
    Step step(const unsigned char*& in, std::size_t& in_left, char*& out,
              std::size_t& out_left) override
    {
        const int status = decode_call(b_, in, in_left, out, out_left, BZ2_bzDecompress);
        switch (status) {
        case BZ_OK:
            return Step::kGoing;
        case BZ_STREAM_END:
            return Step::kMemberEnd;
        case BZ_MEM_ERROR:
            return fail(kOutOfMemory);
        default:  // BZ_DATA_ERROR (damage or a wrong CRC), BZ_DATA_ERROR_MAGIC
            return fail("bzip2 data corrupt");
        }
    }
    bool begins_member(const unsigned char* bytes) const override
    {
        return starts_with(bytes, "BZh", 3) && bytes[3] >= '1' && bytes[3] <= '9';
    }
    std::size_t magic_size() const override { return 4; }
    const char* truncated() const override { return "truncated bzip2 data"; }

private:
    void stop()
    {
        if (started_)
            BZ2_bzDecompressEnd(&b_);
        started_ = false;
    }

    bz_stream b_{};
    bool started_ = false;
};

class ZstdCodec : public Codec {
public:
    ~ZstdCodec() override { ZSTD_freeDStream(d_); }
    bool start() override
    {
        if (d_ == nullptr)
            d_ = ZSTD_createDStream();
        if (d_ == nullptr)
            return fail_start(kOutOfMemory);
        // The content checksum, when a frame carries one, is verified (the
        // library's default, asked for here all the same).
        restart();
        if (ZSTD_isError(ZSTD_DCtx_reset(d_, ZSTD_reset_session_only)) ||
            ZSTD_isError(ZSTD_DCtx_setParameter(d_, ZSTD_d_windowLogMax, kWindowLogMax)))
            return fail_start("cannot start zstd decoding");
        return true;
    }
    Step step(const unsigned char*& in, std::size_t& in_left, char*& out,
              std::size_t& out_left) override
    {
        // A call that meets an error drops what it has written: each call
        // is given the input of one step of the frame (the library's hint:
        // a block, the checksum), and none after one that filled the
        // output, so that the content of a block is handed over in a call
        // of its own before the next block or the checksum is looked at.
        std::size_t status = 0;
        for (int call = 0; call < 2; ++call) {
            const std::size_t give = output_full_ ? 0 : std::min(in_left, hint_);
            ZSTD_inBuffer source{in, give, 0};
            ZSTD_outBuffer target{out, out_left, 0};
            status = ZSTD_decompressStream(d_, &target, &source);
            if (ZSTD_isError(status))
                break;
            const bool was_flushing = output_full_;
            advance(in, in_left, in + source.pos, out, out_left, out + target.pos);
            output_full_ = target.size > 0 && target.pos == target.size;
            hint_ = status;
            if (status == 0) {
                restart();
                return Step::kMemberEnd;
            }
            if (!was_flushing || target.pos > 0)
                return Step::kGoing;
            // Nothing was left to flush: now the input.
        }
        if (!ZSTD_isError(status))
            return Step::kGoing;
        switch (ZSTD_getErrorCode(status)) {
        case ZSTD_error_checksum_wrong:
            return fail("zstd checksum mismatch");
        case ZSTD_error_memory_allocation:
            return fail(kOutOfMemory);
        case ZSTD_error_frameParameter_windowTooLarge:
            return fail("zstd data needs more than 128 MiB of memory to decode");
        default:
            return fail("zstd data corrupt");
        }
    }
    bool begins_member(const unsigned char* bytes) const override
    {
        // A frame, or a skippable frame (magic 0x184D2A50 to 0x184D2A5F).
        return starts_with(bytes, "\x28\xb5\x2f\xfd", 4) ||
               ((bytes[0] & 0xf0) == 0x50 && starts_with(bytes + 1, "\x2a\x4d\x18", 3));
    }
    std::size_t magic_size() const override { return 4; }
    const char* truncated() const override { return "truncated zstd data"; }

private:
    void restart()
    {
        hint_ = kFirstInput;
        output_full_ = false;
    }

    static constexpr int kWindowLogMax = 27;  // 128 MiB, the library's default
    static_assert(kWindowLogMax == 27, "the zstd reason above names 128 MiB");
    static constexpr std::size_t kFirstInput = 5;  // the start of a frame header
    ZSTD_DStream* d_ = nullptr;
    std::size_t hint_ = kFirstInput;  // input the next step of the frame takes
    bool output_full_ = false;        // the last call filled the output
};

// The decoder for the format whose magic begins `bytes` (`size` of them),
// or null for a plain file.  `out_of_memory` when one could not be made.
std::unique_ptr<Codec> codec_for(const unsigned char* bytes, std::size_t size, bool& out_of_memory)
{
    out_of_memory = false;
    std::unique_ptr<Codec> candidates[4];
    candidates[0].reset(new (std::nothrow) GzipCodec);
    candidates[1].reset(new (std::nothrow) XzCodec);
    candidates[2].reset(new (std::nothrow) Bzip2Codec);
    candidates[3].reset(new (std::nothrow) ZstdCodec);
    for (auto& codec : candidates) {
        if (!codec) {
            out_of_memory = true;
            return nullptr;
        }
        if (size >= codec->magic_size() && codec->begins_member(bytes))
            return std::move(codec);
    }
    return nullptr;
}

}  // namespace

// The content of one file: its bytes as they stand, or decoded from its one
// compression layer.  Used by one thread at a time.
class XmlInput::Source {
public:
    explicit Source(int fd) : fd_(fd), chunk_(new (std::nothrow) unsigned char[kFileChunk]) {}
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Looks at the file's first bytes and makes the decoder its format
    // needs; false when it is plain (or the source failed).
    bool recognise()
    {
        if (!chunk_)
            return fail(kOutOfMemory, true);
        ensure(kLongestMagic);
        if (state_ != State::kGoing)
            return false;
        bool out_of_memory = false;
        codec_ = codec_for(in_, in_left_, out_of_memory);
        if (out_of_memory)
            return fail(kOutOfMemory, true);
        if (!codec_)
            return false;
        in_member_ = true;
        if (!codec_->start())
            return fail(codec_->reason(), codec_->out_of_memory());
        return true;
    }

    // Fills `out` with up to `size` bytes of content, fewer only where the
    // content ends (ended() or failed()); the number of bytes filled.
    std::size_t fill(char* out, std::size_t size)
    {
        char* next = out;
        std::size_t room = size;
        while (room > 0 && state_ == State::kGoing) {
            if (in_left_ == 0 && !file_ended_) {
                read_file();
                continue;
            }
            if (!codec_)
                copy(next, room);
            else if (in_member_)
                decode(next, room);
            else
                next_member();
        }
        return size - room;
    }

    bool ended() const { return state_ != State::kGoing; }
    bool failed() const { return state_ == State::kFailed; }
    bool out_of_memory() const { return out_of_memory_; }
    bool compressed() const { return codec_ != nullptr; }
    const char* reason() const { return read_errno_ != 0 ? std::strerror(read_errno_) : reason_; }
    uint64_t bytes_read() const { return bytes_read_.load(std::memory_order_relaxed); }

private:
    enum class State { kGoing, kEnded, kFailed };

    bool fail(const char* reason, bool out_of_memory = false)
    {
        if (state_ != State::kFailed) {
            state_ = State::kFailed;
            reason_ = reason;
            out_of_memory_ = out_of_memory;
        }
        return false;
    }

    // Reads the next chunk of the file behind what is left of the last.
    void read_file()
    {
        if (in_left_ > 0 && in_ != chunk_.get())
            std::memmove(chunk_.get(), in_, in_left_);
        in_ = chunk_.get();
        ssize_t got;
        do
            got = ::read(fd_, chunk_.get() + in_left_, kFileChunk - in_left_);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            read_errno_ = errno;
            fail(nullptr);
            return;
        }
        if (got == 0)
            file_ended_ = true;
        in_left_ += static_cast<std::size_t>(got);
        bytes_read_.fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
    }

    // Reads until `n` bytes are at hand or the file has ended; whether they are.
    bool ensure(std::size_t n)
    {
        while (in_left_ < n && !file_ended_ && state_ == State::kGoing)
            read_file();
        return in_left_ >= n;
    }

    void copy(char*& next, std::size_t& room)
    {
        if (in_left_ == 0) {  // and the file has ended
            state_ = State::kEnded;
            return;
        }
        const std::size_t take = std::min(in_left_, room);
        std::memcpy(next, in_, take);
        in_ += take;
        in_left_ -= take;
        next += take;
        room -= take;
    }

    void decode(char*& next, std::size_t& room)
    {
        const std::size_t in_before = in_left_;
        const std::size_t room_before = room;
        switch (codec_->step(in_, in_left_, next, room)) {
        case Codec::Step::kFailed:
            fail(codec_->reason(), codec_->out_of_memory());
            return;
        case Codec::Step::kMemberEnd:
            in_member_ = false;
            padding_ = 0;
            return;
        case Codec::Step::kGoing:
            break;
        }
        if (in_left_ != in_before || room != room_before)
            return;
        // No progress with room to write: the decoder waits for input.
        if (in_left_ > 0)
            fail("compressed data the decoder does not take");
        else if (file_ended_)
            fail(codec_->truncated());
    }

    // Between members: the end, another member, xz's zero padding, or
    // trailing data.
    void next_member()
    {
        if (codec_->allows_padding()) {
            while (in_left_ > 0 && *in_ == 0) {
                ++in_;
                --in_left_;
                ++padding_;
            }
            if (in_left_ == 0 && !file_ended_)
                return;  // more padding, or not, in the next chunk
        }
        if (in_left_ == 0) {  // and the file has ended
            if (padding_ % 4 != 0)
                fail("xz stream padding not a multiple of four bytes");
            else
                state_ = State::kEnded;
            return;
        }
        if (!ensure(codec_->magic_size())) {
            if (state_ == State::kGoing)
                fail(kTrailingData);
            return;
        }
        if (!codec_->begins_member(in_)) {
            fail(kTrailingData);
            return;
        }
        if (padding_ % 4 != 0) {
            fail("xz stream padding not a multiple of four bytes");
            return;
        }
        if (!codec_->start()) {
            fail(codec_->reason(), codec_->out_of_memory());
            return;
        }
        in_member_ = true;
    }

    const int fd_;
    std::unique_ptr<unsigned char[]> chunk_;
    const unsigned char* in_ = nullptr;  // read but not yet used
    std::size_t in_left_ = 0;
    bool file_ended_ = false;
    std::atomic<uint64_t> bytes_read_{0};
    std::unique_ptr<Codec> codec_;  // null: a plain file
    bool in_member_ = false;
    uint64_t padding_ = 0;  // zero bytes since the last member
    State state_ = State::kGoing;
    const char* reason_ = nullptr;
    int read_errno_ = 0;
    bool out_of_memory_ = false;
};

// The decompression thread and the ring of blocks it fills.  Its
// destructor stops and joins the thread.
class XmlInput::Decompressor {
public:
    explicit Decompressor(Source& source) : source_(source)
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
    // end of the content, after which the thread no longer touches the
    // source.
    bool next(const char*& data, std::size_t& size)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding_) {
            holding_ = false;
            first_ = (first_ + 1) % kBlocks;
            --filled_;
            has_room_.notify_one();
        }
        has_data_.wait(lock, [this] { return filled_ > 0 || done_; });
        if (filled_ == 0)
            return false;
        holding_ = true;
        data = blocks_[first_].get();
        size = sizes_[first_];
        return true;
    }

private:
    void run()
    {
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
            const std::size_t size = source_.fill(blocks_[slot].get(), kBlockSize);
            const bool end = source_.ended();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                sizes_[slot] = size;
                if (size > 0)
                    ++filled_;
                done_ = end;
            }
            has_data_.notify_one();
            if (end)
                return;
        }
    }

    Source& source_;
    std::array<std::unique_ptr<char[]>, kBlocks> blocks_;
    std::array<std::size_t, kBlocks> sizes_{};
    std::mutex mutex_;
    std::condition_variable has_data_;
    std::condition_variable has_room_;
    std::size_t first_ = 0;   // oldest filled block
    std::size_t filled_ = 0;  // filled blocks, the one held by the reader included
    bool holding_ = false;    // the reader holds block first_
    bool done_ = false;       // no block follows the filled ones
    bool stop_ = false;
    std::thread thread_;  // last: started when everything else is there
};


XmlInput::FileDescriptor::~FileDescriptor()
{
    if (fd >= 0)
        ::close(fd);
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
    source_.reset(new (std::nothrow) Source(file_.fd));
    if (!source_) {
        open_failed_ = true;
        return true;
    }
    if (source_->recognise()) {
        try {
            decompressor_.reset(new Decompressor(*source_));
        } catch (const std::bad_alloc&) {
            // Decompress on this thread instead.
        } catch (const std::system_error&) {
        }
    }
    return true;
}

int XmlInput::next_piece(const char*& data)
{
    if (!source_)
        return 0;
    if (!decompressor_) {
        if (!piece_)
            piece_.reset(new (std::nothrow) char[kBlockSize]);
        if (!piece_)
            return -1;
        const std::size_t got = source_->fill(piece_.get(), kBlockSize);
        tell_progress();
        data = piece_.get();
        return static_cast<int>(got);
    }
    if (left_ == 0 && !next_block())
        return 0;
    data = next_;
    const std::size_t take = left_;
    next_ += take;
    left_ = 0;
    return static_cast<int>(take);
}

int XmlInput::read_some(char* buffer, int length)
{
    if (!source_ || length <= 0)
        return 0;
    const auto want = static_cast<std::size_t>(length);
    std::size_t got = 0;
    if (!decompressor_) {
        got = source_->fill(buffer, want);
        tell_progress();
        return static_cast<int>(got);
    }
    while (got < want) {
        if (left_ == 0 && !next_block())
            break;
        const std::size_t take = std::min(left_, want - got);
        std::memcpy(buffer + got, next_, take);
        next_ += take;
        left_ -= take;
        got += take;
    }
    return static_cast<int>(got);
}

// The next block from the decompression thread into next_ / left_; false
// at the end of the content.
bool XmlInput::next_block()
{
    tell_progress();
    if (at_end_ || !decompressor_->next(next_, left_)) {
        at_end_ = true;
        left_ = 0;
        return false;
    }
    return true;
}

void XmlInput::tell_progress()
{
    if (progress_ == nullptr)
        return;
    const uint64_t now = file_bytes_read();
    if (now != told_) {
        told_ = now;
        progress_->update(now);
    }
}

void XmlInput::finish()
{
    if (!source_ || !source_->compressed())
        return;
    left_ = 0;
    if (decompressor_) {
        while (next_block()) {
        }
        return;
    }
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[kBlockSize]);
    if (!scratch)
        return;
    while (!source_->ended())
        source_->fill(scratch.get(), kBlockSize);
}

// What follows reads the source only once the decompression thread has
// handed its last block, or when there is none.
bool XmlInput::failed() const
{
    return open_failed_ || (source_ && (!decompressor_ || at_end_) && source_->failed());
}

bool XmlInput::out_of_memory() const
{
    return open_failed_ || (failed() && source_->out_of_memory());
}

const char* XmlInput::error() const
{
    if (open_failed_)
        return kOutOfMemory;
    return failed() ? source_->reason() : "";
}

uint64_t XmlInput::file_bytes_read() const
{
    return source_ ? source_->bytes_read() : 0;
}
