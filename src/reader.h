// libxml2's streaming reader as the passes see it: the reader as a
// resource, its nodes (ReaderNodes), attribute values within a bound
// (AttributeValue) and the cache of element codes (TagCodeCache).
#ifndef L2_READER_H
#define L2_READER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <libxml/xmlreader.h>

#include "events.h"
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
// value (or one of more nodes) counts as missing and is refused (see
// problem()), as is one that runs out of memory while being built.
class AttributeValue {
public:
    static constexpr std::size_t kMaxLength = kMaxAttributeLength;

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

    // Why a value was refused, for the caller to report.
    using Problem = AttributeProblem;
    Problem problem() const { return problem_; }

    // Hands the value over: `out` holds it (or points at the reader's copy,
    // valid while the reader stays on the element).
    void take(AttributeResult& out)
    {
        out.problem = problem_;
        if (value_ != nullptr && reinterpret_cast<const char*>(value_) == owned_.c_str()) {
            out.owned = std::move(owned_);
            out.text = out.owned.c_str();
        } else {
            out.text = text();
        }
    }

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

    void refuse_too_long() { problem_ = Problem::kTooLong; }
    void refuse_out_of_memory() { problem_ = Problem::kOutOfMemory; }

    const char* name_;
    const xmlChar* value_ = nullptr;
    Problem problem_ = Problem::kNone;
    std::string owned_;        // a value that was built
    std::size_t bytes_left_ = 0;  // while building: bytes the value may still take
    std::size_t nodes_left_ = 0;  // and nodes that may still be visited
};

// The attributes and name origin of the reader's current element.
class ReaderAttributes : public AttributeLookup, public NameOrigin {
public:
    explicit ReaderAttributes(xmlTextReaderPtr reader) : reader_(reader) {}
    void value(const char* name, AttributeResult& out) override
    {
        AttributeValue value(reader_, name);
        value.take(out);
    }
    bool in_dictionary(const xmlChar* name) const override
    {
        return xmlTextReaderConstString(reader_, name) == name;
    }

private:
    xmlTextReaderPtr reader_;
};

// Element names come from the reader's dictionary, where one name has one
// copy for the whole pass.  Their codes are remembered per depth by that
// copy's address, so that most element starts skip the look-up by text.
class TagCodeCache {
public:
    // `in_dictionary(name)`: whether `name` is the parser dictionary's own
    // copy, asked only when the name is not remembered yet.
    template <typename InDictionary>
    int32_t code(const xmlChar* name, int depth, InDictionary in_dictionary)
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
        if (filled_[static_cast<std::size_t>(depth)] < kSlots * 3 / 4 && in_dictionary(name)) {
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


#endif  // L2_READER_H
