// Converting one input with each event source of the product pass, into
// memory, and the two results as text to compare: shared by the event-source
// tests and their fuzzing harness.
#ifndef L2_TEST_SOURCE_COMPARISON_H
#define L2_TEST_SOURCE_COMPARISON_H

#include <string>

#include "l2xml2ascii.h"

namespace l2test {

// Everything one conversion gave, as text.
inline std::string conversion_text(const ColumnSink& sink, const CollectingReporter& reporter,
                            const ConversionOutcome& outcome)
{
    std::string text = "failures " + std::to_string(outcome.failures) + "\n";
    for (const CollectingReporter::Line& line : reporter.lines())
        text += std::to_string(static_cast<int>(line.kind)) + " " + line.text;
    for (const ProductDescription* p : sink.products()) {
        const ColumnSink::Table& t = *sink.table(*p);
        text += std::string(p->name) + "\n";
        for (std::size_t c = 0; c < t.columns.size(); ++c)
            for (const Value& v : t.columns[c]) {
                switch (p->columns[c].type) {
                case ValueType::kLongDouble: {
                    const double d = static_cast<double>(v.long_double);
                    text.append(reinterpret_cast<const char*>(&d), sizeof d);
                    break;
                }
                case ValueType::kDouble:
                    text.append(reinterpret_cast<const char*>(&v.real), sizeof v.real);
                    break;
                default:
                    text += std::to_string(v.integer) + " ";
                }
            }
        for (const std::string& document : t.documents)
            text += "document " + std::to_string(document.size()) + "\n" + document;
    }
    return text;
}

struct Compared {
    bool same = false;
    bool pushed = false;  // the push parser's pass stood
    std::string reader, push;
};

inline Compared compare_sources(const std::string& product, const std::string& header = "")
{
    Compared result;
    for (EventSource source : {EventSource::kReader, EventSource::kPushParser}) {
        ConversionOptions options;
        options.product_file = product;
        options.header_file = header;
        options.source = source;
        options.names = OutputNames{"X", "_t."};
        ColumnSink sink;
        CollectingReporter reporter;
        const ConversionOutcome outcome = convert_input(options, sink, reporter);
        (source == EventSource::kReader ? result.reader : result.push) =
            conversion_text(sink, reporter, outcome);
        if (source == EventSource::kPushParser)
            result.pushed = outcome.pushed;
    }
    result.same = result.reader == result.push;
    return result;
}

}  // namespace l2test

#endif  // L2_TEST_SOURCE_COMPARISON_H
