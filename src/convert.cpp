// The conversion of one input: the header epoch pass, the product pass over
// libxml2's streaming reader, and the routing of attributes and text into
// the product records.  Everything one conversion reads and changes lives in
// its Conversion, made by convert_input() and handed down; the outputs go to
// a Sink and every line to a Reporter.
#include "l2xml2ascii.h"
#include "events.h"
#include "input.h"
#include "push_parser.h"
#include "reader.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// Node types of the streaming reader that the header pass acts on.
constexpr int kElementStart = XML_READER_TYPE_ELEMENT;
constexpr int kText = XML_READER_TYPE_TEXT;
constexpr int kCdata = XML_READER_TYPE_CDATA;
constexpr int kSignificantWhitespace = XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
constexpr int kElementEnd = XML_READER_TYPE_END_ELEMENT;

// Attributes read from one element at most (see AttributeRoute).
constexpr std::size_t kAttributesPerElement = sizeof AttributeRoute::names / sizeof(const char*);
static_assert(kAttributesPerElement == 2, "route_attributes reads two");

// Bit n set: a closed path n entries long is among those `path_of` gives.
template <typename PathOf>
uint32_t closed_path_lengths(PathOf path_of)
{
    uint32_t lengths = 0;
    for (const ProductDescription* p : kProductDescriptions)
        path_of(*p, lengths);
    return lengths;
}

// Whether any closed path of the given lengths could show while
// `open_elements` elements are open (see Conversion::shows()).
bool could_show_closed(uint32_t lengths, int open_elements)
{
    return open_elements >= 0 && open_elements < 31 && (lengths >> (open_elements + 1) & 1) != 0;
}

// libxml2's messages, while a conversion runs on this thread, go to its
// reporter; the handler in place before is put back afterwards.
//
// libxml2 hands its generic handler the parser's context instead of the one
// set with it on some paths (errors raised while a parser is being made), so
// the handler finds the reporter through the thread, not through its
// argument.
class Libxml2MessagesToReporter {
public:
    explicit Libxml2MessagesToReporter(Reporter& reporter)
        : saved_handler_(xmlGenericError), saved_context_(xmlGenericErrorContext),
          saved_reporter_(current_reporter_)
    {
        current_reporter_ = &reporter;
        xmlSetGenericErrorFunc(&reporter, forward);
    }
    ~Libxml2MessagesToReporter()
    {
        xmlSetGenericErrorFunc(saved_context_, saved_handler_);
        current_reporter_ = saved_reporter_;
    }
    Libxml2MessagesToReporter(const Libxml2MessagesToReporter&) = delete;
    Libxml2MessagesToReporter& operator=(const Libxml2MessagesToReporter&) = delete;

private:
    // Called from libxml2's C code: nothing may leave it as an exception.
    static void forward(void*, const char* format, ...)
    {
        if (current_reporter_ == nullptr)
            return;
        try {
            va_list args;
            va_start(args, format);
            forward_formatted(*current_reporter_, format, args);
            va_end(args);
        } catch (const std::bad_alloc&) {
            // The message is lost; the parse goes on failing and says so.
        }
    }

    static void forward_formatted(Reporter& reporter, const char* format, va_list args)
    {
        va_list again;
        va_copy(again, args);
        char small[256];
        const int length = std::vsnprintf(small, sizeof small, format, args);
        std::string text;
        if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
            text.assign(small, static_cast<std::size_t>(length));
        } else if (length > 0) {
            text.resize(static_cast<std::size_t>(length));
            std::vsnprintf(&text[0], text.size() + 1, format, again);
        }
        va_end(again);
        reporter.report(MessageKind::kParserMessage, text);
    }

    // The reporter of the conversion running on this thread.
    static thread_local Reporter* current_reporter_;

    xmlGenericErrorFunc saved_handler_;
    void* saved_context_;
    Reporter* saved_reporter_;
};

thread_local Reporter* Libxml2MessagesToReporter::current_reporter_ = nullptr;

// One conversion's state, from the start of its input to its end.
class Conversion : public RecordOutput, private ProductEvents {
public:
    Conversion(const ConversionOptions& options, Sink& sink, Reporter& reporter)
        : options_(options), sink_(sink), reporter_(reporter), records_(make_product_records()),
          values_(most_columns()), documents_started_(options.documents_before),
          section_path_lengths_(closed_path_lengths(
              [](const ProductDescription& p, uint32_t& bits) { bits |= uint32_t{1} << p.section.length; })),
          attribute_path_lengths_(closed_path_lengths([](const ProductDescription& p, uint32_t& bits) {
              for (std::size_t i = 0; i < p.attribute_count; ++i)
                  bits |= uint32_t{1} << p.attributes[i].element.length;
          }))
    {
    }

    // Which source drives the product pass.
    enum class Source { kReader, kPushParser };

    // With the push parser, `fast_result` says whether the pass could be
    // made that way (else it must be made again by the reader).
    ConversionOutcome run(Source source = Source::kReader, PushResult* fast_result = nullptr)
    {
        const Libxml2MessagesToReporter messages(reporter_);
        try {
            if (!options_.header_file.empty())
                header_pass();
            if (!stopped()) {
                if (source == Source::kReader)
                    product_pass();
                else
                    *fast_result = push_product_pass();
            }
        } catch (const std::bad_alloc&) {
            // Whatever was being built is dropped; what was written stays.
            fail(MessageKind::kOutOfMemory,
                 format_line("TAIHEN: out of memory converting %s\n", options_.product_file.c_str()));
        }
        ConversionOutcome outcome;
        outcome.failures = failures_;
        outcome.documents = documents_started_;
        outcome.stopped = stopped();
        return outcome;
    }

    // RecordOutput: what the product records' operations may do.
    void report(MessageKind kind, const std::string& line) override
    {
        if (is_failure(kind))
            ++failures_;
        reporter_.report(kind, line);
    }
    bool takes_documents() override
    {
        return open_product_ != nullptr && sink_.takes_documents(*open_product_);
    }
    void document_bytes(const char* data, std::size_t size) override
    {
        if (open_product_ != nullptr && size > 0)
            sink_.document_bytes(*open_product_, data, size);
    }

private:
    void fail(MessageKind kind, const std::string& line) { report(kind, line); }

    bool stopped() const override
    {
        return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed);
    }

    // The tag path shows `path` while `open_elements` elements are open.  The
    // open elements hold non-zero entries from depth 0 (codes are never 0)
    // and every entry below them is 0, so a closed path can only show while
    // exactly the elements of its non-zero entries are open: most nodes are
    // settled by that count alone.
    bool shows(const CodePath& path, int open_elements) const
    {
        const bool possible =
            !path.closed || path.length == static_cast<std::size_t>(open_elements) + 1;
        assert(possible || !tag_path_shows(TAG_flags, path));
        return possible && tag_path_shows(TAG_flags, path);
    }

    // The open product's description and bit change together.
    void set_open_product(const ProductDescription* p)
    {
        open_product_ = p;
        product = p != nullptr ? p->bit : kNoProduct;
    }

    // Whether each record of `p` goes into an output of its own.
    bool output_per_record(const ProductDescription& p) const
    {
        return p.is_documents() && options_.split_documents;
    }

    // -----------------------------------------------------------------------
    // Routing

    // Attributes of the element just started that reach the open product's
    // record.
    void route_attributes(AttributeLookup& attributes, int open_elements)
    {
        const ProductDescription* p = open_product_;
        if (p == nullptr || p->attribute_count == 0 ||
            !could_show_closed(attribute_path_lengths_, open_elements))
            return;
        for (std::size_t i = 0; i < p->attribute_count; ++i) {
            const AttributeRoute& route = p->attributes[i];
            if (!shows(route.element, open_elements))
                continue;
            AttributeResult values[kAttributesPerElement];
            const char* texts[kAttributesPerElement] = {};
            for (std::size_t a = 0; a < kAttributesPerElement; ++a) {
                if (route.names[a] == nullptr)
                    continue;
                attributes.value(route.names[a], values[a]);
                report_refused(values[a].problem, route.names[a]);
                texts[a] = values[a].text;
            }
            route.put(*records_, TAG_flags, texts);
        }
    }

    void report_refused(AttributeProblem problem, const char* name)
    {
        switch (problem) {
        case AttributeProblem::kNone:
            break;
        case AttributeProblem::kTooLong:
            fail(MessageKind::kAttributeTooLong,
                 format_line("TAIHEN: attribute %s longer than %zu bytes in %s, ignored\n", name,
                             kMaxAttributeLength, options_.product_file.c_str()));
            break;
        case AttributeProblem::kOutOfMemory:
            fail(MessageKind::kOutOfMemory,
                 format_line("TAIHEN: out of memory reading attribute %s in %s\n", name,
                             options_.product_file.c_str()));
            break;
        }
    }

    // Text is routed when it sits inside a record of the open product, deep
    // enough for the setter to use it, and is not white space only, which is
    // what the reader calls white space.
    void text(const xmlChar* text, int open_elements) override
    {
        if (text_in_parts_ != TextInParts::kNone) {
            end_text_in_parts(text);
            return;
        }
        const ProductDescription* p = open_product_;
        if (routes_text(p, open_elements) && !is_xml_white_space(text))
            p->put_text(*records_, TAG_flags, as_text(text), *this);
    }

    // A long text's parts go on as they come where the product takes them so
    // (documents), and are joined into the text where it does not.
    void text_part(const xmlChar* part, std::size_t length, int open_elements) override
    {
        const ProductDescription* p = open_product_;
        if (text_in_parts_ == TextInParts::kNone) {
            text_in_parts_ = !routes_text(p, open_elements) ? TextInParts::kPassedOver
                             : p->put_text_part != nullptr  ? TextInParts::kPassedOn
                                                            : TextInParts::kJoined;
        }
        if (text_in_parts_ == TextInParts::kPassedOn)
            p->put_text_part(*records_, TAG_flags, as_text(part), length, false, *this);
        else if (text_in_parts_ == TextInParts::kJoined)
            joined_text_.append(as_text(part), length);
    }

    void end_text_in_parts(const xmlChar* last)
    {
        const ProductDescription* p = open_product_;
        const TextInParts way = text_in_parts_;
        text_in_parts_ = TextInParts::kNone;
        if (way == TextInParts::kPassedOn) {
            p->put_text_part(*records_, TAG_flags, as_text(last), std::strlen(as_text(last)), true,
                             *this);
        } else if (way == TextInParts::kJoined) {
            joined_text_ += as_text(last);
            if (!is_xml_white_space(reinterpret_cast<const xmlChar*>(joined_text_.c_str())))
                p->put_text(*records_, TAG_flags, joined_text_.c_str(), *this);
            std::string().swap(joined_text_);
        }
    }

    // Text is for the open product when it sits inside one of its records,
    // deep enough for the setter to use it.
    bool routes_text(const ProductDescription* p, int open_elements) const
    {
        return p != nullptr && open_elements >= p->fewest_open_for_text &&
               tag_path_shows(TAG_flags, p->record);
    }

    // -----------------------------------------------------------------------
    // Product pass

    void start_section(const ProductDescription& p)
    {
        set_open_product(&p);
        ++sections_started_;
        // Each document record opens its own output when they are split.
        sink_.begin_section(p, output_per_record(p) ? std::string() : options_.names.file_for(p));
    }

    void element_start(const xmlChar* name, const NameOrigin& origin, int depth, bool empty,
                       AttributeLookup& attributes) override
    {
        // An empty element leaves the tag path alone and starts no section.
        if (!empty) {
            if (depth >= 0 && depth < kTagDepths)
                TAG_flags[depth] = codes_.code(name, depth, [&origin](const xmlChar* n) {
                    return origin.in_dictionary(n);
                });
            else
                report(MessageKind::kWarning, "MESSAGE: something went wrong -- level > 9 reached!\n");

            if (could_show_closed(section_path_lengths_, depth + 1)) {
                for (const ProductDescription* p : kProductDescriptions) {
                    if (shows(p->section, depth + 1)) {
                        if (product != p->bit)
                            start_section(*p);
                        break;
                    }
                }
            }
            const ProductDescription* p = open_product_;
            if (p != nullptr && p->is_documents() && shows(nothing_below(p->record), depth + 1)) {
                ++documents_started_;
                sink_.begin_document(*p, output_per_record(*p)
                                             ? options_.names.file_for_record(*p, documents_started_)
                                             : std::string());
            }
        }
        route_attributes(attributes, empty ? depth : depth + 1);
    }

    void element_end(int depth) override
    {
        if (depth >= 0 && depth < kTagDepths)
            TAG_flags[depth] = 0;
        else
            report(MessageKind::kWarning, "MESSAGE: something went wrong - level > 9 reached!\n");

        const ProductDescription* p = open_product_;
        if (p == nullptr)
            return;
        if (shows(p->list, depth)) {  // a record has ended
            if (p->is_documents()) {
                sink_.end_document(*p);
            } else {
                p->values(*records_, values_.data());
                sink_.record(*p, values_.data());
                p->initialize(*records_);
            }
        } else if (shows(p->section, depth)) {
            report(MessageKind::kInformation,
                   format_line("          ... finished writing %s.\n", p->name));
            sink_.end_section(*p);
            set_open_product(nullptr);
        }
    }

    // Reads the XML file at `path` node by node, calling `visit` with the
    // reader on every node, and reports a file that cannot be opened or read
    // to its end.  True when it was read to its end.  `progress`: who hears
    // how the reading goes, if anyone.
    // libxml2's allocations since the last look, where they are watched.
    MemoryWatch::Events memory_events()
    {
        return options_.memory != nullptr ? options_.memory->take_events() : MemoryWatch::Events();
    }

    template <typename Visit>
    bool walk_xml_file(const std::string& path, Visit visit, ProgressWatcher* progress = nullptr)
    {
        XmlInput input;  // outlives the reader that reads from it
        memory_events();
        if (!input.open(path)) {
            fail(MessageKind::kCannotOpen, format_line("TAIHEN: Unable to open %s\n", path.c_str()));
            return false;
        }
        ReadProgress* listener = progress != nullptr ? progress->start(input.file_size()) : nullptr;
        input.watch(listener);
        XmlReader reader(xmlReaderForIO(XmlInput::read, nullptr, &input, path.c_str(), nullptr, 0));
        if (!reader) {  // the file is open: only memory can have failed
            if (progress != nullptr)
                progress->finish(input.file_bytes_read());
            fail(MessageKind::kOutOfMemory,
                 format_line("TAIHEN: out of memory reading %s\n", path.c_str()));
            return false;
        }
        int result;
        while (!stopped() && (result = xmlTextReaderRead(reader.get())) == 1)
            visit(reader.get());
        reader.reset();
        if (stopped()) {
            if (progress != nullptr)
                progress->finish(input.file_bytes_read());
            return false;
        }
        // Damage behind the point where the parser stopped is told too.
        input.finish();
        if (progress != nullptr)
            progress->finish(input.file_bytes_read());
        const MemoryWatch::Events memory = memory_events();
        if (memory.over_cap)
            fail(MessageKind::kOutOfMemory,
                 format_line("TAIHEN: %s needs more than %zu MiB of memory\n", path.c_str(),
                             options_.memory->cap_mib()));
        else if (input.out_of_memory() || memory.failed)
            fail(MessageKind::kOutOfMemory,
                 format_line("TAIHEN: out of memory reading %s\n", path.c_str()));
        else if (input.failed())
            fail(MessageKind::kReadError,
                 format_line("TAIHEN: read error on %s: %s\n", path.c_str(), input.error()));
        if (result != 0 || input.failed() || memory.over_cap || memory.failed) {
            fail(MessageKind::kParseFailure,
                 format_line("TAIHEN: %s : failed to parse\n", path.c_str()));
            return false;
        }
        return true;
    }

    // What the product pass starts from, whichever source drives it.
    void start_product_pass()
    {
        TAG_flags.fill(0);
        set_open_product(nullptr);
        sections_started_ = 0;
    }

    // After a pass read to its end: a file without any section is a failure.
    void end_product_pass(bool read)
    {
        set_open_product(nullptr);
        if (read && sections_started_ == 0)
            fail(MessageKind::kNoProductSection,
                 format_line("TAIHEN: no product section in %s\n", options_.product_file.c_str()));
    }

    // The product pass driven by the streaming reader.
    void product_pass()
    {
        start_product_pass();
        ReaderNodes nodes;
        const bool read = walk_xml_file(options_.product_file, [this, &nodes](xmlTextReaderPtr reader) {
            const ReaderNode node = nodes.next(reader);
            switch (node.kind) {
            case ReaderNode::kText:
                if (node.text != nullptr)
                    text(node.text, node.depth);
                break;
            case ReaderNode::kElementStart: {
                ReaderAttributes attributes(reader);
                element_start(node.name != nullptr ? node.name : BAD_CAST "--", attributes,
                              node.depth, node.empty, attributes);
                break;
            }
            case ReaderNode::kElementEnd:
                element_end(node.depth);
                break;
            case ReaderNode::kOther:  // comments, CDATA, processing instructions, ...
                break;
            }
        }, options_.progress);
        end_product_pass(read);
    }

    // The product pass driven by the push parser, when it can be: anything
    // it does not handle the way the reader does leaves it kFallback.
    PushResult push_product_pass()
    {
        start_product_pass();
        XmlInput input;
        if (!input.open(options_.product_file))
            return PushResult::kFallback;
        memory_events();
        ProgressWatcher* progress = options_.progress;
        input.watch(progress != nullptr ? progress->start(input.file_size()) : nullptr);
        PushResult result = push_parse(input, options_.product_file, *this);
        if (progress != nullptr)
            progress->finish(input.file_bytes_read());
        // Memory refused anywhere, or damage anywhere in the file: the
        // reader's pass tells it.
        const MemoryWatch::Events memory = memory_events();
        if (memory.over_cap || memory.failed || input.failed())
            result = PushResult::kFallback;
        if (result == PushResult::kConverted)
            end_product_pass(true);
        return result;
    }

    // -----------------------------------------------------------------------
    // Header epoch pass

    void header_pass()
    {
        HDR_TAG_flags = 0;
        walk_xml_file(options_.header_file, [this](xmlTextReaderPtr reader) {
            const xmlChar* node_name = xmlTextReaderConstName(reader);
            const char* name = node_name != nullptr ? as_text(node_name) : "--";
            const int type = xmlTextReaderNodeType(reader);
            switch (type) {
            case kElementStart:
                if (xmlTextReaderIsEmptyElement(reader) == 0)
                    HDR_TAG_flags |= HDR_GetNodeTagfromFile(name);
                break;
            case kText:
                if ((HDR_TAG_flags & kAllHeaderElements) == kAllHeaderElements) {
                    const xmlChar* value = xmlTextReaderConstValue(reader);
                    HDR_PutToStruct_SST_PRM_2(*records_, HDR_TAG_flags,
                                              value != nullptr ? as_text(value) : "", *this);
                }
                break;
            case kCdata:
            case kSignificantWhitespace:
                break;
            case kElementEnd:
                HDR_TAG_flags &= ~HDR_GetNodeTagfromFile(name);
                break;
            default:
                report(MessageKind::kWarning, format_line("MESSAGE: found type %d\n", type));
                break;
            }
        });
    }

    const ConversionOptions& options_;
    Sink& sink_;
    Reporter& reporter_;

    TagPath TAG_flags{};        // tag codes of the elements open at depths 0 to 9
    int32_t HDR_TAG_flags = 0;  // header bits of the header elements now open
    int32_t product = kNoProduct;  // bit of the product whose section is open, or 0
    const ProductDescription* open_product_ = nullptr;  // its description
    // What becomes of the text whose parts are coming (none: no text is).
    enum class TextInParts { kNone, kPassedOn, kJoined, kPassedOver };
    TextInParts text_in_parts_ = TextInParts::kNone;
    std::string joined_text_;
    ProductRecordsPtr records_;    // the records and the header's epoch reference
    TagCodeCache codes_;           // element codes by name, for this pass
    std::vector<Value> values_;    // a finished record's values
    int sections_started_ = 0;     // product sections started in the input
    int documents_started_;        // documents met so far: numbers split outputs
    int failures_ = 0;
    const uint32_t section_path_lengths_;    // of the products' section paths
    const uint32_t attribute_path_lengths_;  // of elements whose attributes are read
};

}  // namespace

std::string OutputNames::file_for(const ProductDescription& p) const
{
    return before_product + p.name + before_extension + p.extension;
}

std::string OutputNames::file_for_record(const ProductDescription& p, int number) const
{
    const std::string before_dot = before_extension.substr(0, before_extension.size() - 1);
    return before_product + p.name + before_dot + "_" + std::to_string(number) + "." + p.extension;
}

namespace {

// Holds an attempt's lines back until it is known whether they stand.
class HeldLines : public Reporter {
public:
    void report(MessageKind kind, const std::string& line) override
    {
        // A message of libxml2's own (its encoders speak outside the
        // parser's error handlers) means the attempt cannot stand either.
        if (is_failure(kind) || kind == MessageKind::kParserMessage)
            ++failures_;
        held_bytes_ += line.size();
        if (held_bytes_ > kMostHeld) {
            overflowed_ = true;
            lines_.clear();
            return;
        }
        if (!overflowed_)
            lines_.push_back({kind, line});
    }
    // Failures and libxml2's messages.
    int failures() const { return failures_; }
    // More was said than is held back: the attempt cannot stand.
    bool overflowed() const { return overflowed_; }
    void replay(Reporter& to) const
    {
        for (const CollectingReporter::Line& line : lines_)
            to.report(line.kind, line.text);
    }

private:
    static constexpr std::size_t kMostHeld = std::size_t{1} << 20;  // bytes
    std::vector<CollectingReporter::Line> lines_;
    std::size_t held_bytes_ = 0;
    int failures_ = 0;
    bool overflowed_ = false;
};

// Whether the push parser tries the input first.
bool tries_push_parser(const ConversionOptions& options, const Sink& sink)
{
    if (!sink.supports_attempts())
        return false;
    EventSource source = options.source;
    if (source == EventSource::kAuto) {
        // For comparing the two sources on the same input.
        const char* forced = std::getenv("L2XML2ASCII_PATH");
        if (forced != nullptr && std::strcmp(forced, "reader") == 0)
            source = EventSource::kReader;
        else if (forced != nullptr && std::strcmp(forced, "fast") == 0)
            source = EventSource::kPushParser;
    }
    switch (source) {
    case EventSource::kReader:
        return false;
    case EventSource::kPushParser:
        return true;
    case EventSource::kAuto:
        break;
    }
    struct stat st;
    return stat(options.product_file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The push parser's conversion of the input, if it stands: true with its
// outcome; false when the reader must convert the input, with the sink as
// it was before.
bool push_conversion(const ConversionOptions& options, Sink& sink, Reporter& reporter,
                     ConversionOutcome& outcome)
{
    HeldLines held;
    sink.begin_attempt(held);
    PushResult result = PushResult::kFallback;
    {
        Conversion attempt(options, sink, held);
        outcome = attempt.run(Conversion::Source::kPushParser, &result);
    }
    const bool clean = result == PushResult::kConverted && held.failures() == 0 && !held.overflowed();
    if (clean && outcome.stopped) {
        // Stopped from outside: nothing of the input stays, what was said does.
        sink.drop_attempt();
        held.replay(reporter);
        return true;
    }
    if (clean && sink.keep_attempt() && held.failures() == 0) {
        held.replay(reporter);
        outcome.pushed = true;
        return true;
    }
    sink.drop_attempt();
    return false;
}

// libxml2 is set up once per process, by whichever conversion comes first.
std::once_flag libxml2_ready;

}  // namespace

ConversionOutcome convert_input(const ConversionOptions& options, Sink& sink, Reporter& reporter)
{
    std::call_once(libxml2_ready, [] { xmlInitParser(); });
    if (!libxml2_thread_ready()) {
        reporter.report(MessageKind::kOutOfMemory, "TAIHEN: out of memory\n");
        ConversionOutcome outcome;
        outcome.failures = 1;
        return outcome;
    }
    try {
        ConversionOutcome outcome;
        if (tries_push_parser(options, sink) && push_conversion(options, sink, reporter, outcome))
            return outcome;
        Conversion conversion(options, sink, reporter);
        return conversion.run();
    } catch (const std::bad_alloc&) {
        reporter.report(MessageKind::kOutOfMemory,
                        format_line("TAIHEN: out of memory converting %s\n", options.product_file.c_str()));
        ConversionOutcome outcome;
        outcome.failures = 1;
        return outcome;
    }
}
