// The driver's own view of its input: product and header files opened and
// decompressed (XmlInput), libxml2's streaming reader as a resource, its
// nodes as the product pass reads them, attribute values and the cache of
// element codes.  Only the driver (and the tools that measure or check it)
// include this header; no other module sees libxml2 or libarchive.
#ifndef L2_DRIVER_H
#define L2_DRIVER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <archive.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <libxml/xmlreader.h>

#include "l2xml2ascii.h"
#include "tags.h"

struct ReaderDeleter {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
using XmlReader = std::unique_ptr<xmlTextReader, ReaderDeleter>;

inline const char* as_text(const xmlChar* text)
{
    return reinterpret_cast<const char*>(text);
}

// The text holds nothing but the XML white space characters (or nothing),
// which is what makes the reader call a text node white space.
inline bool is_xml_white_space(const xmlChar* text)
{
    constexpr uint64_t kWhite = 1ull << ' ' | 1ull << '\t' | 1ull << '\n' | 1ull << '\r';
    const unsigned first = text[0];
    if (first > ' ' || (kWhite >> first & 1) == 0)
        return first == 0;  // values mostly end the test here
    // Indentation: glibc's strspn takes it in whole vectors.
    const char* rest = reinterpret_cast<const char*>(text);
    return rest[std::strspn(rest, " \t\n\r")] == '\0';
}

// One node of the streaming reader as the product pass sees it.
struct ReaderNode {
    enum Kind { kElementStart, kElementEnd, kText, kOther };
    Kind kind = kOther;
    int depth = 0;                        // of the node: elements open around it
    bool empty = false;                   // an element start written <name/>
    const xmlChar* name = nullptr;        // of an element start ("prefix:name")
    const xmlChar* text = nullptr;        // of a text node (may be null)
};

// Tells the reader's nodes apart the way xmlTextReaderNodeType,
// xmlTextReaderDepth, xmlTextReaderConstName and xmlTextReaderConstValue do,
// but mostly from the node itself: those calls are a good part of the cost
// of a pass.  The reader visits an element at its start and, unless it is
// written <name/>, again at its end; only the innermost open element can end,
// so a visit to it is its end, and the depth is the count of open elements.
// The node type of text would also search xml:space up the tree for every run
// of white space, only to name two kinds of white space.
class ReaderNodes {
public:
    ReaderNode next(xmlTextReaderPtr reader)
    {
        ReaderNode result;
        const xmlNode* node = xmlTextReaderCurrentNode(reader);
        if (node == nullptr)
            return result;
        if (node->type == XML_TEXT_NODE) {
            result.kind = ReaderNode::kText;
            result.depth = static_cast<int>(open_.size());
            result.text = node->content;
        } else if (node->type == XML_ELEMENT_NODE) {
            if (!open_.empty() && open_.back() == node) {
                open_.pop_back();
                result.kind = ReaderNode::kElementEnd;
                result.depth = static_cast<int>(open_.size());
            } else {
                result.kind = ReaderNode::kElementStart;
                result.depth = static_cast<int>(open_.size());
                result.empty = xmlTextReaderIsEmptyElement(reader) != 0;
                result.name = node->ns == nullptr || node->ns->prefix == nullptr
                                  ? node->name
                                  : xmlTextReaderConstName(reader);
                if (!result.empty)
                    open_.push_back(node);
            }
        }
        return result;
    }

private:
    std::vector<const xmlNode*> open_;  // open elements, outermost first
};

// The value of the attribute `name` (a name without prefix) of the reader's
// element, as xmlTextReaderGetAttribute gives it, but never longer than
// kMaxLength bytes.  Read in place where the element holds it as one plain
// text, the usual case, or where it comes from a default in the document
// type; built from the attribute's text and entity reference nodes
// otherwise, visiting at most kMaxLength nodes, so that entities that
// multiply one another cannot make it cost more than the bound.  A longer
// value (or one of more nodes) counts as missing and is reported as a
// failure, as is running out of memory while building one.
class AttributeValue {
public:
    static constexpr std::size_t kMaxLength = 65536;

    // A null name gives a null value.
    AttributeValue(xmlTextReaderPtr reader, const char* name) : name_(name)
    {
        if (name == nullptr)
            return;
        const xmlNode* node = xmlTextReaderCurrentNode(reader);
        if (node == nullptr || node->type != XML_ELEMENT_NODE)
            return;
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
            if (a->ns != nullptr || !same_name(a->name, name))
                continue;
            // The first attribute of that name without namespace decides.
            const xmlNode* text = a->children;
            if (text != nullptr && text->next == nullptr && text->content != nullptr &&
                (text->type == XML_TEXT_NODE || text->type == XML_CDATA_SECTION_NODE)) {
                take_in_place(text->content);
                return;
            }
            build(a->children);
            return;
        }
        from_document_type(node);
    }
    AttributeValue(const AttributeValue&) = delete;
    AttributeValue& operator=(const AttributeValue&) = delete;

    // Null when the element has no such attribute (or it was refused).
    const char* text() const { return reinterpret_cast<const char*>(value_); }

private:
    // Names are short: a loop in place beats a call to strcmp.
    static bool same_name(const xmlChar* name, const char* wanted)
    {
        for (; *wanted != '\0'; ++name, ++wanted)
            if (*name != static_cast<unsigned char>(*wanted))
                return false;
        return *name == 0;
    }

    void take_in_place(const xmlChar* text)
    {
        if (std::memchr(text, 0, kMaxLength + 1) == nullptr)
            refuse_too_long();
        else
            value_ = text;
    }

    // A default or fixed value declared for the attribute in the document
    // type, looked up under the element's qualified name.
    void from_document_type(const xmlNode* node)
    {
        const xmlDoc* doc = node->doc;
        if (doc == nullptr || (doc->intSubset == nullptr && doc->extSubset == nullptr))
            return;
        std::string qualified;
        const xmlChar* element = node->name;
        if (node->ns != nullptr && node->ns->prefix != nullptr) {
            try {
                qualified = reinterpret_cast<const char*>(node->ns->prefix);
                qualified += ':';
                qualified += reinterpret_cast<const char*>(node->name);
            } catch (const std::bad_alloc&) {
                refuse_out_of_memory();
                return;
            }
            element = reinterpret_cast<const xmlChar*>(qualified.c_str());
        }
        const xmlAttribute* declared = nullptr;
        if (doc->intSubset != nullptr)
            declared = xmlGetDtdQAttrDesc(doc->intSubset, element, BAD_CAST name_, nullptr);
        if (declared == nullptr && doc->extSubset != nullptr)
            declared = xmlGetDtdQAttrDesc(doc->extSubset, element, BAD_CAST name_, nullptr);
        if (declared != nullptr && declared->defaultValue != nullptr)
            take_in_place(declared->defaultValue);
    }

    // The value of a list of attribute children: texts as they stand, entity
    // references by their entity's content (or their own text when the
    // entity is not declared), as libxml2 puts attribute values together.
    void build(const xmlNode* children)
    {
        try {
            bytes_left_ = kMaxLength;
            nodes_left_ = kMaxLength;
            if (append(children, 0)) {
                value_ = reinterpret_cast<const xmlChar*>(owned_.c_str());
                return;
            }
            owned_.clear();
            owned_.shrink_to_fit();
            refuse_too_long();
        } catch (const std::bad_alloc&) {
            owned_.clear();
            owned_.shrink_to_fit();
            refuse_out_of_memory();
        }
    }

    // False when the value would be longer than the bound or take more nodes.
    bool append(const xmlNode* node, int nesting)
    {
        constexpr int kMaxNesting = 64;
        if (nesting > kMaxNesting)
            return false;
        for (; node != nullptr; node = node->next) {
            if (nodes_left_ == 0)
                return false;
            --nodes_left_;
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                if (!append_text(node->content))
                    return false;
            } else if (node->type == XML_ENTITY_REF_NODE) {
                const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
                if (entity == nullptr) {
                    if (!append_text(node->content))
                        return false;
                } else if (!append(entity->children, nesting + 1)) {
                    return false;
                }
            }
        }
        return true;
    }

    bool append_text(const xmlChar* text)
    {
        if (text == nullptr)
            return true;
        const void* end = std::memchr(text, 0, bytes_left_ + 1);
        if (end == nullptr)
            return false;
        const std::size_t length = static_cast<std::size_t>(static_cast<const xmlChar*>(end) - text);
        owned_.append(reinterpret_cast<const char*>(text), length);
        bytes_left_ -= length;
        return true;
    }

    void refuse_too_long() const
    {
        report_failure("attribute %s longer than %zu bytes in %s, ignored\n", name_, kMaxLength,
                       run_state.product_file.c_str());
    }
    void refuse_out_of_memory() const
    {
        report_failure("out of memory reading attribute %s in %s\n", name_, run_state.product_file.c_str());
    }

    const char* name_;
    const xmlChar* value_ = nullptr;
    std::string owned_;        // a value that was built
    std::size_t bytes_left_ = 0;  // while building: bytes the value may still take
    std::size_t nodes_left_ = 0;  // and nodes that may still be visited
};

// Element names come from the reader's dictionary, where one name has one
// copy for the whole pass.  Their codes are remembered per depth by that
// copy's address, so that most element starts skip the look-up by text.
class TagCodeCache {
public:
    int32_t code(xmlTextReaderPtr reader, const xmlChar* name, int depth)
    {
        Slots& slots = depths_[static_cast<std::size_t>(depth)];
        std::size_t slot = first_slot(name);
        for (; slots[slot].name != nullptr; slot = (slot + 1) % kSlots)
            if (slots[slot].name == name)
                return slots[slot].code;
        const int32_t code = GetNodeTagfromName(as_text(name), depth);
        // Only the dictionary's own copy is remembered (a name held anywhere
        // else could be freed and its address reused), and a depth keeps a
        // quarter of its slots free so that every search ends quickly.
        if (filled_[static_cast<std::size_t>(depth)] < kSlots * 3 / 4 &&
            xmlTextReaderConstString(reader, name) == name) {
            slots[slot] = Slot{name, code};
            ++filled_[static_cast<std::size_t>(depth)];
        }
        return code;
    }

private:
    struct Slot {
        const xmlChar* name = nullptr;  // null: free
        int32_t code = 0;
    };
    static constexpr std::size_t kSlots = 64;
    using Slots = std::array<Slot, kSlots>;

    static std::size_t first_slot(const xmlChar* name)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(name);
        return static_cast<std::size_t>((uint64_t{address} * 0x9E3779B97F4A7C15u) >> 58);  // 6 bits
    }

    std::array<Slots, kTagDepths> depths_{};
    std::array<std::size_t, kTagDepths> filled_{};
};

// ---------------------------------------------------------------------------
// Input files: reading the product and header files.  The program opens them itself, as
// local files (a name is never taken for a URL), and reads them through
// libarchive's raw reader, which recognises gzip, xz, bzip2 and zstd
// compression by content and passes any other file through as it stands.
// The bytes reach libxml2's streaming reader through the read callback of
// xmlReaderForIO, so that what can be read never depends on how libxml2 was
// built.
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
// The progress of one product pass, shown on standard error: the share of
// the file read, the speed and the time left.  On a terminal the line is
// redrawn a few times a second and taken away at the end; elsewhere a line
// is printed every second and once at the end.
class ProgressMeter {
public:
    // `file_size`: bytes of the file as stored, 0 when not known.
    ProgressMeter(uint64_t file_size, bool on_terminal)
        : file_size_(file_size), on_terminal_(on_terminal), start_(Clock::now()), last_(start_)
    {
        if (on_terminal_)
            show(0, 0.0);
    }
    ~ProgressMeter() { clear_status_line(); }
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // `bytes_read` of the file have been read: shown when an update is due.
    void update(uint64_t bytes_read)
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
            clear_status_line();
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
        show_status_line(text, on_terminal_);
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

    const uint64_t file_size_;
    const bool on_terminal_;
    const Clock::time_point start_;
    Clock::time_point last_;  // when the line was last shown
};

class XmlInput {
public:
    XmlInput() = default;
    ~XmlInput() = default;  // the decompression thread ends before the archive goes
    XmlInput(const XmlInput&) = delete;
    XmlInput& operator=(const XmlInput&) = delete;

    // Opens the local file `path`.  False, with errno set, when it cannot be
    // opened; every later problem (reading, decompressing) shows in failed().
    bool open(const std::string& path)
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

    // xmlInputReadCallback: up to `length` bytes of the file's content into
    // `buffer`; 0 at its end, -1 once reading has failed.
    static int read(void* context, char* buffer, int length)
    {
        return static_cast<XmlInput*>(context)->read_some(buffer, length);
    }

    // Reading or decompressing failed; error() tells why.
    bool failed() const { return failed_; }
    const char* error() const { return error_.c_str(); }

    // Bytes of the file as stored (0: not a regular file), and read so far.
    uint64_t file_size() const { return file_size_; }
    uint64_t file_bytes_read() const { return file_bytes_read_.load(std::memory_order_relaxed); }

    // `meter` hears of the reading at every block; null: nobody.
    void watch(ProgressMeter* meter) { meter_ = meter; }

private:
    static constexpr std::size_t kFileChunk = std::size_t{1} << 17;   // bytes per read(2)
    static constexpr std::size_t kBlockSize = std::size_t{1} << 18;   // bytes per handed block
    static constexpr std::size_t kBlocks = 3;                          // blocks in the ring

    struct FileDescriptor {
        int fd = -1;
        ~FileDescriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    struct ArchiveFree {
        void operator()(archive* a) const { archive_read_free(a); }
    };

    // The decompression thread and the ring of blocks it fills.  Its
    // destructor stops and joins the thread.
    class Decompressor {
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

    // Sets up the archive and the reading path; a failure is kept for the
    // first read.
    void start()
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
    static la_ssize_t read_file(archive* a, void* context, const void** buffer)
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

    int read_some(char* buffer, int length)
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
    void next_block()
    {
        if (meter_ != nullptr)
            meter_->update(file_bytes_read());
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

    void fail(const char* reason)
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
    void fail_from_archive()
    {
        const char* reason = archive_ ? archive_error_string(archive_.get()) : nullptr;
        fail(reason != nullptr ? reason : "unknown error");
    }

    FileDescriptor file_;
    uint64_t file_size_ = 0;         // bytes of a regular file, else 0
    // Bytes read from the file, by whichever thread reads it.
    std::atomic<uint64_t> file_bytes_read_{0};
    ProgressMeter* meter_ = nullptr;
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

#endif  // L2_DRIVER_H
