#include "rootio/ntuple/ntuple_writer.h"

#include <algorithm>
#include <cstring>

#include "rootio/codec/compression.h"
#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/column_encoding.h"
#include "rootio/ntuple/metadata_writer.h"
#include "rootio/ntuple/blob_chunks.h"
#include "rootio/ntuple/page_sink.h"
#include "rootio/parallel/threads.h"

namespace rootio::ntuple {

namespace {

// Big-endian elements of sizeof(U) bytes as native ones.
template <class U>
void native_from_be(const uint8_t* in, uint64_t n, uint8_t* out)
{
    for (uint64_t i = 0; i < n; ++i) {
        const U v = load_be<U>(in + i * sizeof(U));
        std::memcpy(out + i * sizeof(U), &v, sizeof(U));
    }
}

constexpr std::string_view kWriterName = "eventskim";

ColumnType value_column_type(LeafType t, bool split)
{
    switch (t) {
    case LeafType::Bool: return ColumnType::Bit;
    case LeafType::Int8: return ColumnType::Int8;
    case LeafType::UInt8: return ColumnType::UInt8;
    case LeafType::Int16: return split ? ColumnType::SplitInt16 : ColumnType::Int16;
    case LeafType::UInt16: return split ? ColumnType::SplitUInt16 : ColumnType::UInt16;
    case LeafType::Int32: return split ? ColumnType::SplitInt32 : ColumnType::Int32;
    case LeafType::UInt32: return split ? ColumnType::SplitUInt32 : ColumnType::UInt32;
    case LeafType::Int64: return split ? ColumnType::SplitInt64 : ColumnType::Int64;
    case LeafType::UInt64: return split ? ColumnType::SplitUInt64 : ColumnType::UInt64;
    case LeafType::Float: return split ? ColumnType::SplitReal32 : ColumnType::Real32;
    case LeafType::Double: return split ? ColumnType::SplitReal64 : ColumnType::Real64;
    }
    return ColumnType::Byte;
}

struct ColumnBuffer {
    ColumnType type;
    uint32_t element_size;      // in memory
    uint64_t page_capacity;     // elements per page
    std::vector<uint8_t> page;  // the open page's elements, in memory form
    uint64_t page_elements = 0;
    uint64_t cluster_elements = 0;
    uint64_t elements_before = 0;  // in earlier clusters
    std::vector<uint32_t> cluster_pages{};
};

enum class SlotKind { Fundamental, String, Vector, CollectionSize, Member };

struct SlotState {
    SlotKind kind;
    LeafType type = LeafType::UInt8;
    std::string name;
    int value_column = -1;
    int index_column = -1;
    int collection = -1;          // Member: the slot of its collection's size
    uint64_t cluster_items = 0;   // String, Vector, CollectionSize: elements so far in the cluster
    uint64_t given = 0;           // elements set for the current entry
    bool set = false;
};

}  // namespace

std::string_view fundamental_type_name(LeafType type)
{
    switch (type) {
    case LeafType::Bool: return "bool";
    case LeafType::Int8: return "std::int8_t";
    case LeafType::UInt8: return "std::uint8_t";
    case LeafType::Int16: return "std::int16_t";
    case LeafType::UInt16: return "std::uint16_t";
    case LeafType::Int32: return "std::int32_t";
    case LeafType::UInt32: return "std::uint32_t";
    case LeafType::Int64: return "std::int64_t";
    case LeafType::UInt64: return "std::uint64_t";
    case LeafType::Float: return "float";
    case LeafType::Double: return "double";
    }
    return "";
}

struct NTupleWriter::State {
    FileWriter& file;
    std::string name;
    WriteOptions options;
    int compression;
    bool split;
    Schema schema;
    std::vector<ColumnBuffer> columns;
    std::vector<SlotState> slots;
    std::unique_ptr<PageSink> sink;
    std::vector<ClusterRecord> clusters;
    uint64_t entries = 0, cluster_first = 0;
    size_t cluster_bytes = 0;
    bool header_written = false, written = false, failed = false;
    EnvelopeLocation header;
    uint64_t header_checksum = 0;
    Compressor compressor;
    std::vector<uint8_t> envelope, zipped, scratch;

    State(FileWriter& f, std::string n, WriteOptions o)
        : file(f),
          name(std::move(n)),
          options(std::move(o)),
          compression(options.compression < 0 ? f.compression() : options.compression),
          split(compression % 100 != 0),
          compressor(compression)
    {
        if (name.empty()) fail(file.path(), "RNTuple", "an RNTuple needs a name");
        if (options.page_bytes == 0) fail(file.path(), printable(name), "page size of 0 bytes");
    }

    [[noreturn]] void refuse(const std::string& what)
    {
        failed = true;
        fail(file.path(), "RNTuple " + printable(name), what);
    }

    void check_usable()
    {
        if (failed) fail(file.path(), "RNTuple " + printable(name), "writer unusable after an earlier error");
        if (written) fail(file.path(), "RNTuple " + printable(name), "already written");
    }

    uint32_t add_field(SchemaField f, bool top_level)
    {
        check_usable();
        if (header_written) refuse("field " + printable(f.name) + " added after the first entry");
        if (f.name.empty()) refuse("a field needs a name");
        const auto id = static_cast<uint32_t>(schema.fields.size());
        if (top_level) {
            f.parent = id;
            for (uint32_t i = 0; i < id; ++i)
                if (schema.fields[i].parent == i && schema.fields[i].name == f.name)
                    refuse("two top-level fields named " + printable(f.name));
        }
        schema.fields.push_back(std::move(f));
        return id;
    }

    int add_column(ColumnType type, uint32_t field)
    {
        schema.columns.push_back({type, field});
        ColumnBuffer c{type, unencoded_element_size(type), 0, {}, 0, 0, 0, {}};
        // Bits are packed eight to a byte: a page of them holds eight times the elements.
        c.page_capacity = std::max<uint64_t>(1, options.page_bytes / c.element_size) * (type == ColumnType::Bit ? 8 : 1);
        c.page.reserve(c.page_capacity * c.element_size);
        columns.push_back(std::move(c));
        return static_cast<int>(columns.size() - 1);
    }

    int add_slot(SlotState s)
    {
        slots.push_back(std::move(s));
        return static_cast<int>(slots.size() - 1);
    }

    void start_data()
    {
        if (header_written) return;
        check_usable();
        sink = std::make_unique<PageSink>(file, compression, options.threads > 0 ? options.threads : thread_count(),
                                          options.max_key_size);
        header_checksum = serialize_header(envelope, name, options.description, kWriterName, schema);
        header = write_envelope();
        header_written = true;
    }

    // The envelope in `envelope`, compressed with the RNTuple's setting when that pays.
    EnvelopeLocation write_envelope()
    {
        const bool zip = compressor.compress(envelope, zipped);
        const std::span<const uint8_t> stored = zip ? std::span<const uint8_t>(zipped) : envelope;
        const int64_t offset =
            write_chunked_blob(file, stored, {}, static_cast<int64_t>(envelope.size()), options.max_key_size);
        return {static_cast<uint64_t>(offset), stored.size(), envelope.size()};
    }

    void seal(int column)
    {
        ColumnBuffer& c = columns[static_cast<size_t>(column)];
        if (c.page_elements == 0) return;
        c.cluster_pages.push_back(
            static_cast<uint32_t>(sink->seal(static_cast<uint32_t>(column), c.type, c.page, c.page_elements)));
        c.page.clear();
        c.page_elements = 0;
    }

    // Appends `count` elements of `size` bytes (native or big-endian) to a column, sealing
    // pages as they fill.
    void push(int column, const uint8_t* data, uint64_t count, size_t size, bool big_endian)
    {
        ColumnBuffer& c = columns[static_cast<size_t>(column)];
        cluster_bytes += count * size;
        while (count > 0) {
            const uint64_t n = std::min(count, c.page_capacity - c.page_elements);
            const size_t at = c.page.size();
            c.page.resize(at + n * size);
            uint8_t* dst = c.page.data() + at;
            if (big_endian && size > 1) {
                switch (size) {
                case 2: native_from_be<uint16_t>(data, n, dst); break;
                case 4: native_from_be<uint32_t>(data, n, dst); break;
                default: native_from_be<uint64_t>(data, n, dst); break;
                }
            } else {
                std::memcpy(dst, data, n * size);
            }
            if (c.type == ColumnType::Bit)
                for (uint64_t i = 0; i < n; ++i) dst[i] = dst[i] != 0;
            c.page_elements += n;
            c.cluster_elements += n;
            data += n * size;
            count -= n;
            if (c.page_elements == c.page_capacity) seal(column);
        }
    }

    void push_index(int column, uint64_t value)
    {
        push(column, reinterpret_cast<const uint8_t*>(&value), 1, sizeof value, false);
    }

    SlotState& slot(Slot s)
    {
        check_usable();
        if (s.index < 0 || static_cast<size_t>(s.index) >= slots.size()) refuse("no such field");
        return slots[static_cast<size_t>(s.index)];
    }

    void mark_set(SlotState& s)
    {
        if (s.set) refuse("field " + printable(s.name) + " set twice in entry " + std::to_string(entries));
        s.set = true;
    }

    void commit_cluster()
    {
        if (entries == cluster_first) return;
        ClusterRecord record{cluster_first, entries - cluster_first, {}, {}};
        record.element_offset.reserve(columns.size());
        record.pages.reserve(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            seal(static_cast<int>(i));
            ColumnBuffer& c = columns[i];
            record.element_offset.push_back(c.elements_before);
            record.pages.push_back(std::move(c.cluster_pages));
            c.cluster_pages.clear();
            c.elements_before += c.cluster_elements;
            c.cluster_elements = 0;
        }
        for (SlotState& s : slots) s.cluster_items = 0;
        clusters.push_back(std::move(record));
        cluster_first = entries;
        cluster_bytes = 0;
    }
};

NTupleWriter::NTupleWriter(FileWriter& file, std::string name, WriteOptions options)
    : state_(std::make_unique<State>(file, std::move(name), std::move(options)))
{
}

NTupleWriter::~NTupleWriter() = default;

NTupleWriter::Slot NTupleWriter::add_fundamental(const std::string& name, LeafType type)
{
    State& st = *state_;
    const uint32_t field = st.add_field({0, FieldRole::Leaf, 0, name, std::string(fundamental_type_name(type)), 0}, true);
    const int column = st.add_column(value_column_type(type, st.split), field);
    return {st.add_slot({SlotKind::Fundamental, type, name, column})};
}

NTupleWriter::Slot NTupleWriter::add_string(const std::string& name)
{
    State& st = *state_;
    const uint32_t field = st.add_field({0, FieldRole::Leaf, 0, name, "std::string", 0}, true);
    const int index = st.add_column(st.split ? ColumnType::SplitIndex64 : ColumnType::Index64, field);
    const int chars = st.add_column(ColumnType::Char, field);
    return {st.add_slot({SlotKind::String, LeafType::UInt8, name, chars, index})};
}

NTupleWriter::Slot NTupleWriter::add_vector(const std::string& name, LeafType type, bool rvec)
{
    State& st = *state_;
    const std::string element(fundamental_type_name(type));
    const std::string type_name = (rvec ? "ROOT::VecOps::RVec<" : "std::vector<") + element + ">";
    const uint32_t field = st.add_field({0, FieldRole::Collection, 0, name, type_name, 0}, true);
    const int index = st.add_column(st.split ? ColumnType::SplitIndex64 : ColumnType::Index64, field);
    const uint32_t child = st.add_field({field, FieldRole::Leaf, 0, "_0", element, 0}, false);
    const int values = st.add_column(value_column_type(type, st.split), child);
    return {st.add_slot({SlotKind::Vector, type, name, values, index})};
}

NTupleWriter::Collection NTupleWriter::add_collection(const std::string& name)
{
    State& st = *state_;
    const uint32_t field = st.add_field({0, FieldRole::Collection, 0, name, "", 0}, true);
    const int index = st.add_column(st.split ? ColumnType::SplitIndex64 : ColumnType::Index64, field);
    st.add_field({field, FieldRole::Record, 0, "_0", "", 0}, false);
    return {st.add_slot({SlotKind::CollectionSize, LeafType::UInt64, name, -1, index}), field};
}

NTupleWriter::Slot NTupleWriter::add_member(const Collection& collection, const std::string& name, LeafType type)
{
    State& st = *state_;
    const uint32_t record = collection.field + 1;  // the "_0" record follows its collection
    if (collection.slot < 0 || record >= st.schema.fields.size() || st.schema.fields[record].parent != collection.field)
        st.refuse("member " + printable(name) + " of no collection");
    for (const SchemaField& f : st.schema.fields)
        if (f.parent == record && f.name == name && &f != &st.schema.fields[record])
            st.refuse("two members named " + printable(name));
    const uint32_t field =
        st.add_field({record, FieldRole::Leaf, 0, name, std::string(fundamental_type_name(type)), 0}, false);
    const int column = st.add_column(value_column_type(type, st.split), field);
    SlotState s{SlotKind::Member, type, name, column};
    s.collection = collection.slot;
    return {st.add_slot(std::move(s))};
}

void NTupleWriter::add_projected_rvec(const std::string& name, const Collection& collection, const Slot& member)
{
    State& st = *state_;
    const SlotState& m = st.slot(member);
    if (m.kind != SlotKind::Member || m.collection != collection.slot)
        st.refuse("projected field " + printable(name) + " of a field that is no member of the collection");
    const std::string element(fundamental_type_name(m.type));
    const uint32_t member_field = st.schema.columns[static_cast<size_t>(m.value_column)].field;
    const auto collection_column =
        static_cast<uint32_t>(st.slots[static_cast<size_t>(collection.slot)].index_column);
    const auto member_column = static_cast<uint32_t>(m.value_column);
    const uint32_t field = st.add_field({0, FieldRole::Collection, field_flags::kProjected, name,
                                         "ROOT::VecOps::RVec<" + element + ">", collection.field},
                                        true);
    const uint32_t child =
        st.add_field({field, FieldRole::Leaf, field_flags::kProjected, "_0", element, member_field}, false);
    st.schema.aliases.push_back({collection_column, field});
    st.schema.aliases.push_back({member_column, child});
}

void NTupleWriter::add_cardinality(const std::string& name, const Collection& collection, bool wide)
{
    State& st = *state_;
    if (collection.slot < 0 || static_cast<size_t>(collection.slot) >= st.slots.size() ||
        st.slots[static_cast<size_t>(collection.slot)].kind != SlotKind::CollectionSize)
        st.refuse("cardinality field " + printable(name) + " of no collection");
    const auto collection_column =
        static_cast<uint32_t>(st.slots[static_cast<size_t>(collection.slot)].index_column);
    const uint32_t field = st.add_field(
        {0, FieldRole::Leaf, field_flags::kProjected, name,
         wide ? "ROOT::RNTupleCardinality<std::uint64_t>" : "ROOT::RNTupleCardinality<std::uint32_t>",
         collection.field},
        true);
    st.schema.aliases.push_back({collection_column, field});
}

void NTupleWriter::append(Slot slot, const uint8_t* data, size_t count, size_t size, bool big_endian)
{
    State& st = *state_;
    SlotState& s = st.slot(slot);
    if (s.kind == SlotKind::String || s.kind == SlotKind::CollectionSize) st.refuse("field " + printable(s.name) + " takes no values");
    if (size != static_cast<size_t>(leaf_type_size(s.type)))
        st.refuse("field " + printable(s.name) + " given values of another size");
    if (s.kind == SlotKind::Fundamental && count != 1)
        st.refuse("field " + printable(s.name) + " given " + std::to_string(count) + " values in entry " +
                  std::to_string(st.entries));
    if (s.kind != SlotKind::Member) st.mark_set(s);
    st.start_data();
    st.push(s.value_column, data, count, size, big_endian);
    if (s.kind == SlotKind::Vector) {
        s.cluster_items += count;
        st.push_index(s.index_column, s.cluster_items);
    }
    s.given += count;
}

void NTupleWriter::set_values_be(Slot slot, std::span<const uint8_t> be)
{
    State& st = *state_;
    const size_t size = static_cast<size_t>(leaf_type_size(st.slot(slot).type));
    if (be.size() % size != 0) st.refuse("field " + printable(st.slot(slot).name) + " given a partial element");
    append(slot, be.data(), be.size() / size, size, true);
}

void NTupleWriter::set_string(Slot slot, std::string_view text)
{
    State& st = *state_;
    SlotState& s = st.slot(slot);
    if (s.kind != SlotKind::String) st.refuse("field " + printable(s.name) + " is no string");
    st.mark_set(s);
    st.start_data();
    st.push(s.value_column, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1, false);
    s.cluster_items += text.size();
    st.push_index(s.index_column, s.cluster_items);
}

void NTupleWriter::set_size(const Collection& collection, uint64_t size)
{
    State& st = *state_;
    SlotState& s = st.slot({collection.slot});
    if (s.kind != SlotKind::CollectionSize) st.refuse("no such collection");
    st.mark_set(s);
    st.start_data();
    s.given = size;
    s.cluster_items += size;
    st.push_index(s.index_column, s.cluster_items);
}

void NTupleWriter::fill()
{
    State& st = *state_;
    st.check_usable();
    st.start_data();
    for (SlotState& s : st.slots) {
        if (s.kind == SlotKind::Member) {
            const SlotState& c = st.slots[static_cast<size_t>(s.collection)];
            if (!c.set || s.given != c.given)
                st.refuse("member " + printable(s.name) + " given " + std::to_string(s.given) +
                          " values for a collection of " + std::to_string(c.set ? c.given : 0) + " in entry " +
                          std::to_string(st.entries));
        } else if (!s.set) {
            st.refuse("field " + printable(s.name) + " not set in entry " + std::to_string(st.entries));
        }
    }
    for (SlotState& s : st.slots) {
        s.set = false;
        s.given = 0;
    }
    ++st.entries;
    if (st.cluster_bytes >= st.options.cluster_bytes) st.commit_cluster();
}

uint64_t NTupleWriter::entries() const { return state_->entries; }

void NTupleWriter::commit_cluster()
{
    state_->check_usable();
    state_->commit_cluster();
}

void NTupleWriter::write()
{
    State& st = *state_;
    st.check_usable();
    for (const SlotState& s : st.slots)
        if (s.set || s.given) st.refuse("entry " + std::to_string(st.entries) + " set but not filled");
    st.start_data();
    st.commit_cluster();
    st.sink->flush();

    serialize_page_list(st.envelope, st.header_checksum, st.clusters, st.sink->pages(), st.compression);
    const EnvelopeLocation page_list = st.write_envelope();
    serialize_footer(st.envelope, st.header_checksum, st.entries, static_cast<uint32_t>(st.clusters.size()), page_list);
    const EnvelopeLocation footer = st.write_envelope();
    st.file.write_object("ROOT::RNTuple", st.name, "", [&](ByteWriter& out, int) {
        stream_anchor(out, st.header, footer, st.options.max_key_size);
    });
    st.written = true;
}

}  // namespace rootio::ntuple
