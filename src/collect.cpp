// Conversions collected in memory: ColumnSink.
#include "l2xml2ascii.h"

const ColumnSink::Table* ColumnSink::table(const ProductDescription& p) const
{
    const Table& t = tables_[p.index];
    return t.product != nullptr ? &t : nullptr;
}

ColumnSink::Table& ColumnSink::table_of(const ProductDescription& p)
{
    Table& t = tables_[p.index];
    if (t.product == nullptr) {
        t.product = &p;
        t.columns.resize(p.column_count);
        order_.push_back(&p);
    }
    return t;
}

void ColumnSink::begin_section(const ProductDescription& p, const std::string&)
{
    table_of(p);
}

void ColumnSink::record(const ProductDescription& p, const Value* values)
{
    Table& t = table_of(p);
    for (std::size_t i = 0; i < p.column_count; ++i)
        t.columns[i].push_back(values[i]);
}

void ColumnSink::begin_document(const ProductDescription& p, const std::string&)
{
    table_of(p).documents.emplace_back();
}

void ColumnSink::document_bytes(const ProductDescription& p, const char* data, std::size_t size)
{
    Table& t = table_of(p);
    if (t.documents.empty())
        t.documents.emplace_back();
    t.documents.back().append(data, size);
}
