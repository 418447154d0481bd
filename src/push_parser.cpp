// The product pass's second event source: see push_parser.h.
#include "push_parser.h"

#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/threads.h>
#include <libxml/xmlversion.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// A text node of the reader holds at most this many bytes: a longer one is
// the reader's failure, so the reader must say it.
constexpr std::size_t kMaxTextLength = 10000000;

// Deeper documents are the reader's: the tree it builds has a depth limit
// of its own (256 elements in libxml2 2.9) that the push parser alone does
// not apply, so the push parser gives up well before.
constexpr int kMostDepth = 200;

// Bytes handed to the parser at a time, and about how many bytes of events
// make a block.  The fuzzing build makes both small, so that every input it
// makes up is cut at many places and its texts cross blocks.
#ifdef L2_SMALL_PUSH_PIECES
constexpr int kChunk = 37;
constexpr std::size_t kBlockBytes = 97;
#else
constexpr int kChunk = 1 << 16;
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
#endif

// The white space of XML.
inline bool is_blank(xmlChar c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Whether `text` is white space alone.  The indentation between elements,
// most of the texts of a product, is a line end and spaces: spaces are
// looked at eight at a time.
inline bool all_blank(const xmlChar* text, std::size_t length)
{
    constexpr uint64_t kEightSpaces = 0x2020202020202020u;
    std::size_t i = 0;
    while (i < length) {
        uint64_t eight;
        if (i + 8 <= length && (std::memcpy(&eight, text + i, 8), eight == kEightSpaces))
            i += 8;
        else if (is_blank(text[i]))
            ++i;
        else
            return false;
    }
    return true;
}

// Asks for the cache line at `address` in a state ready to be written.
inline void prefetch_for_writing(const char* address)
{
#if defined(__x86_64__) && defined(__GNUC__)
    // prefetchw: processors that lack it take it as a no-op.
    asm volatile("prefetchw %0" : : "m"(*address));
#elif defined(__GNUC__)
    __builtin_prefetch(address, 1, 3);
#else
    (void)address;
#endif
}

struct ParserContextFree {
    void operator()(xmlParserCtxt* ctxt) const
    {
        if (ctxt->myDoc != nullptr)
            xmlFreeDoc(ctxt->myDoc);
        xmlFreeParserCtxt(ctxt);
    }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

// Events pass from the parser's thread to the conversion's in blocks of
// bytes: a kind, then its fields.  The blocks cross from one core to the
// other, which costs by the byte, so an event holds no more than it must:
// the depth of each is known on the conversion's side by counting the
// elements open, and the flags of a start share one byte.
// A text part ('P') is a text's beginning, its end following as 'P's and a
// last 'T'.
enum EventKind : char { kStart = 'S', kText = 'T', kTextPart = 'P', kEnd = 'E' };
// The flags of a start event.
enum StartFlag : char { kNameInDictionary = 1, kEmptyElement = 2, kHasAttributes = 4 };

// At most kBlocksAhead blocks wait for the conversion.
constexpr std::size_t kBlocksAhead = 4;
// Room for a full block and the events of the chunk that filled it, mostly.
constexpr std::size_t kBlockCapacity = kBlockBytes + (std::size_t{1} << 14);

// The bytes of a block, written through a cursor: the callbacks run for
// every element and text of the file, and a string's append per field was a
// quarter of the parser's thread.
class EventBytes {
public:
    EventBytes() = default;
    EventBytes(EventBytes&& other) noexcept { *this = std::move(other); }
    EventBytes& operator=(EventBytes&& other) noexcept
    {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }

    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    void resize_down(std::size_t size) { size_ = size; }

    // Room for `count` more bytes at the end, written through the cursor it
    // returns and then kept by commit().  An event reserves its whole size
    // at once: the callbacks run for every element and text of a file.
    char* room(std::size_t count)
    {
        if (capacity_ - size_ < count)
            grow(count);
        return data_.get() + size_;
    }
    void commit(std::size_t count)
    {
        size_ += count;
        if (size_ + kWriteAhead < capacity_)
            prefetch_for_writing(data_.get() + size_ + kWriteAhead);
    }
    void add(const char* bytes, std::size_t count)
    {
        std::memcpy(room(count), bytes, count);
        size_ += count;
    }
    // Room for `capacity` bytes in all, at least.
    void reserve(std::size_t capacity)
    {
        if (capacity_ < capacity)
            reallocate(capacity);
    }
    template <typename T>
    void put_at(std::size_t offset, const T& value)
    {
        std::memcpy(data_.get() + offset, &value, sizeof value);
    }

private:
    // The lines of a block were last read by the conversion's core: making
    // one ready to be written takes a round trip to that core, which the
    // parser's thread would wait for at every line.  Asked for this far
    // ahead of the cursor, they are ready when it comes (on the 300 MB
    // rotation product the parser's thread took 0.63 s instead of 0.88 s).
    static constexpr std::size_t kWriteAhead = 1024;
    // A small document's events fit in the first few kB.
    static constexpr std::size_t kFirstCapacity = std::size_t{1} << 12;

    void grow(std::size_t count)
    {
        std::size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
        while (capacity - size_ < count)
            capacity *= 2;
        reallocate(capacity);
    }
    void reallocate(std::size_t capacity)
    {
        std::unique_ptr<char[]> data(new char[capacity]);
        if (size_ != 0)
            std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

struct EventBlock {
    EventBytes bytes;
    uint64_t file_bytes_read = 0;  // of the file, when the block was full
};

// Writes `value` at `at` and moves past it.
template <typename T>
char* write(char* at, const T& value)
{
    std::memcpy(at, &value, sizeof value);
    return at + sizeof value;
}

template <typename T>
T take(const char*& at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

// The attributes of one start tag as its event holds them: for each one
// without a prefix, its name (the parser dictionary's) and its value.
class QueuedAttributes : public AttributeLookup {
public:
    QueuedAttributes(const char* first, uint32_t count) : first_(first), count_(count) {}

    void value(const char* name, AttributeResult& out) override
    {
        const char* at = first_;
        for (uint32_t i = 0; i < count_; ++i) {
            const char* attribute = take<const char*>(at);
            const uint32_t length = take<uint32_t>(at);
            const char* value = at;
            at += length + 1;
            if (std::strcmp(attribute, name) != 0)
                continue;
            // The parser leaves references in values as they stand ("&#38;"
            // for "&"); only the reader's tree spells them out.
            if (std::memchr(value, '&', length) != nullptr) {
                has_reference_ = true;
                return;
            }
            if (length > kMaxAttributeLength) {
                out.problem = AttributeProblem::kTooLong;
                return;
            }
            out.text = value;
            return;
        }
    }

    // A value that was looked up holds a reference.
    bool has_reference() const { return has_reference_; }

    // Where the event after these attributes begins.
    const char* end() const
    {
        const char* at = first_;
        for (uint32_t i = 0; i < count_; ++i) {
            at += sizeof(const char*);
            at += take<uint32_t>(at) + 1;
        }
        return at;
    }

private:
    const char* first_;
    uint32_t count_;
    bool has_reference_ = false;
};

// Names of the parser's dictionary, as the start events say.
class KnownOrigin : public NameOrigin {
public:
    bool in_dictionary(const xmlChar*) const override { return in_dictionary_; }
    bool in_dictionary_ = false;
};

// The blocks between the parser's thread and the conversion's.
class EventQueue {
public:
    // Parser's side: hands a full block over, waiting while kBlocksAhead
    // wait; false when the conversion wants no more.
    bool put_block(EventBlock&& block)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        has_room_.wait(lock, [this] { return blocks_.size() < kBlocksAhead || unwanted_; });
        if (unwanted_)
            return false;
        blocks_.push_back(std::move(block));
        has_block_.notify_one();
        return true;
    }
    void finish(PushResult result)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        result_ = result;
        has_block_.notify_one();
    }
    bool unwanted() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return unwanted_;
    }

    // Conversion's side: the next block, or false once the parser is done.
    bool take_block(EventBlock& block)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        has_block_.wait(lock, [this] { return !blocks_.empty() || finished_; });
        if (blocks_.empty())
            return false;
        block = std::move(blocks_.front());
        blocks_.pop_front();
        has_room_.notify_one();
        return true;
    }
    PushResult result() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return result_;
    }
    void stop_wanting()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unwanted_ = true;
        has_room_.notify_one();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable has_block_;
    std::condition_variable has_room_;
    std::deque<EventBlock> blocks_;
    bool finished_ = false;
    bool unwanted_ = false;
    PushResult result_ = PushResult::kFallback;
};

// What the callbacks share: the events' receiver and where the document is.
class PushState {
public:
    PushState(EventQueue& queue, XmlInput& input) : queue_(queue), input_(input) {}

    void set_context(xmlParserCtxt* ctxt) { ctxt_ = ctxt; }
    bool gave_up() const { return gave_up_; }
    void give_up() { gave_up_ = true; }

    // Hands the block gathered so far over; false when no more is wanted.
    // A text still being gathered moves on to the next block whole.
    // A text still being gathered goes on as a part when it is known not to
    // be white space alone; else it moves on to the next block whole.
    bool hand_over()
    {
        EventBlock next;
        if (text_at_ != kNoText && !white_) {
            end_text(kTextPart);
            begin_text(next.bytes);
        } else if (text_at_ != kNoText) {
            next.bytes.add(block_.bytes.data() + text_at_, block_.bytes.size() - text_at_);
            block_.bytes.resize_down(text_at_);
            text_at_ = 0;
        }
        block_.file_bytes_read = input_.file_bytes_read();
        if (!queue_.put_block(std::move(block_)))
            return false;
        block_ = std::move(next);
        // A file that filled a block is large: the next ones start full size.
        block_.bytes.reserve(kBlockCapacity);
        return true;
    }
    // Full, not counting white space still being gathered (so that it is not
    // moved from block to block).
    bool block_full() const
    {
        const bool moves = text_at_ != kNoText && white_;
        return (moves ? text_at_ : block_.bytes.size()) >= kBlockBytes;
    }

    void start(const xmlChar* name, const xmlChar* prefix, int attribute_count,
               int defaulted, const xmlChar** attributes)
    {
        if (gave_up_)
            return;
        flush_text();
        // The reader names prefixed elements "prefix:name", and defaulted
        // attributes come from a document type: both are the reader's.
        if (prefix != nullptr || defaulted != 0 || depth_ >= kMostDepth) {
            gave_up_ = true;
            return;
        }
        // The parser calls this with the rest of the start tag ahead of it:
        // "/>" makes the element empty, and its end follows at once.
        const xmlChar* rest = ctxt_->input != nullptr ? ctxt_->input->cur : nullptr;
        const bool empty = rest != nullptr && rest[0] == '/' && rest[1] == '>';
        uint32_t unprefixed = 0;
        std::size_t size = kStartHeader;
        for (int i = 0; i < attribute_count; ++i) {
            const xmlChar** a = attributes + 5 * i;
            if (a[1] != nullptr)
                continue;
            ++unprefixed;
            size += sizeof(const char*) + sizeof(uint32_t) + static_cast<std::size_t>(a[4] - a[3]) + 1;
        }
        if (unprefixed != 0)
            size += sizeof(uint32_t);
        const char flags = static_cast<char>((in_dictionary(name) ? kNameInDictionary : 0) |
                                             (empty ? kEmptyElement : 0) |
                                             (unprefixed != 0 ? kHasAttributes : 0));
        char* at = block_.bytes.room(size);
        at = write(at, kStart);
        at = write(at, name);
        at = write(at, flags);
        if (unprefixed != 0)
            at = write(at, unprefixed);
        for (int i = 0; i < attribute_count; ++i) {
            const xmlChar** a = attributes + 5 * i;
            if (a[1] != nullptr)
                continue;
            const auto length = static_cast<uint32_t>(a[4] - a[3]);
            at = write(at, reinterpret_cast<const char*>(a[0]));
            at = write(at, length);
            std::memcpy(at, a[3], length);
            at += length;
            *at++ = '\0';
        }
        block_.bytes.commit(size);
        if (empty)
            empty_end_follows_ = true;
        else
            ++depth_;
    }

    void end()
    {
        if (gave_up_)
            return;
        flush_text();
        if (empty_end_follows_) {
            empty_end_follows_ = false;
            return;
        }
        --depth_;
        *block_.bytes.room(1) = kEnd;
        block_.bytes.commit(1);
    }

    // The text goes straight into the block, behind a header whose length
    // is filled in when the text ends.
    void characters(const xmlChar* text, int length)
    {
        if (gave_up_)
            return;
        const auto count = static_cast<std::size_t>(length);
        if (text_length_ + count > kMaxTextLength) {
            gave_up_ = true;
            return;
        }
        EventBytes& out = block_.bytes;
        const bool first = text_at_ == kNoText;
        char* at = out.room(count + (first ? kTextHeader : 0));
        if (first) {
            text_at_ = out.size();
            at = write_text_header(at);
            out.commit(kTextHeader);
        }
        std::memcpy(at, text, count);
        out.commit(count);
        text_length_ += count;
        if (white_)
            white_ = all_blank(text, count);
    }

    // A node that is not text ends the text before it.
    void other_node()
    {
        if (!gave_up_)
            flush_text();
    }

private:
    static constexpr std::size_t kNoText = ~std::size_t{0};
    // Kind, length.
    static constexpr std::size_t kTextHeader = 1 + sizeof(uint32_t);
    // Kind, name, flags; then, with attributes, their count and them.
    static constexpr std::size_t kStartHeader = 1 + sizeof(const xmlChar*) + 1;
    // Slots of the names known to be the dictionary's.
    static constexpr std::size_t kKnownNames = 64;

    // Whether the parser's dictionary holds `name`.  Its strings stay where
    // they are while the parser lives, so a name once found there is
    // remembered by its address.
    bool in_dictionary(const xmlChar* name)
    {
        const xmlChar*& slot = known_names_[(reinterpret_cast<uintptr_t>(name) >> 3) % kKnownNames];
        if (slot == name)
            return true;
        if (xmlDictOwns(ctxt_->dict, name) != 1)
            return false;
        slot = name;
        return true;
    }

    // White space alone is passed over by the conversion, whichever the
    // source: it is not handed on.
    void flush_text()
    {
        if (text_at_ == kNoText)
            return;
        if (white_)
            block_.bytes.resize_down(text_at_);
        else
            end_text(kText);
        text_at_ = kNoText;
        text_length_ = 0;
        white_ = true;
    }

    // A text's header at `at`, its length filled in by end_text.
    static char* write_text_header(char* at)
    {
        at = write(at, kText);
        return write(at, uint32_t{0});
    }
    void begin_text(EventBytes& out)
    {
        text_at_ = out.size();
        write_text_header(out.room(kTextHeader));
        out.commit(kTextHeader);
    }
    void end_text(EventKind kind)
    {
        EventBytes& out = block_.bytes;
        const std::size_t length = out.size() - text_at_ - kTextHeader;
        out.put_at(text_at_, kind);
        out.put_at(text_at_ + 1, static_cast<uint32_t>(length));
        *out.room(1) = '\0';
        out.commit(1);
        text_at_ = kNoText;
    }

    EventQueue& queue_;
    XmlInput& input_;
    EventBlock block_;                // events not handed over yet
    xmlParserCtxt* ctxt_ = nullptr;
    int depth_ = 0;                   // elements open
    bool empty_end_follows_ = false;  // the end of an element written <a/> comes next
    bool gave_up_ = false;
    std::size_t text_at_ = kNoText;   // where the text being gathered begins
    std::size_t text_length_ = 0;     // its bytes so far, in every part
    bool white_ = true;               // it is white space alone so far
    const xmlChar* known_names_[kKnownNames] = {};
};

PushState& state_of(void* ctx)
{
    return *static_cast<PushState*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

// The parser may complain while its context is being made, before the state
// is attached: the error it records then is seen at the end.
void give_up(void* ctx)
{
    if (ctx != nullptr && static_cast<xmlParserCtxt*>(ctx)->_private != nullptr)
        state_of(ctx).give_up();
}

// The callbacks run inside libxml2's C code: nothing may leave them as an
// exception, so running out of memory there gives the input to the reader.
template <typename Step>
void guarded(void* ctx, Step step)
{
    try {
        step(state_of(ctx));
    } catch (const std::bad_alloc&) {
        state_of(ctx).give_up();
    }
}

void on_start(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int,
              const xmlChar**, int attribute_count, int defaulted, const xmlChar** attributes)
{
    guarded(ctx, [&](PushState& state) {
        state.start(localname, prefix, attribute_count, defaulted, attributes);
    });
}

void on_end(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    guarded(ctx, [](PushState& state) { state.end(); });
}

void on_characters(void* ctx, const xmlChar* text, int length)
{
    guarded(ctx, [&](PushState& state) { state.characters(text, length); });
}

void on_comment(void* ctx, const xmlChar*)
{
    guarded(ctx, [](PushState& state) { state.other_node(); });
}

void on_processing_instruction(void* ctx, const xmlChar*, const xmlChar*)
{
    guarded(ctx, [](PushState& state) { state.other_node(); });
}

void give_up_on_cdata(void* ctx, const xmlChar*, int)
{
    give_up(ctx);
}

void give_up_on_reference(void* ctx, const xmlChar*)
{
    give_up(ctx);
}

void give_up_on_subset(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    give_up(ctx);
}

// Any message of the parser: the reader's pass will say it.
void give_up_on_message(void* ctx, const char*, ...)
{
    give_up(ctx);
}

// The type of the error's pointer changed between libxml2 releases.
template <typename ErrorPointer>
void give_up_on_error(void* ctx, ErrorPointer)
{
    give_up(ctx);
}

xmlSAXHandler make_handler()
{
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = on_start;
    handler.endElementNs = on_end;
    handler.characters = on_characters;
    handler.ignorableWhitespace = on_characters;
    handler.comment = on_comment;
    handler.processingInstruction = on_processing_instruction;
    handler.cdataBlock = give_up_on_cdata;
    handler.reference = give_up_on_reference;
    handler.internalSubset = give_up_on_subset;
    handler.externalSubset = give_up_on_subset;
    handler.warning = give_up_on_message;
    handler.error = give_up_on_message;
    handler.fatalError = give_up_on_message;
    handler.serror = give_up_on_error;
    return handler;
}

}  // namespace

bool libxml2_thread_ready()
{
#if LIBXML_VERSION >= 21200
    return xmlCheckThreadLocalStorage() == 0;
#else
    return xmlGetGlobalState() != nullptr;
#endif
}

namespace {

// libxml2's own messages on the parser's thread (its encoders speak outside
// the parser's handlers): the input is the reader's.
void give_up_on_generic_message(void* state, const char*, ...)
{
    static_cast<PushState*>(state)->give_up();
}

// The parser's thread: feeds the file to the parser and hands the events
// over, until the end, a reason to give up, or the conversion wanting no
// more.  The parser context is the caller's, so that the names in the
// events stay valid until the conversion has taken them.
PushResult parse_into(XmlInput& input, xmlParserCtxt* ctxt, PushState& state, EventQueue& queue,
                      const char* piece, int got)
{
    if (!libxml2_thread_ready())
        return PushResult::kFallback;
    xmlSetGenericErrorFunc(&state, give_up_on_generic_message);
    for (;;) {
        if (state.gave_up())
            return PushResult::kFallback;
        if (state.block_full() && !state.hand_over())
            return PushResult::kFallback;
        if (queue.unwanted())
            return PushResult::kFallback;
        if (got == 0) {
            got = input.next_piece(piece);
            if (got < 0 || input.failed())
                return PushResult::kFallback;
            if (got == 0) {
                if (xmlParseChunk(ctxt, nullptr, 0, 1) != 0)
                    return PushResult::kFallback;
                break;
            }
        }
        const int take = got < kChunk ? got : kChunk;
        if (xmlParseChunk(ctxt, piece, take, 0) != 0)
            return PushResult::kFallback;
        piece += take;
        got -= take;
    }
    if (state.gave_up() || ctxt->wellFormed == 0 || ctxt->errNo != 0 || !state.hand_over())
        return PushResult::kFallback;
    return PushResult::kConverted;
}

// The conversion's side: hands every event of the blocks to `events`.
// False when it must give up (a value it reads holds a reference).
bool convert_events(EventQueue& queue, ProductEvents& events, ReadProgress* progress)
{
    EventBlock block;
    KnownOrigin origin;
    int depth = 0;  // elements open, as the parser's side counts them
    while (queue.take_block(block)) {
        if (progress != nullptr)
            progress->update(block.file_bytes_read);
        if (block.bytes.size() == 0)
            continue;
        const char* at = block.bytes.data();
        const char* const end = at + block.bytes.size();
        while (at < end) {
            if (events.stopped())
                return true;
            const char kind = *at++;
            if (kind == kStart) {
                const xmlChar* name = take<const xmlChar*>(at);
                const char flags = take<char>(at);
                origin.in_dictionary_ = (flags & kNameInDictionary) != 0;
                const bool empty = (flags & kEmptyElement) != 0;
                const uint32_t count = (flags & kHasAttributes) != 0 ? take<uint32_t>(at) : 0;
                QueuedAttributes attributes(at, count);
                events.element_start(name, origin, depth, empty, attributes);
                if (attributes.has_reference())
                    return false;
                at = attributes.end();
                if (!empty)
                    ++depth;
            } else if (kind == kText) {
                const uint32_t length = take<uint32_t>(at);
                events.text(reinterpret_cast<const xmlChar*>(at), depth);
                at += length + 1;
            } else if (kind == kTextPart) {
                const uint32_t length = take<uint32_t>(at);
                events.text_part(reinterpret_cast<const xmlChar*>(at), length, depth);
                at += length + 1;
            } else {
                events.element_end(--depth);
            }
        }
    }
    return true;
}

}  // namespace

// The parser runs on a thread of its own, a few blocks of events ahead of
// the conversion, so that parsing and converting (numbers read, values
// computed, lines formatted and written) overlap on two cores.
PushResult push_parse(XmlInput& input, const std::string& path, ProductEvents& events)
{
    EventQueue queue;
    PushState state(queue, input);
    xmlSAXHandler handler = make_handler();
    // The file's pieces go to the parser as they are, without a copy; the
    // first bytes go in with the context, so that it can see the encoding.
    const char* piece = nullptr;
    int got = input.next_piece(piece);
    if (got < 0)
        return PushResult::kFallback;
    const int first = got < 4 ? got : 4;
    ParserContext ctxt(xmlCreatePushParserCtxt(&handler, nullptr, piece, first, path.c_str()));
    if (!ctxt)
        return PushResult::kFallback;
    xmlCtxtUseOptions(ctxt.get(), 0);
    ctxt->_private = &state;
    state.set_context(ctxt.get());
    // Progress is told by the conversion's thread, as the blocks come.
    ReadProgress* progress = input.watcher();
    input.watch(nullptr);
    std::thread parser;
    try {
        parser = std::thread([&] {
            PushResult result = PushResult::kFallback;
            try {
                result = parse_into(input, ctxt.get(), state, queue, piece + first, got - first);
            } catch (const std::bad_alloc&) {
                // The reader's pass tells it.
            }
            queue.finish(result);
        });
    } catch (const std::system_error&) {
        input.watch(progress);
        return PushResult::kFallback;  // no second thread to be had
    }
    // Whatever way this ends, the parser's thread is told and waited for.
    struct Joiner {
        EventQueue& queue;
        std::thread& thread;
        ~Joiner()
        {
            queue.stop_wanting();
            thread.join();
        }
    };
    bool converted;
    {
        const Joiner joiner{queue, parser};
        converted = convert_events(queue, events, progress);
    }
    input.watch(progress);
    if (!converted)
        return PushResult::kFallback;
    if (events.stopped())
        return PushResult::kConverted;
    return queue.result();
}
