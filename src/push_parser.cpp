// The product pass's second event source: see push_parser.h.
#include "push_parser.h"

#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A text node of the reader holds at most this many bytes: a longer one is
// the reader's failure, so the reader must say it.
constexpr std::size_t kMaxTextLength = 10000000;

// Deeper documents are the reader's: the tree it builds has a depth limit
// of its own (256 elements in libxml2 2.9) that the push parser alone does
// not apply, so the push parser gives up well before.
constexpr int kMostDepth = 200;

// Bytes handed to the parser at a time.
constexpr int kChunk = 1 << 16;

struct ParserContextFree {
    void operator()(xmlParserCtxt* ctxt) const
    {
        if (ctxt->myDoc != nullptr)
            xmlFreeDoc(ctxt->myDoc);
        xmlFreeParserCtxt(ctxt);
    }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

// The attributes of one start tag, as the parser hands them over: five
// pointers each (local name, prefix, URI, value, end of value).
class PushAttributes : public AttributeLookup {
public:
    PushAttributes(const xmlChar** attributes, int count) : attributes_(attributes), count_(count) {}

    void value(const char* name, AttributeResult& out) override
    {
        for (int i = 0; i < count_; ++i) {
            const xmlChar** a = attributes_ + 5 * i;
            if (a[1] != nullptr || std::strcmp(reinterpret_cast<const char*>(a[0]), name) != 0)
                continue;
            const char* begin = reinterpret_cast<const char*>(a[3]);
            const std::size_t length = static_cast<std::size_t>(a[4] - a[3]);
            // The parser leaves references in values as they stand ("&#38;"
            // for "&"); only the reader's tree spells them out.
            if (std::memchr(begin, '&', length) != nullptr) {
                has_reference_ = true;
                return;
            }
            if (length > kMaxAttributeLength) {
                out.problem = AttributeProblem::kTooLong;
                return;
            }
            out.owned.assign(begin, length);
            out.text = out.owned.c_str();
            return;
        }
    }

    // A value that was looked up holds a reference.
    bool has_reference() const { return has_reference_; }

private:
    const xmlChar** attributes_;
    int count_;
    bool has_reference_ = false;
};

// What the callbacks share: the events' receiver and where the document is.
class PushState : public NameOrigin {
public:
    explicit PushState(ProductEvents& events) : events_(events) {}

    void set_context(xmlParserCtxt* ctxt) { ctxt_ = ctxt; }
    bool gave_up() const { return gave_up_; }
    void give_up() { gave_up_ = true; }

    bool in_dictionary(const xmlChar* name) const override
    {
        return xmlDictOwns(ctxt_->dict, name) == 1;
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
        PushAttributes lookup(attributes, attribute_count);
        events_.element_start(name, *this, depth_, empty, lookup);
        if (lookup.has_reference()) {
            gave_up_ = true;
            return;
        }
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
        events_.element_end(depth_);
    }

    void characters(const xmlChar* text, int length)
    {
        if (gave_up_)
            return;
        if (text_.size() + static_cast<std::size_t>(length) > kMaxTextLength) {
            gave_up_ = true;
            return;
        }
        text_.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
        for (int i = 0; white_ && i < length; ++i)
            white_ = text[i] == ' ' || text[i] == '\n' || text[i] == '\t' || text[i] == '\r';
    }

    // A node that is not text ends the text before it.
    void other_node()
    {
        if (!gave_up_)
            flush_text();
    }

private:
    // White space alone is passed over by the conversion, whichever the
    // source: it is not handed on.
    void flush_text()
    {
        if (text_.empty())
            return;
        if (!white_)
            events_.text(reinterpret_cast<const xmlChar*>(text_.c_str()), depth_);
        text_.clear();
        white_ = true;
    }

    ProductEvents& events_;
    xmlParserCtxt* ctxt_ = nullptr;
    int depth_ = 0;                   // elements open
    bool empty_end_follows_ = false;  // the end of an element written <a/> comes next
    bool gave_up_ = false;
    std::string text_;                // the text node being gathered
    bool white_ = true;               // it is white space alone so far
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

void on_start(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int,
              const xmlChar**, int attribute_count, int defaulted, const xmlChar** attributes)
{
    state_of(ctx).start(localname, prefix, attribute_count, defaulted, attributes);
}

void on_end(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    state_of(ctx).end();
}

void on_characters(void* ctx, const xmlChar* text, int length)
{
    state_of(ctx).characters(text, length);
}

void on_comment(void* ctx, const xmlChar*)
{
    state_of(ctx).other_node();
}

void on_processing_instruction(void* ctx, const xmlChar*, const xmlChar*)
{
    state_of(ctx).other_node();
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

PushResult push_parse(XmlInput& input, const std::string& path, ProductEvents& events)
{
    PushState state(events);
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
    piece += first;
    got -= first;
    for (;;) {
        if (state.gave_up())
            return PushResult::kFallback;
        if (events.stopped())
            return PushResult::kConverted;
        if (got == 0) {
            got = input.next_piece(piece);
            if (got < 0 || input.failed())
                return PushResult::kFallback;
            if (got == 0) {
                if (xmlParseChunk(ctxt.get(), nullptr, 0, 1) != 0)
                    return PushResult::kFallback;
                break;
            }
        }
        const int take = got < kChunk ? got : kChunk;
        if (xmlParseChunk(ctxt.get(), piece, take, 0) != 0)
            return PushResult::kFallback;
        piece += take;
        got -= take;
    }
    if (state.gave_up() || ctxt->wellFormed == 0 || ctxt->errNo != 0)
        return PushResult::kFallback;
    return PushResult::kConverted;
}
