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

void ColumnSink::begin_attempt(Reporter&)
{
    products_before_ = order_.size();
    sizes_before_.clear();
    for (const Table& t : tables_)
        sizes_before_.emplace_back(t.rows(), t.documents.size());
}

void ColumnSink::drop_attempt()
{
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        Table& t = tables_[i];
        for (std::vector<Value>& column : t.columns)
            column.resize(sizes_before_[i].first);
        t.documents.resize(sizes_before_[i].second);
    }
    while (order_.size() > products_before_) {
        tables_[order_.back()->index] = Table();
        order_.pop_back();
    }
}
