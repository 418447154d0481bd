// The floor of the product pass: the same libxml2 calls per node that the
// converter makes, with nothing converted and nothing written.
#include <cstdio>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>

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
    xmlChar* value = xmlTextReaderGetAttribute(reader, BAD_CAST attribute);
    const unsigned length = value != nullptr ? static_cast<unsigned>(xmlStrlen(value)) : 0;
    xmlFree(value);
    return length;
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
    unsigned long checksum = 0;  // keeps the calls from being optimised away
    int result;
    while ((result = xmlTextReaderRead(reader)) == 1) {
        const xmlNode* node = xmlTextReaderCurrentNode(reader);
        if (node != nullptr && node->type == XML_TEXT_NODE) {
            const xmlChar* value = xmlTextReaderConstValue(reader);
            checksum += value != nullptr ? value[0] : 0;
            continue;
        }
        switch (xmlTextReaderNodeType(reader)) {
        case XML_READER_TYPE_ELEMENT: {
            const xmlChar* name = xmlTextReaderConstName(reader);
            const int depth = xmlTextReaderDepth(reader);
            checksum += static_cast<unsigned>(depth);
            checksum += static_cast<unsigned>(xmlTextReaderIsEmptyElement(reader));
            // The attributes the converter reads, on the elements that carry them.
            for (const AttributeUse& use : kAttributeUses)
                if (depth == use.depth && xmlStrEqual(name, BAD_CAST use.element))
                    checksum += attribute_length(reader, use.attribute);
            break;
        }
        case XML_READER_TYPE_END_ELEMENT:
            checksum += static_cast<unsigned>(xmlTextReaderDepth(reader));
            break;
        default:
            break;
        }
    }
    xmlFreeTextReader(reader);
    xmlCleanupParser();
    std::printf("%lu\n", checksum);
    return result == 0 ? 0 : 1;
}
