#include "rootio/ntuple/field_values.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "rootio/format/error.h"
#include "rootio/ntuple/page_decoder.h"

namespace rootio::ntuple {

enum class NodeKind { Scalar, String, Collection, Optional, Array, Bitset, Record, Variant, Cardinality, Wrapper };
enum class ScalarKind { Bool, Signed, Unsigned, Real32, Real64 };

struct ValueNode {
    NodeKind kind = NodeKind::Scalar;
    ScalarKind scalar = ScalarKind::Signed;
    const FieldDescriptor* field = nullptr;
    std::string path;
    uint64_t repeat = 0;             // Array, Bitset
    uint64_t repetitions_above = 1;  // product of the array sizes between it and the entry
    bool under_collection = false;
    std::vector<std::unique_ptr<ValueNode>> children;
    std::vector<std::string> keys;  // Record
    size_t column_count = 0;

    // The current cluster's columns, set by EntryReader::enter_cluster.
    std::vector<const ColumnData*> cols;
    std::vector<uint64_t> zero_prefix;
    std::vector<bool> zeros_only;
};

namespace {

// Whatever a file holds, a collection of columnless elements (empty classes) is not
// allowed to expand beyond this many elements per file byte.
constexpr uint64_t kEmptyElementsPerFileByte = 16;

struct Access {
    const NtupleReader& reader;
    uint64_t entry;
    size_t cluster;

    [[noreturn]] void damage(const ValueNode& n, const std::string& what) const
    {
        fail(reader.context(), "field " + n.path, "entry " + std::to_string(entry) + ": " + what);
    }
};

bool is_signed_type(std::string_view t)
{
    return t == "char" || t == "std::int8_t" || t == "std::int16_t" || t == "std::int32_t" || t == "std::int64_t";
}
bool is_unsigned_type(std::string_view t)
{
    return t == "std::byte" || t == "std::uint8_t" || t == "std::uint16_t" || t == "std::uint32_t" ||
           t == "std::uint64_t";
}

std::optional<ScalarKind> scalar_of_type(std::string_view t)
{
    if (t == "bool") return ScalarKind::Bool;
    if (is_signed_type(t)) return ScalarKind::Signed;
    if (is_unsigned_type(t)) return ScalarKind::Unsigned;
    if (t == "float") return ScalarKind::Real32;
    if (t == "double") return ScalarKind::Real64;
    return std::nullopt;
}

ScalarKind scalar_of_column(const ColumnTypeInfo& info)
{
    switch (info.kind) {
    case ValueKind::Bool: return ScalarKind::Bool;
    case ValueKind::Int:
    case ValueKind::Char: return ScalarKind::Signed;
    case ValueKind::Real: return info.memory_bytes == 8 && info.type != ColumnType::Real32Trunc &&
                                         info.type != ColumnType::Real32Quant
                                     ? ScalarKind::Real64
                                     : ScalarKind::Real32;
    default: return ScalarKind::Unsigned;
    }
}

bool column_fits(ScalarKind s, const ColumnTypeInfo& info)
{
    const bool real = info.kind == ValueKind::Real;
    if (s == ScalarKind::Real32 || s == ScalarKind::Real64) return real;
    return !real && info.kind != ValueKind::Switch;
}

bool is_index(ColumnType t)
{
    return column_type_info(t).kind == ValueKind::Index;
}

struct Builder {
    const Descriptor& d;
    std::string why;

    [[noreturn]] void refuse(const FieldDescriptor& f, const std::string& what)
    {
        throw RootError("field " + d.field_path(f.id) + ": " + what);
    }

    std::vector<uint32_t> columns(const FieldDescriptor& f) const
    {
        return f.representations.empty() ? std::vector<uint32_t>{} : f.representations.front();
    }

    void need_columns(const FieldDescriptor& f, size_t n, const char* what)
    {
        if (columns(f).size() != n)
            refuse(f, std::string(what) + " with " + std::to_string(columns(f).size()) + " columns");
    }
    void need_index(const FieldDescriptor& f, size_t k)
    {
        if (!is_index(d.columns[columns(f)[k]].type))
            refuse(f, "column " + std::to_string(k) + " is " + std::string(d.columns[columns(f)[k]].info().name) +
                          ", not an index column");
    }
    void need_children(const FieldDescriptor& f, size_t n, const char* what)
    {
        if (f.children.size() != n)
            refuse(f, std::string(what) + " with " + std::to_string(f.children.size()) + " subfields");
    }

    std::unique_ptr<ValueNode> build(uint32_t id, uint64_t reps_above, bool under_collection)
    {
        const FieldDescriptor& f = d.fields[id];
        auto n = std::make_unique<ValueNode>();
        n->field = &f;
        n->path = d.field_path(id);
        n->repetitions_above = reps_above;
        n->under_collection = under_collection;
        const std::string_view t = f.type_name;
        auto child = [&](size_t k, uint64_t reps, bool coll) {
            n->children.push_back(build(f.children[k], reps, coll));
        };
        if (f.role == FieldRole::Streamer) refuse(f, "ROOT-streamed objects are not supported");
        if (t.starts_with(kCardinalityTypePrefix)) {
            need_columns(f, 1, "a cardinality field");
            need_index(f, 0);
            n->kind = NodeKind::Cardinality;
        } else if (t == "std::string") {
            need_columns(f, 2, "a string");
            need_index(f, 0);
            n->kind = NodeKind::String;
        } else if (f.role == FieldRole::Collection) {
            need_columns(f, 1, "a collection");
            need_index(f, 0);
            need_children(f, 1, "a collection");
            n->kind = t.starts_with("std::optional<") || t.starts_with("std::unique_ptr<") ? NodeKind::Optional
                                                                                           : NodeKind::Collection;
            child(0, 1, true);
        } else if (f.role == FieldRole::Variant) {
            need_columns(f, 1, "a variant");
            if (d.columns[columns(f)[0]].type != ColumnType::Switch) refuse(f, "a variant without a switch column");
            if (f.children.empty() || f.children.size() > kMaxVariantAlternatives)
                refuse(f, "a variant of " + std::to_string(f.children.size()) + " alternatives");
            n->kind = NodeKind::Variant;
            for (size_t k = 0; k < f.children.size(); ++k) child(k, 1, true);
        } else if (f.role == FieldRole::Record) {
            n->kind = NodeKind::Record;
            const bool pair = t.starts_with("std::pair<");
            if (pair) need_children(f, 2, "a pair");
            for (size_t k = 0; k < f.children.size(); ++k) {
                n->keys.push_back(pair ? (k == 0 ? "first" : "second") : d.fields[f.children[k]].name);
                child(k, reps_above, under_collection);
            }
        } else if (f.is_repetitive()) {
            n->repeat = f.array_size;
            uint64_t reps = 0;
            if (__builtin_mul_overflow(reps_above, std::max<uint64_t>(f.array_size, 1), &reps))
                refuse(f, "array size " + std::to_string(f.array_size) + " overflows");
            if (!columns(f).empty()) {
                need_columns(f, 1, "a bitset");
                if (d.columns[columns(f)[0]].type != ColumnType::Bit) refuse(f, "a bitset without a bit column");
                n->kind = NodeKind::Bitset;
            } else {
                need_children(f, 1, "an array");
                n->kind = NodeKind::Array;
                child(0, reps, under_collection);
            }
        } else if (columns(f).empty()) {
            // std::atomic<T> and enums: the value is the subfield's.
            need_children(f, 1, "a field without columns");
            n->kind = NodeKind::Wrapper;
            child(0, reps_above, under_collection);
        } else {
            need_columns(f, 1, "a fundamental field");
            const ColumnTypeInfo& info = d.columns[columns(f)[0]].info();
            n->kind = NodeKind::Scalar;
            n->scalar = scalar_of_type(t).value_or(scalar_of_column(info));
            for (const auto& rep : f.representations)
                if (!column_fits(n->scalar, d.columns[rep[0]].info()))
                    refuse(f, "type " + std::string(t) + " stored in a " + std::string(d.columns[rep[0]].info().name) +
                                  " column");
        }
        n->column_count = columns(f).size();
        return n;
    }
};

// Element `i` (cluster-relative) of the node's column `k`, widened.
struct Element {
    const ValueNode& n;
    const Access& a;

    const uint8_t* at(size_t k, uint64_t i, size_t width) const
    {
        if (n.zeros_only[k] || i < n.zero_prefix[k]) return nullptr;
        const ColumnData* c = n.cols[k];
        if (!c) a.damage(n, "column " + std::to_string(k) + " has no pages in cluster " + std::to_string(a.cluster));
        const uint64_t j = i - n.zero_prefix[k];
        if (j >= c->elements)
            a.damage(n, "element " + std::to_string(i) + " lies beyond the " + std::to_string(c->elements) +
                            " elements of cluster " + std::to_string(a.cluster));
        return c->values.data() + j * width;
    }

    ColumnType type(size_t k) const
    {
        return a.reader.descriptor().columns[n.cols[k] ? n.cols[k]->column : 0].type;
    }
    uint64_t count(size_t k) const { return n.cols[k] ? n.cols[k]->elements + n.zero_prefix[k] : 0; }

    int64_t integer(size_t k, uint64_t i) const
    {
        if (!n.cols[k] && (n.zeros_only[k] || i < n.zero_prefix[k])) return 0;
        const ColumnType t = type(k);
        const size_t w = memory_element_size(t);
        const uint8_t* p = at(k, i, w);
        if (!p) return 0;
        const bool sign = column_type_info(t).is_signed;
        switch (w) {
        case 1: return sign ? int64_t(int8_t(*p)) : int64_t(*p);
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return sign ? int64_t(int16_t(v)) : int64_t(v);
        }
        case 4: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return sign ? int64_t(int32_t(v)) : int64_t(v);
        }
        default: {
            int64_t v;
            std::memcpy(&v, p, 8);
            return v;
        }
        }
    }
    double real(size_t k, uint64_t i) const
    {
        if (!n.cols[k] && (n.zeros_only[k] || i < n.zero_prefix[k])) return 0;
        const ColumnType t = type(k);
        const size_t w = memory_element_size(t);
        const uint8_t* p = at(k, i, w);
        if (!p) return 0;
        if (w == 4) {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        double v;
        std::memcpy(&v, p, 8);
        return v;
    }
    SwitchElement switch_element(size_t k, uint64_t i) const
    {
        if (!n.cols[k] && (n.zeros_only[k] || i < n.zero_prefix[k])) return {};
        const uint8_t* p = at(k, i, sizeof(SwitchElement));
        SwitchElement s;
        if (p) std::memcpy(&s, p, sizeof s);
        return s;
    }
    // [begin, end) of collection element i from its index column.
    std::pair<uint64_t, uint64_t> range(uint64_t i) const
    {
        const uint64_t begin = i == 0 ? 0 : static_cast<uint64_t>(integer(0, i - 1));
        const uint64_t end = static_cast<uint64_t>(integer(0, i));
        if (end < begin)
            a.damage(n, "collection offsets go backwards (" + std::to_string(begin) + " to " + std::to_string(end) + ")");
        return {begin, end};
    }
};

// Most elements a columnless subtree may be asked for (an empty class has no column to
// bound it).
uint64_t empty_limit(const Access& a)
{
    return static_cast<uint64_t>(a.reader.file().size()) * kEmptyElementsPerFileByte;
}

void read_node(const ValueNode& n, uint64_t i, const Access& a, ValueSink& sink);

void read_elements(const ValueNode& child, uint64_t begin, uint64_t end, const Access& a, ValueSink& sink)
{
    if (child.column_count == 0 && end - begin > empty_limit(a))
        a.damage(child, "claims " + std::to_string(end - begin) + " elements");
    sink.begin_array();
    for (uint64_t j = begin; j < end; ++j) read_node(child, j, a, sink);
    sink.end_array();
}

void read_node(const ValueNode& n, uint64_t i, const Access& a, ValueSink& sink)
{
    const Element e{n, a};
    switch (n.kind) {
    case NodeKind::Scalar:
        switch (n.scalar) {
        case ScalarKind::Bool: sink.boolean(e.integer(0, i) != 0); break;
        case ScalarKind::Signed: sink.signed_integer(e.integer(0, i)); break;
        case ScalarKind::Unsigned: sink.unsigned_integer(static_cast<uint64_t>(e.integer(0, i))); break;
        case ScalarKind::Real32: sink.real32(static_cast<float>(e.real(0, i))); break;
        case ScalarKind::Real64: sink.real64(e.real(0, i)); break;
        }
        break;
    case NodeKind::Cardinality: {
        const auto [begin, end] = e.range(i);
        sink.unsigned_integer(end - begin);
        break;
    }
    case NodeKind::String: {
        const auto [begin, end] = e.range(i);
        if (end > e.count(1))
            a.damage(n, "string ends at character " + std::to_string(end) + " of " + std::to_string(e.count(1)));
        const ColumnData* chars = n.cols[1];
        if (chars && n.zero_prefix[1] == 0 && memory_element_size(e.type(1)) == 1) {
            // One byte per character: the string is in the column as it is.
            sink.string({reinterpret_cast<const char*>(chars->values.data() + begin), static_cast<size_t>(end - begin)});
            break;
        }
        std::string s;
        s.reserve(static_cast<size_t>(end - begin));
        for (uint64_t j = begin; j < end; ++j) s += static_cast<char>(e.integer(1, j));
        sink.string(s);
        break;
    }
    case NodeKind::Collection: {
        const auto [begin, end] = e.range(i);
        read_elements(*n.children[0], begin, end, a, sink);
        break;
    }
    case NodeKind::Optional: {
        const auto [begin, end] = e.range(i);
        if (end - begin > 1) a.damage(n, "an optional value holding " + std::to_string(end - begin) + " values");
        if (end == begin)
            sink.null_value();
        else
            read_node(*n.children[0], begin, a, sink);
        break;
    }
    case NodeKind::Array: {
        uint64_t begin = 0;
        if (__builtin_mul_overflow(i, n.repeat, &begin) || begin + n.repeat < begin)
            a.damage(n, "array index overflows");
        read_elements(*n.children[0], begin, begin + n.repeat, a, sink);
        break;
    }
    case NodeKind::Bitset: {
        uint64_t begin = 0;
        if (__builtin_mul_overflow(i, n.repeat, &begin) || n.repeat > empty_limit(a))
            a.damage(n, "bitset of " + std::to_string(n.repeat) + " bits");
        sink.begin_array();
        for (uint64_t j = 0; j < n.repeat; ++j) sink.boolean(e.integer(0, begin + j) != 0);
        sink.end_array();
        break;
    }
    case NodeKind::Record:
        sink.begin_record();
        for (size_t k = 0; k < n.children.size(); ++k) {
            sink.key(n.keys[k]);
            read_node(*n.children[k], i, a, sink);
        }
        sink.end_record();
        break;
    case NodeKind::Variant: {
        const SwitchElement s = e.switch_element(0, i);
        if (s.tag == 0)
            sink.null_value();
        else if (s.tag > n.children.size())
            a.damage(n, "variant tag " + std::to_string(s.tag) + " of " + std::to_string(n.children.size()) +
                            " alternatives");
        else
            read_node(*n.children[s.tag - 1], s.index, a, sink);
        break;
    }
    case NodeKind::Wrapper: read_node(*n.children[0], i, a, sink); break;
    }
}

// Points every node at its columns in `cluster`, listing what must be loaded.
void bind(ValueNode& n, const Descriptor& d, size_t cluster, std::vector<uint32_t>* wanted, const ClusterCache* cache)
{
    n.cols.assign(n.column_count, nullptr);
    n.zero_prefix.assign(n.column_count, 0);
    n.zeros_only.assign(n.column_count, false);
    const ClusterDescriptor& c = d.clusters[cluster];
    for (size_t k = 0; k < n.column_count; ++k) {
        const auto col = active_column(d, *n.field, cluster, k);
        const uint32_t first = n.field->representations.front()[k];
        if (!col) {
            // A column added later (header extension) reads as zeros where it has no pages.
            n.zeros_only[k] = d.columns[first].is_deferred();
            continue;
        }
        if (wanted) wanted->push_back(*col);
        if (cache) n.cols[k] = cache->find(*col);
        const ColumnDescriptor& cd = d.columns[*col];
        if (cd.is_deferred() && !n.under_collection) {
            const uint64_t start = c.first_entry * n.repetitions_above;
            const int64_t first_element = c.columns[*col].first_element;
            if (first_element > 0 && static_cast<uint64_t>(first_element) > start)
                n.zero_prefix[k] = static_cast<uint64_t>(first_element) - start;
        }
    }
    for (auto& ch : n.children) bind(*ch, d, cluster, wanted, cache);
}

}  // namespace

EntryReader::EntryReader(const NtupleReader& reader, std::span<const uint32_t> fields) : reader_(reader), cache_(reader)
{
    const Descriptor& d = reader.descriptor();
    for (uint32_t id : fields) {
        Builder b{d, {}};
        try {
            roots_.push_back(b.build(id, 1, false));
        } catch (const RootError& e) {
            fail(reader.context(), "", e.what());
        }
    }
}

EntryReader::~EntryReader() = default;

bool EntryReader::readable(const Descriptor& d, uint32_t field, std::string* why)
{
    try {
        Builder b{d, {}};
        b.build(field, 1, false);
        return true;
    } catch (const RootError& e) {
        if (why) *why = e.what();
        return false;
    }
}

void EntryReader::enter_cluster(size_t cluster)
{
    const Descriptor& d = reader_.descriptor();
    std::vector<uint32_t> wanted;
    for (auto& r : roots_) bind(*r, d, cluster, &wanted, nullptr);
    cache_.load(cluster, wanted);
    for (auto& r : roots_) bind(*r, d, cluster, nullptr, &cache_);
    have_cluster_ = true;
    cluster_ = cluster;
}

void EntryReader::read(uint64_t entry, size_t k, ValueSink& sink)
{
    const Descriptor& d = reader_.descriptor();
    if (entry >= d.entries) fail(reader_.context(), "", "no entry " + std::to_string(entry));
    const size_t cluster = d.cluster_of(entry);
    if (!have_cluster_ || cluster != cluster_) {
        have_cluster_ = false;
        try {
            enter_cluster(cluster);
        } catch (const RootError& e) {
            throw RootError(std::string(e.what()) + " (reading entry " + std::to_string(entry) + ")");
        }
    }
    const Access a{reader_, entry, cluster};
    read_node(*roots_.at(k), entry - d.clusters[cluster].first_entry, a, sink);
}

}  // namespace rootio::ntuple
