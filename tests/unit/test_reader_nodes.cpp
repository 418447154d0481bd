// Reader nodes: what the product pass reads off each node must be what the
// reader's own calls would say, on hand-made and on random documents.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "reader.h"

namespace {

std::string describe(xmlTextReaderPtr reader)
{
    std::ostringstream text;
    const xmlChar* name = xmlTextReaderConstName(reader);
    text << "node type " << xmlTextReaderNodeType(reader) << " '"
         << (name != nullptr ? reinterpret_cast<const char*>(name) : "(null)") << "' at depth "
         << xmlTextReaderDepth(reader);
    return text.str();
}

// Walks `document` and checks every node against the reader's own answers;
// returns the number of nodes seen.
int expect_same_nodes(const std::string& document)
{
    xmlTextReaderPtr reader = xmlReaderForMemory(document.data(), static_cast<int>(document.size()),
                                                 "test.xml", nullptr, 0);
    EXPECT_NE(reader, nullptr);
    if (reader == nullptr)
        return 0;
    // Faults are part of the test, the parser's reports of them are not.
    xmlTextReaderSetErrorHandler(
        reader, [](void*, const char*, xmlParserSeverities, xmlTextReaderLocatorPtr) {}, nullptr);
    ReaderNodes nodes;
    int count = 0;
    while (xmlTextReaderRead(reader) == 1) {
        ++count;
        const ReaderNode node = nodes.next(reader);
        const int type = xmlTextReaderNodeType(reader);
        SCOPED_TRACE(describe(reader) + " in:\n" + document);
        switch (type) {
        case XML_READER_TYPE_ELEMENT:
            EXPECT_EQ(node.kind, ReaderNode::kElementStart);
            EXPECT_EQ(node.depth, xmlTextReaderDepth(reader));
            EXPECT_EQ(node.empty, xmlTextReaderIsEmptyElement(reader) != 0);
            // The very string of the reader: its address is used as a key.
            EXPECT_EQ(node.name, xmlTextReaderConstName(reader));
            break;
        case XML_READER_TYPE_END_ELEMENT:
            EXPECT_EQ(node.kind, ReaderNode::kElementEnd);
            EXPECT_EQ(node.depth, xmlTextReaderDepth(reader));
            break;
        case XML_READER_TYPE_TEXT:
            EXPECT_EQ(node.kind, ReaderNode::kText);
            EXPECT_EQ(node.depth, xmlTextReaderDepth(reader));
            EXPECT_EQ(node.text, xmlTextReaderConstValue(reader));
            EXPECT_FALSE(is_xml_white_space(node.text));
            break;
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            // Text to the pass, which then passes it over as white space.
            EXPECT_EQ(node.kind, ReaderNode::kText);
            EXPECT_EQ(node.text, xmlTextReaderConstValue(reader));
            EXPECT_TRUE(node.text == nullptr || is_xml_white_space(node.text));
            break;
        default:
            EXPECT_EQ(node.kind, ReaderNode::kOther);
            break;
        }
    }
    xmlFreeTextReader(reader);
    return count;
}

TEST(ReaderNodesTest, AgreeWithTheReaderOnHandMadeDocuments)
{
    const char* const documents[] = {
        "<a/>",
        "<a></a>",
        "<a><b/><b></b><b>x</b></a>",
        "<a>\n  <b>1</b>\n  <c/>\n</a>\n",
        // White space of every kind, as characters and as references.
        "<a> \t\r\n<b>&#9; &#13;&#10;</b><b>&#160;</b><b> 1 </b></a>",
        "<a xml:space='preserve'>  <b>  </b><c xml:space='default'> </c></a>",
        // Mixed content, comments, processing instructions, CDATA.
        "<a>x<b>y</b>z<!-- c --><?pi d?><![CDATA[ e ]]>f</a>",
        // Prefixed names: declared, default namespace, undeclared prefix.
        "<p:a xmlns:p='urn:p'><p:b>1</p:b><c xmlns='urn:q'><d/></c></p:a>",
        "<a><q:b>1</q:b></a>",
        // Entities: declared (not expanded), predefined, character references.
        "<!DOCTYPE a [<!ENTITY e '<b>in</b>'>]><a>&e;&amp;&#x41;<c>&e;</c></a>",
        // Attributes, a document type, a prolog and an epilog.
        "<?xml version='1.0'?><!DOCTYPE a><!-- p --><a x='1' y=\"2\"><b z='3'/></a><!-- e -->",
        // Deep nesting, same element names at many depths.
        "<x><x><x><x><x><x><x><x><x><x><x><x>t</x></x></x></x></x></x></x></x></x></x></x></x>",
        // Faults part-way: the nodes before the fault still agree.
        "<a><b>1</b><c>2</b></a>",
        "<a><b>1</b>",
        "<a>&undefined;</a>",
    };
    for (const char* document : documents)
        expect_same_nodes(document);
}

// Walks `document` and checks, on every element start, that AttributeValue
// gives what xmlTextReaderGetAttribute gives for each of `names`.
void expect_same_attributes(const std::string& document, const std::vector<const char*>& names)
{
    xmlTextReaderPtr reader = xmlReaderForMemory(document.data(), static_cast<int>(document.size()),
                                                 "test.xml", nullptr, 0);
    ASSERT_NE(reader, nullptr);
    xmlTextReaderSetErrorHandler(
        reader, [](void*, const char*, xmlParserSeverities, xmlTextReaderLocatorPtr) {}, nullptr);
    while (xmlTextReaderRead(reader) == 1) {
        for (const char* name : names) {
            SCOPED_TRACE(describe(reader) + ", attribute " + name + " in:\n" + document);
            xmlChar* expected = xmlTextReaderGetAttribute(reader, BAD_CAST name);
            const AttributeValue value(reader, name);
            if (expected == nullptr)
                EXPECT_EQ(value.text(), nullptr);
            else
                EXPECT_STREQ(value.text(), reinterpret_cast<const char*>(expected));
            xmlFree(expected);
        }
    }
    xmlFreeTextReader(reader);
}

TEST(AttributeValueTest, AgreesWithTheReaderOnEveryKindOfValue)
{
    const std::vector<const char*> names = {"row", "column", "unit", "encoding"};
    const char* const documents[] = {
        "<a row='1' column=\"22\"><b unit='km'/>text<c encoding='Base64'></c></a>",
        // Empty, blank and referenced values.
        "<a row='' column=' 7 ' unit='&#107;m' encoding='a&amp;b&lt;'/>",
        // Values made of an entity, declared in the document type.
        "<!DOCTYPE a [<!ENTITY k 'km'>]><a unit='&k;' row='1&k;2'/>",
        // Defaults from the document type, present or overridden.
        "<!DOCTYPE a [<!ATTLIST a row CDATA '5' unit CDATA #FIXED 'km'>]><a/><a row='6'/>",
        // Entities made of entities, undeclared references, character references.
        ("<!DOCTYPE a [<!ENTITY one '1'><!ENTITY two '&one;&one;'><!ENTITY e ''>]>"
         "<a row='&two;x&one;' column='&e;&e;' unit='&#107;&two;&#109;'/>"),
        // Names that begin one another.
        "<a rows='1' ro='2' row='3' units='4' uni='5'/>",
        // Prefixed attributes of the same local name do not count.
        "<a xmlns:p='urn:p' p:row='9' row='1' p:unit='m'><b p:column='3'/></a>",
        // Attributes on end tags, text and other nodes: there are none.
        "<a row='1'>x<!-- c --><![CDATA[y]]><?pi row='2'?></a>",
        // Line breaks and tabs in values are normalised by the parser.
        "<a row='1\n2' column='\t3\r\n'/>",
    };
    for (const char* document : documents)
        expect_same_attributes(document, names);
}

// A default declared for a prefixed element goes by its qualified name, as
// libxml2 2.9's reader finds it; 2.15's reader finds none there.  The
// converter gives the one answer whatever libxml2 it runs on.
TEST(AttributeValueTest, DefaultOfAPrefixedElementGoesByItsQualifiedName)
{
    const std::string document =
        "<!DOCTYPE p:a [<!ATTLIST p:a row CDATA '5'><!ATTLIST a column CDATA '7'>]>"
        "<p:a xmlns:p='urn:p'/>";
    xmlTextReaderPtr reader = xmlReaderForMemory(document.data(), static_cast<int>(document.size()),
                                                 "test.xml", nullptr, 0);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(1, xmlTextReaderRead(reader));  // the document type
    ASSERT_EQ(1, xmlTextReaderRead(reader));  // p:a
    const AttributeValue row(reader, "row");
    const AttributeValue column(reader, "column");
    EXPECT_STREQ("5", row.text());
    EXPECT_EQ(nullptr, column.text());
    xmlFreeTextReader(reader);
}

// Random documents: nesting, empty elements, text, white space, references,
// comments, CDATA, namespaces, xml:space and attributes, mixed at random.
class RandomDocument {
public:
    explicit RandomDocument(unsigned seed) : random_(seed) {}

    std::string make()
    {
        text_.clear();
        entities_ = pick(3) == 0;
        if (entities_)
            text_ += "<!DOCTYPE r [<!ENTITY e 'ent'><!ENTITY n '<b>n</b>'>]>";
        text_ += "<r xmlns:p='urn:p'>";
        content(0);
        text_ += "</r>";
        return text_;
    }

private:
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

    void content(int depth)
    {
        const unsigned items = pick(7);
        for (unsigned i = 0; i < items; ++i) {
            switch (pick(10)) {
            case 0:
            case 1:
            case 2:
            case 9:
                element(depth + 1);
                break;
            case 3:
                text_ += whitespace();
                break;
            case 4:
                text_ += "1.5e-3";
                break;
            case 5:
                text_ += pick(2) ? "&#13;" : "&#32;";
                break;
            case 6:
                text_ += !entities_ || pick(2) ? "&amp;" : (pick(2) ? "&e;" : "&n;");
                break;
            case 7:
                text_ += pick(2) ? "<!-- c -->" : "<?pi x?>";
                break;
            case 8:
                text_ += "<![CDATA[ c ]]>";
                break;
            default:
                break;
            }
        }
    }

    std::string whitespace()
    {
        const char kinds[] = {' ', '\t', '\n', '\r'};
        std::string run;
        for (unsigned n = 1 + pick(20); n > 0; --n)
            run += kinds[pick(4)];
        return run;
    }

    void element(int depth)
    {
        const char* const names[] = {"a", "b", "XX", "p:c", "Data_Block"};
        const std::string name = names[pick(5)];
        text_ += "<" + name;
        if (pick(6) == 0)
            text_ += pick(2) ? " xml:space='preserve'" : " xml:space='default'";
        if (pick(8) == 0)
            text_ += " xmlns='urn:d'";
        if (pick(3) == 0)
            text_ += pick(2) ? " p:row='2'" : " unit='km'";
        if (pick(3) == 0) {
            const char* const values[] = {"1", "", " 3 ", "&amp;4", "&#53;", "&e;"};
            text_ += std::string(" row='") + values[pick(entities_ ? 6 : 5)] + "'";
        }
        if (pick(4) == 0 || depth > 12) {
            text_ += "/>";
            return;
        }
        text_ += ">";
        content(depth);
        text_ += "</" + name + ">";
    }

    std::mt19937 random_;
    std::string text_;
    bool entities_ = false;  // the document declares &e; and &n;
};

TEST(ReaderNodesTest, AgreeWithTheReaderOnRandomDocuments)
{
    RandomDocument documents(20261207);
    long nodes = 0;
    for (int i = 0; i < 5000 && !::testing::Test::HasFailure(); ++i) {
        const std::string document = documents.make();
        nodes += expect_same_nodes(document);
        expect_same_attributes(document, {"row", "unit"});
    }
    EXPECT_GT(nodes, 100000);
}

}  // namespace
