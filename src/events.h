// What an event source of the product pass hands the conversion: element
// starts with their depth and attributes, texts, element ends.  The
// streaming reader and libxml2's SAX2 push parser are the two sources.
#ifndef L2_EVENTS_H
#define L2_EVENTS_H

#include <cstddef>
#include <string>

#include <libxml/xmlstring.h>

// Why an attribute's value was refused.
enum class AttributeProblem { kNone, kTooLong, kOutOfMemory };

// Values longer than this are refused: the rest of the element is read as if
// the attribute were not there.
constexpr std::size_t kMaxAttributeLength = 65536;

// One attribute's value as looked up.
struct AttributeResult {
    const char* text = nullptr;  // null: no such attribute (or refused)
    AttributeProblem problem = AttributeProblem::kNone;
    std::string owned;           // the value, where it had to be built
};

// The attributes of the element just started.
class AttributeLookup {
public:
    // The value of the attribute `name` (without prefix) into `out`.
    virtual void value(const char* name, AttributeResult& out) = 0;

protected:
    ~AttributeLookup() = default;
};

// Whether an element name is the parser dictionary's own copy, whose
// address stays the name's for the whole pass.
class NameOrigin {
public:
    virtual bool in_dictionary(const xmlChar* name) const = 0;

protected:
    ~NameOrigin() = default;
};

// The steps of the product pass, in document order.  `depth` counts the
// elements open around the node.
class ProductEvents {
public:
    // `empty`: written <name/>, which the pass sees as a start alone.
    virtual void element_start(const xmlChar* name, const NameOrigin& origin, int depth,
                               bool empty, AttributeLookup& attributes) = 0;
    // A text node: adjacent character data and references, as one.
    virtual void text(const xmlChar* text, int depth) = 0;
    // A part of a text node that is not white space alone, handed on before
    // the node has ended so that no source need hold a long text whole; the
    // node's last part then comes as text().  The reader never cuts texts.
    virtual void text_part(const xmlChar* part, std::size_t length, int depth) = 0;
    virtual void element_end(int depth) = 0;
    // The pass is to end now.
    virtual bool stopped() const = 0;

protected:
    ~ProductEvents() = default;
};

#endif  // L2_EVENTS_H
