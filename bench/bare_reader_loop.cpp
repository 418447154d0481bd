// The floor of the product pass: the same libxml2 calls per node that the
// converter makes (through the same ReaderNodes), with nothing converted and
// nothing written.
#include <cstdio>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "reader.h"

struct AttributeUse {
    const char* element;
    int depth;
    const char* attribute;
};

const AttributeUse kAttributeUses[] = {
    {"Covariance_Record", 4, "row"}, {"Covariance_Record", 4, "column"},
    {"Position", 7, "unit"},         {"Velocity", 7, "unit"},
    {"PDF_File", 4, "encoding"},
};

unsigned attribute_length(xmlTextReaderPtr reader, const char* attribute)
{
    const AttributeValue value(reader, attribute);
    return value.text() != nullptr ? static_cast<unsigned>(std::strlen(value.text())) : 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_reader_loop FILE\n");
        return 2;
    }
    xmlTextReaderPtr reader = xmlReaderForFile(argv[1], nullptr, 0);
    if (reader == nullptr)
        return 1;
    ReaderNodes nodes;
    unsigned long checksum = 0;  // keeps the calls from being optimised away
    int result;
    while ((result = xmlTextReaderRead(reader)) == 1) {
        const ReaderNode node = nodes.next(reader);
        switch (node.kind) {
        case ReaderNode::kElementStart:
            checksum += static_cast<unsigned>(node.depth) + node.empty;
            // The attributes the converter reads, on the elements that carry them.
            for (const AttributeUse& use : kAttributeUses)
                if (node.depth == use.depth &&
                    std::strcmp(reinterpret_cast<const char*>(node.name), use.element) == 0)
                    checksum += attribute_length(reader, use.attribute);
            break;
        case ReaderNode::kElementEnd:
            checksum += static_cast<unsigned>(node.depth);
            break;
        case ReaderNode::kText:
            checksum += node.text != nullptr ? node.text[0] : 0;
            break;
        case ReaderNode::kOther:
            break;
        }
    }
    xmlFreeTextReader(reader);
    xmlCleanupParser();
    std::printf("%lu\n", checksum);
    return result == 0 ? 0 : 1;
}
