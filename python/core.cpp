// l2xml2ascii._core: the conversion's values as numpy arrays.
//
// A conversion runs without the GIL into a sink that appends every column's
// values to a growing buffer of its own; the buffers become numpy arrays
// without a copy.  The blocks stream runs the conversion on a thread of its
// own and hands finished blocks through a short queue.  Nothing here prints,
// and nothing changes libxml2's process-wide settings.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "l2xml2ascii.h"

namespace py = pybind11;

namespace {

// ---------------------------------------------------------------------------
// Column storage

std::size_t value_size(ValueType type)
{
    switch (type) {
    case ValueType::kLongDouble: return sizeof(long double);
    case ValueType::kDouble: return sizeof(double);
    case ValueType::kInt32: return sizeof(int32_t);
    case ValueType::kInt16: return sizeof(int16_t);
    }
    return sizeof(double);
}

const char* dtype_name(ValueType type)
{
    switch (type) {
    case ValueType::kLongDouble: return "longdouble";
    case ValueType::kDouble: return "float64";
    case ValueType::kInt32: return "int32";
    case ValueType::kInt16: return "int16";
    }
    return "float64";
}

// Bytes from malloc, grown by realloc (large blocks move by remapping, not
// copying); release() hands them to a numpy array that frees them.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept
    {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~Buffer() { std::free(data_); }

    void append(const void* bytes, std::size_t n)
    {
        if (capacity_ - size_ < n)
            grow(size_ + n);
        std::memcpy(data_ + size_, bytes, n);
        size_ += n;
    }
    void reserve(std::size_t n)
    {
        if (n > capacity_)
            grow(n);
    }
    std::size_t size() const { return size_; }
    char* data() const { return data_; }
    // Keeps the first `size` bytes.
    void cut_back(std::size_t size) { size_ = std::min(size_, size); }
    char* release()
    {
        size_ = capacity_ = 0;
        return std::exchange(data_, nullptr);
    }

private:
    void grow(std::size_t needed)
    {
        std::size_t capacity = std::max<std::size_t>(capacity_ * 2, 4096);
        capacity = std::max(capacity, needed);
        void* data = std::realloc(data_, capacity);
        if (data == nullptr)
            throw std::bad_alloc();
        data_ = static_cast<char*>(data);
        capacity_ = capacity;
    }

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The records of one product met so far (or of one block), column by column,
// or its documents.
struct TableData {
    const ProductDescription* product = nullptr;
    std::vector<Buffer> columns;
    std::size_t rows = 0;
    std::vector<std::string> documents;

    explicit TableData(const ProductDescription* p = nullptr) : product(p)
    {
        if (p != nullptr)
            columns.resize(p->column_count);
    }

    void add(const Value* values)
    {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            switch (product->columns[c].type) {
            case ValueType::kLongDouble:
                columns[c].append(&values[c].long_double, sizeof(long double));
                break;
            case ValueType::kDouble:
                columns[c].append(&values[c].real, sizeof(double));
                break;
            case ValueType::kInt32:
                columns[c].append(&values[c].integer, sizeof(int32_t));
                break;
            case ValueType::kInt16: {
                const int16_t v = static_cast<int16_t>(values[c].integer);
                columns[c].append(&v, sizeof v);
                break;
            }
            }
        }
        ++rows;
    }

    bool empty() const { return rows == 0 && documents.empty(); }

    // Back to its first `kept_rows` records and `kept_documents` documents.
    void cut_back(std::size_t kept_rows, std::size_t kept_documents)
    {
        for (std::size_t c = 0; c < columns.size(); ++c)
            columns[c].cut_back(kept_rows * value_size(product->columns[c].type));
        rows = std::min(rows, kept_rows);
        documents.resize(std::min(documents.size(), kept_documents));
    }
};

// Which products a caller asked for: all by default.
struct ProductChoice {
    std::vector<bool> wanted;

    explicit ProductChoice(const std::optional<std::vector<std::string>>& names)
        : wanted(kProductDescriptions.size(), !names)
    {
        if (!names)
            return;
        for (const std::string& name : *names) {
            const ProductDescription* p = find_product(name);
            if (p == nullptr)
                throw py::value_error("unknown product " + name);
            wanted[p->index] = true;
        }
    }
    bool operator()(const ProductDescription& p) const
    {
        return p.index < wanted.size() && wanted[p.index];
    }
};

struct Message {
    MessageKind kind;
    std::string line;
};

// ---------------------------------------------------------------------------
// Python values

// The column's values as an array that takes over the buffer's bytes.
py::array column_array(const Column& column, Buffer& buffer, std::size_t rows)
{
    py::dtype dtype(dtype_name(column.type));
    if (rows == 0)  // a section without records: nothing to take over
        return py::array(dtype, std::vector<py::ssize_t>{0});
    py::capsule owner(buffer.data(), [](void* p) { std::free(p); });
    char* data = buffer.release();  // the capsule owns the bytes from here on
    return py::array(dtype, {static_cast<py::ssize_t>(rows)}, {}, data, owner);
}

// (product name, [arrays in column order], [documents as bytes])
py::tuple table_tuple(TableData& table)
{
    py::list arrays;
    for (std::size_t c = 0; c < table.columns.size(); ++c)
        arrays.append(column_array(table.product->columns[c], table.columns[c], table.rows));
    py::list documents;
    for (std::string& document : table.documents) {
        documents.append(py::bytes(document));
        std::string().swap(document);
    }
    return py::make_tuple(table.product->name, arrays, documents);
}

const char* kind_name(MessageKind kind)
{
    switch (kind) {
    case MessageKind::kInformation: return "information";
    case MessageKind::kWarning: return "warning";
    case MessageKind::kNotice: return "notice";
    case MessageKind::kParserMessage: return "parser";
    case MessageKind::kCannotOpen: return "cannot_open";
    case MessageKind::kReadError: return "read_error";
    case MessageKind::kParseFailure: return "parse_failure";
    case MessageKind::kCannotCreate: return "cannot_create";
    case MessageKind::kWriteError: return "write_error";
    case MessageKind::kBadEpoch: return "bad_epoch";
    case MessageKind::kNoProductSection: return "no_product";
    case MessageKind::kUnderivableName: return "underivable_name";
    case MessageKind::kOutOfMemory: return "out_of_memory";
    case MessageKind::kAttributeTooLong: return "attribute_too_long";
    case MessageKind::kNoInput: return "no_input";
    case MessageKind::kInterrupted: return "interrupted";
    }
    return "unknown";
}

py::tuple message_tuple(const Message& m)
{
    return py::make_tuple(kind_name(m.kind), is_failure(m.kind), m.line);
}

ConversionOptions conversion_options(const std::string& path,
                                     const std::optional<std::string>& header,
                                     const std::atomic<bool>* stop)
{
    ConversionOptions options;
    options.product_file = path;
    if (header)
        options.header_file = *header;
    options.stop = stop;
    return options;
}

// Waits until `wait_for(time)` (a wait of at most `time`) says it is done,
// without the GIL; between its waits Python's signal handlers run, so that
// Ctrl-C interrupts.  Called with the GIL; false, with the handler's
// exception set, when a handler raised.
template <typename WaitFor>
bool wait_hearing_signals(WaitFor wait_for)
{
    constexpr std::chrono::milliseconds kTick{100};
    for (;;) {
        {
            py::gil_scoped_release free_the_interpreter;
            if (wait_for(kTick))
                return true;
        }
        if (PyErr_CheckSignals() != 0)
            return false;
    }
}

// A thread that is always joined (without the GIL) before it goes.
class JoinedThread {
public:
    template <typename Function>
    explicit JoinedThread(Function function) : thread_(std::move(function)) {}
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;
    ~JoinedThread()
    {
        py::gil_scoped_release free_the_interpreter;
        thread_.join();
    }

private:
    std::thread thread_;
};

// The end of a task run on another thread, and what it threw.
class Completion {
public:
    void finish(std::exception_ptr error)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = error;
        done_ = true;
        finished_.notify_all();
    }
    bool wait_for(std::chrono::milliseconds time)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return finished_.wait_for(lock, time, [&] { return done_; });
    }
    std::exception_ptr error() const { return error_; }  // once finished

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::exception_ptr error_;
};

// ---------------------------------------------------------------------------
// Whole files

class CollectingSink : public Sink {
public:
    explicit CollectingSink(ProductChoice choice) : choice_(choice) {}

    void begin_section(const ProductDescription& p, const std::string&) override
    {
        if (choice_(p))
            table(p);  // a section met is in the result even without records
    }
    void record(const ProductDescription& p, const Value* values) override
    {
        if (&p == last_product_) {
            last_table_->add(values);
        } else if (choice_(p)) {
            last_table_ = &table(p);
            last_product_ = &p;
            last_table_->add(values);
        }
    }
    void begin_document(const ProductDescription& p, const std::string&) override
    {
        if (choice_(p))
            table(p).documents.emplace_back();
    }
    bool takes_documents(const ProductDescription& p) override { return choice_(p); }
    void document_bytes(const ProductDescription& p, const char* data, std::size_t size) override
    {
        if (choice_(p))
            table(p).documents.back().append(data, size);
    }
    void end_document(const ProductDescription&) override {}
    void end_section(const ProductDescription&) override {}

    // A faster way of converting may be tried first (the push parser): what
    // it gave can be cut back.
    bool supports_attempts() const override { return true; }
    void begin_attempt(Reporter&) override
    {
        sizes_before_.clear();
        for (const auto& t : tables)
            sizes_before_.emplace_back(t->rows, t->documents.size());
    }
    void drop_attempt() override
    {
        tables.resize(sizes_before_.size());
        for (std::size_t i = 0; i < tables.size(); ++i)
            tables[i]->cut_back(sizes_before_[i].first, sizes_before_[i].second);
        last_product_ = nullptr;
        last_table_ = nullptr;
    }

    // The tables in the order their sections were first met.
    std::vector<std::unique_ptr<TableData>> tables;

private:
    TableData& table(const ProductDescription& p)
    {
        for (auto& t : tables)
            if (t->product == &p)
                return *t;
        tables.push_back(std::make_unique<TableData>(&p));
        return *tables.back();
    }

    ProductChoice choice_;
    const ProductDescription* last_product_ = nullptr;
    TableData* last_table_ = nullptr;
    std::vector<std::pair<std::size_t, std::size_t>> sizes_before_;  // rows, documents
};

// convert(path, header, products) -> (tables, messages, failures)
// tables: [(product, [arrays], [documents])] in the order met; messages:
// [(kind, is_failure, line)].  The conversion runs on a thread of its own
// while this one waits without the GIL, hearing signals: an exception from
// a signal handler (KeyboardInterrupt) stops the conversion and is raised.
py::tuple convert(const std::string& path, const std::optional<std::string>& header,
                  const std::optional<std::vector<std::string>>& products)
{
    CollectingSink sink{ProductChoice(products)};
    CollectingReporter reporter;
    ConversionOutcome outcome;
    std::atomic<bool> stop{false};
    const ConversionOptions options = conversion_options(path, header, &stop);
    Completion completion;
    bool heard = false;
    {
        JoinedThread worker([&] {
            try {
                outcome = convert_input(options, sink, reporter);
                completion.finish(nullptr);
            } catch (...) {
                completion.finish(std::current_exception());
            }
        });
        heard = wait_hearing_signals([&](std::chrono::milliseconds t) {
            return completion.wait_for(t);
        });
        if (!heard)
            stop.store(true);
    }
    if (!heard)
        throw py::error_already_set();
    if (completion.error())
        std::rethrow_exception(completion.error());
    py::list tables;
    for (auto& t : sink.tables)
        tables.append(table_tuple(*t));
    sink.tables.clear();
    py::list messages;
    for (const CollectingReporter::Line& line : reporter.lines())
        if (line.kind != MessageKind::kInformation)  // what the program says of its outputs
            messages.append(message_tuple(Message{line.kind, line.text}));
    return py::make_tuple(tables, messages, outcome.failures);
}

// ---------------------------------------------------------------------------
// Blocks

// What the conversion thread hands over: a block of one product's records
// or documents, or a message.
struct Item {
    std::unique_ptr<TableData> block;
    Message message;
};

// Conversion thread -> Python, at most `capacity` items in between.  A stop
// wakes both sides; what the producer offers after it is dropped.
class ItemQueue {
public:
    explicit ItemQueue(std::size_t capacity) : capacity_(capacity) {}

    void push(Item item)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        not_full_.wait(lock, [&] { return items_.size() < capacity_ || stop_.load(); });
        if (stop_.load())
            return;
        items_.push_back(std::move(item));
        not_empty_.notify_one();
    }
    enum class Popped { kItem, kEnd, kNothingYet };
    // Waits at most `time` for the next item; kEnd once the producer has
    // finished and all is taken.
    Popped pop(Item& item, std::chrono::milliseconds time)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!not_empty_.wait_for(lock, time, [&] { return !items_.empty() || finished_; }))
            return Popped::kNothingYet;
        if (items_.empty())
            return Popped::kEnd;
        item = std::move(items_.front());
        items_.pop_front();
        not_full_.notify_one();
        return Popped::kItem;
    }
    void finish(ConversionOutcome outcome)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_ = outcome;
        finished_ = true;
        not_empty_.notify_all();
    }
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        items_.clear();
        not_full_.notify_all();
    }
    const std::atomic<bool>* stop_flag() const { return &stop_; }
    ConversionOutcome outcome()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return outcome_;
    }

private:
    std::mutex mutex_;
    std::condition_variable not_full_;
    std::condition_variable not_empty_;
    std::deque<Item> items_;
    std::size_t capacity_;
    std::atomic<bool> stop_{false};
    bool finished_ = false;
    ConversionOutcome outcome_;
};

class QueueReporter : public Reporter {
public:
    explicit QueueReporter(ItemQueue& queue) : queue_(queue) {}
    void report(MessageKind kind, const std::string& line) override
    {
        if (kind != MessageKind::kInformation)
            queue_.push(Item{nullptr, Message{kind, line}});
    }

private:
    ItemQueue& queue_;
};

// Cuts each product's records into blocks of `block_records`; a section's
// end hands over what it has, and every document is a block of its own.
// What it has handed over cannot be taken back, so only the reader converts
// into it (no attempts).
class BlockSink : public Sink {
public:
    BlockSink(ItemQueue& queue, ProductChoice choice, std::size_t block_records)
        : queue_(queue), choice_(choice), block_records_(block_records) {}

    void begin_section(const ProductDescription&, const std::string&) override {}
    void record(const ProductDescription& p, const Value* values) override
    {
        if (queue_.stop_flag()->load(std::memory_order_relaxed))
            return;
        if (!block_ || block_->product != &p) {
            if (!choice_(p))
                return;
            hand_over();
            start(p);
        }
        block_->add(values);
        if (block_->rows == block_records_)
            hand_over();
    }
    void begin_document(const ProductDescription& p, const std::string&) override
    {
        if (!choice_(p))
            return;
        hand_over();
        start(p);
        block_->documents.emplace_back();
    }
    bool takes_documents(const ProductDescription& p) override { return choice_(p); }
    void document_bytes(const ProductDescription& p, const char* data, std::size_t size) override
    {
        if (block_ && block_->product == &p && !block_->documents.empty())
            block_->documents.back().append(data, size);
    }
    void end_document(const ProductDescription&) override { hand_over(); }
    void end_section(const ProductDescription&) override { hand_over(); }

    void hand_over()
    {
        if (block_ && !block_->empty())
            queue_.push(Item{std::move(block_), Message{}});
        block_.reset();
    }

private:
    void start(const ProductDescription& p)
    {
        block_ = std::make_unique<TableData>(&p);
        for (std::size_t c = 0; c < block_->columns.size(); ++c)
            block_->columns[c].reserve(block_records_ * value_size(p.columns[c].type));
    }

    ItemQueue& queue_;
    ProductChoice choice_;
    std::size_t block_records_;
    std::unique_ptr<TableData> block_;
};

// One conversion on a thread of its own; close() (or the destructor) stops
// it and waits for it.
class BlockStream {
public:
    BlockStream(const std::string& path, const std::optional<std::string>& header,
                const std::optional<std::vector<std::string>>& products,
                std::size_t block_records, std::size_t queue_blocks)
        : queue_(queue_blocks),
          sink_(queue_, ProductChoice(products), block_records),
          reporter_(queue_),
          options_(conversion_options(path, header, queue_.stop_flag()))
    {
        if (block_records == 0)
            throw py::value_error("block_records must be positive");
        thread_ = std::thread([this] { run(); });
    }
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;
    ~BlockStream() { stop_and_join(); }

    // The next item: ("block", (product, [arrays], [documents])) or
    // ("message", (kind, is_failure, line)); None at the end.  Signal
    // handlers run while it waits (see wait_hearing_signals).
    py::object next()
    {
        if (!thread_.joinable())
            return py::none();
        Item item;
        ItemQueue::Popped popped = ItemQueue::Popped::kNothingYet;
        if (!wait_hearing_signals([&](std::chrono::milliseconds t) {
                popped = queue_.pop(item, t);
                return popped != ItemQueue::Popped::kNothingYet;
            }))
            throw py::error_already_set();
        if (popped == ItemQueue::Popped::kEnd)
            return py::none();
        if (item.block)
            return py::make_tuple("block", table_tuple(*item.block));
        return py::make_tuple("message", message_tuple(item.message));
    }
    // (failures, stopped) once next() has returned None or after close().
    py::tuple outcome()
    {
        const ConversionOutcome o = queue_.outcome();
        return py::make_tuple(o.failures, o.stopped);
    }
    void close()
    {
        py::gil_scoped_release free_the_interpreter;
        stop_and_join();
    }

private:
    void run() noexcept
    {
        ConversionOutcome outcome;
        try {
            outcome = convert_input(options_, sink_, reporter_);
            sink_.hand_over();
        } catch (const std::bad_alloc&) {
            outcome.failures += 1;
            reporter_.report(MessageKind::kOutOfMemory,
                             "TAIHEN: out of memory converting " + options_.product_file + "\n");
        } catch (const std::exception& e) {
            outcome.failures += 1;
            reporter_.report(MessageKind::kReadError,
                             "TAIHEN: " + options_.product_file + ": " + e.what() + "\n");
        }
        queue_.finish(outcome);
    }
    void stop_and_join()
    {
        if (!thread_.joinable())
            return;
        queue_.stop();
        thread_.join();
    }

    ItemQueue queue_;
    BlockSink sink_;
    QueueReporter reporter_;
    ConversionOptions options_;
    std::thread thread_;
};

// ---------------------------------------------------------------------------
// Descriptions

py::list product_schema(const std::string& name)
{
    const ProductDescription* p = find_product(name);
    if (p == nullptr)
        throw py::value_error("unknown product " + name);
    py::list columns;
    for (std::size_t c = 0; c < p->column_count; ++c) {
        const Column& column = p->columns[c];
        columns.append(py::make_tuple(column.name, column.unit, dtype_name(column.type),
                                      column.format, column.blanks_before,
                                      column.unit_in_heading));
    }
    return columns;
}

py::list product_names()
{
    py::list names;
    for (const ProductDescription* p : kProductDescriptions)
        names.append(p->name);
    return names;
}

}  // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The conversion's values as numpy arrays (see the l2xml2ascii package).";
    m.attr("__version__") = L2_VERSION;
    m.def("convert", &convert, py::arg("path"), py::arg("header"), py::arg("products"),
          "Converts one file without the GIL: (tables, messages, failures).");
    m.def("schema", &product_schema, py::arg("product"),
          "A product's columns: (name, unit, dtype, format, blanks_before, unit_in_heading).");
    m.def("products", &product_names, "The product names, in the converter's order.");
    py::class_<BlockStream>(m, "BlockStream")
        .def(py::init<const std::string&, const std::optional<std::string>&,
                      const std::optional<std::vector<std::string>>&, std::size_t,
                      std::size_t>(),
             py::arg("path"), py::arg("header"), py::arg("products"), py::arg("block_records"),
             py::arg("queue_blocks") = 2)
        .def("next", &BlockStream::next)
        .def("outcome", &BlockStream::outcome)
        .def("close", &BlockStream::close);
}
