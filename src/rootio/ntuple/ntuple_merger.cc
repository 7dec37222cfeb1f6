#include "rootio/ntuple/ntuple_merger.h"

#include <sys/stat.h>

#include <memory>
#include <vector>

#include "rootio/codec/compression.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/blob_chunks.h"
#include "rootio/ntuple/envelope_writer.h"
#include "rootio/ntuple/metadata_writer.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace rootio::ntuple {

namespace {

constexpr uint64_t kMaxKeySize = uint64_t{1} << 30;  // as ROOT writes: larger payloads span several records

std::string field_name(const Descriptor& d, uint32_t id)
{
    return "field " + printable(d.field_path(id));
}

template <class T>
std::string differs(const std::string& what, const T& first, const T& other)
{
    return what + " " + std::to_string(other) + " where the first input has " + std::to_string(first);
}

std::string field_difference(const Descriptor& a, const Descriptor& b, uint32_t id)
{
    const FieldDescriptor& f = a.fields[id];
    const FieldDescriptor& g = b.fields[id];
    const std::string name = field_name(a, id);
    if (f.name != g.name) return name + ": named " + printable(g.name) + " in this input";
    if (f.type_name != g.type_name)
        return name + ": type " + printable(g.type_name) + " where the first input has " +
               printable(f.type_name);
    if (f.parent != g.parent || f.children != g.children) return name + ": other subfields";
    if (f.role != g.role) return differs(name + ": role", static_cast<int>(f.role), static_cast<int>(g.role));
    if (f.flags != g.flags) return differs(name + ": flags", f.flags, g.flags);
    if (f.field_version != g.field_version || f.type_version != g.type_version)
        return name + ": another version";
    if (f.array_size != g.array_size) return differs(name + ": array size", f.array_size, g.array_size);
    if (f.projection_source != g.projection_source) return name + ": projected from another field";
    if (f.representations != g.representations) return name + ": other columns";
    return {};
}

std::string column_difference(const Descriptor& a, const Descriptor& b, uint32_t id)
{
    const ColumnDescriptor& c = a.columns[id];
    const ColumnDescriptor& k = b.columns[id];
    const std::string name = field_name(a, c.field) + ": column " + std::to_string(id);
    if (c.type != k.type)
        return name + " of type " + std::string(k.info().name) + " where the first input has " +
               std::string(c.info().name);
    if (c.bits_on_storage != k.bits_on_storage)
        return differs(name + ": bits on storage", c.bits_on_storage, k.bits_on_storage);
    if (c.field != k.field) return name + ": of another field";
    if (c.flags != k.flags || c.representation != k.representation || c.first_element != k.first_element)
        return name + ": another representation";
    if (c.range != k.range) return name + ": another value range";
    return {};
}

// Refuses an RNTuple this merge cannot copy page for page.
void check_mergeable(const NtupleReader& r)
{
    if (r.descriptor().fields.size() != r.header_fields() ||
        r.descriptor().columns.size() != r.header_columns())
        fail(r.context(), "", "fields added in the footer's schema extension are not merged");
    for (const ClusterDescriptor& c : r.descriptor().clusters)
        for (size_t col = 0; col < c.columns.size(); ++col)
            if (c.columns[col].suppressed)
                fail(r.context(), field_name(r.descriptor(), r.descriptor().columns[col].field),
                     "suppressed column ranges are not merged");
}

std::unique_ptr<NtupleReader> open_mergeable(const RootFile& file, std::string_view name)
{
    std::unique_ptr<NtupleReader> r = NtupleReader::open(file, name);
    check_mergeable(*r);
    return r;
}

// Roughly the memory a reader's descriptor takes, for the budget of readers kept from the
// check to the copy.
int64_t approximate_size(const Descriptor& d)
{
    int64_t bytes = static_cast<int64_t>((d.fields.size() + d.columns.size()) * 256);
    for (const ClusterDescriptor& c : d.clusters) {
        bytes += static_cast<int64_t>(c.columns.size() * sizeof(ColumnRange));
        for (const ColumnRange& r : c.columns) bytes += static_cast<int64_t>(r.pages.size() * sizeof(PageDescriptor));
    }
    return bytes;
}

// The merged page list, one record per cluster of every input, and the running element
// offset of every column.
class PageListWriter {
public:
    PageListWriter(std::vector<uint8_t>& out, uint64_t header_checksum, size_t columns)
        : out_(out), header_checksum_(header_checksum), carried_(columns, 0)
    {
    }

    // Records the input's clusters with their pages at `offsets` (page by page, clusters in
    // order, columns in order within each).
    void add_input(const Descriptor& d, std::span<const uint64_t> offsets)
    {
        size_t next = 0;
        for (const ClusterDescriptor& c : d.clusters) {
            Cluster merged{entries_ + c.first_entry, c.entries, {}};
            for (size_t col = 0; col < c.columns.size(); ++col) {
                const ColumnRange& range = c.columns[col];
                Range r{carried_[col] + static_cast<uint64_t>(range.first_element), range.compression, {}};
                for (const PageDescriptor& p : range.pages)
                    r.pages.push_back({p.elements, p.has_checksum, {offsets[next++], p.locator.size}});
                merged.columns.push_back(std::move(r));
            }
            clusters_.push_back(std::move(merged));
        }
        for (size_t col = 0; col < carried_.size(); ++col)
            for (const ClusterDescriptor& c : d.clusters) carried_[col] += c.columns[col].elements;
        entries_ += d.entries;
    }

    uint64_t entries() const { return entries_; }
    size_t clusters() const { return clusters_.size(); }

    void serialize()
    {
        EnvelopeWriter w(out_, EnvelopeType::PageList);
        w.u64(header_checksum_);
        const size_t summaries = w.begin_list(static_cast<uint32_t>(clusters_.size()));
        for (const Cluster& c : clusters_) {
            const size_t rec = w.begin_record();
            w.u64(c.first_entry);
            w.u64(c.entries);
            w.end_frame(rec);
        }
        w.end_frame(summaries);
        const size_t cluster_list = w.begin_list(static_cast<uint32_t>(clusters_.size()));
        for (const Cluster& c : clusters_) {
            const size_t column_list = w.begin_list(static_cast<uint32_t>(c.columns.size()));
            for (const Range& r : c.columns) {
                const size_t page_list = w.begin_list(static_cast<uint32_t>(r.pages.size()));
                for (const PageDescriptor& p : r.pages) {
                    // Negative: a checksum follows the page.
                    w.i32(p.has_checksum ? -static_cast<int32_t>(p.elements)
                                         : static_cast<int32_t>(p.elements));
                    w.locator(p.locator.offset, static_cast<uint32_t>(p.locator.size));
                }
                w.i64(static_cast<int64_t>(r.first_element));
                w.u32(r.compression);
                w.end_frame(page_list);
            }
            w.end_frame(column_list);
        }
        w.end_frame(cluster_list);
        w.finish();
    }

private:
    struct Range {
        uint64_t first_element;
        uint32_t compression;
        std::vector<PageDescriptor> pages;
    };
    struct Cluster {
        uint64_t first_entry, entries;
        std::vector<Range> columns;
    };

    std::vector<uint8_t>& out_;
    uint64_t header_checksum_;
    std::vector<uint64_t> carried_;
    uint64_t entries_ = 0;
    std::vector<Cluster> clusters_;
};

// Writes `envelope`, compressed with the file's setting when that pays.
EnvelopeLocation write_envelope(FileWriter& out, Compressor& compressor, const std::vector<uint8_t>& envelope,
                                std::vector<uint8_t>& zipped)
{
    const bool zip = compressor.compress(envelope, zipped);
    const std::span<const uint8_t> stored = zip ? std::span<const uint8_t>(zipped) : envelope;
    const int64_t offset = write_chunked_blob(out, stored, {}, static_cast<int64_t>(envelope.size()), kMaxKeySize);
    return {static_cast<uint64_t>(offset), stored.size(), envelope.size()};
}

}  // namespace

std::string first_structure_difference(const Descriptor& a, const Descriptor& b)
{
    if (a.top_level.size() != b.top_level.size())
        return differs("top-level fields", a.top_level.size(), b.top_level.size());
    if (a.fields.size() != b.fields.size()) return differs("fields", a.fields.size(), b.fields.size());
    for (uint32_t id = 0; id < a.fields.size(); ++id)
        if (std::string d = field_difference(a, b, id); !d.empty()) return d;
    if (a.columns.size() != b.columns.size()) return differs("columns", a.columns.size(), b.columns.size());
    for (uint32_t id = 0; id < a.columns.size(); ++id)
        if (std::string d = column_difference(a, b, id); !d.empty()) return d;
    if (a.alias_columns != b.alias_columns) return "other alias columns";
    return {};
}

NtupleMergeCounts merge_ntuples(const std::string& output, std::span<const std::string> inputs,
                                std::string_view name)
{
    MergeInputs opened(inputs);
    return merge_ntuples(output, opened, name);
}

NtupleMergeCounts merge_ntuples(const std::string& output, MergeInputs& inputs, std::string_view name,
                                int64_t kept_readers_bytes)
{
    if (inputs.size() == 0) fail(output, "", "no input files to merge");
    struct stat out_sb {};
    const bool output_exists = ::stat(output.c_str(), &out_sb) == 0;

    // First pass: every input readable and of the first one's structure. The readers are
    // kept for the copy, with their files, up to a memory budget; past it they are read
    // again (and checked again).
    std::vector<std::unique_ptr<NtupleReader>> readers(inputs.size());
    int64_t kept_bytes = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        struct stat sb {};
        if (output_exists && ::stat(inputs.path(i).c_str(), &sb) == 0 && sb.st_dev == out_sb.st_dev &&
            sb.st_ino == out_sb.st_ino)
            fail(inputs.path(i), "", "is also the output");
        std::unique_ptr<NtupleReader> in = open_mergeable(inputs.for_check(i), name);
        if (i > 0)
            if (const std::string d = first_structure_difference(readers[0]->descriptor(), in->descriptor());
                !d.empty())
                fail(in->context(), "", d + " (" + printable(inputs.path(0)) + ")");
        kept_bytes += approximate_size(in->descriptor());
        if (i == 0 || (inputs.kept(i) && kept_bytes <= kept_readers_bytes)) readers[i] = std::move(in);
    }
    // The first input's file, for its header and settings; its pages are copied from it too.
    const std::unique_ptr<RootFile> first_file = inputs.for_copy(0);
    const NtupleReader& first = *readers[0];

    const Anchor& anchor = first.anchor();
    FileWriter out(output, first_file->compression());
    Compressor compressor(first_file->compression());

    // The header as stored: the schema is the same for every input.
    ByteBuffer header(static_cast<size_t>(anchor.nbytes_header));
    read_blob(*first_file, anchor.seek_header, header, anchor.max_key_size, first.source_context() + ": header");
    const int64_t header_offset =
        write_chunked_blob(out, header, {}, static_cast<int64_t>(anchor.len_header), kMaxKeySize);
    const EnvelopeLocation header_at{static_cast<uint64_t>(header_offset), anchor.nbytes_header,
                                     anchor.len_header};

    const Descriptor schema = first.descriptor();
    const uint64_t header_checksum = first.header_checksum();
    std::vector<uint8_t> envelope, zipped;
    PageListWriter pages(envelope, header_checksum, schema.columns.size());
    NtupleMergeCounts counts;
    std::vector<uint32_t> all_columns(schema.columns.size());
    for (uint32_t c = 0; c < all_columns.size(); ++c) all_columns[c] = c;
    ClusterPages fetched;
    std::vector<uint64_t> offsets;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::unique_ptr<RootFile> file = i == 0 ? nullptr : inputs.for_copy(i);
        if (!readers[i]) {
            // Read again: the file may have changed since the check.
            readers[i] = open_mergeable(*file, name);
            if (const std::string diff = first_structure_difference(schema, readers[i]->descriptor()); !diff.empty())
                fail(readers[i]->context(), "", diff + " (" + printable(inputs.path(0)) + ")");
        }
        const NtupleReader& in = *readers[i];
        const Descriptor& d = in.descriptor();
        offsets.clear();
        for (size_t c = 0; c < d.clusters.size(); ++c) {
            in.fetch_pages(c, all_columns, fetched);
            for (const RawPage& p : fetched.pages) {
                const size_t stored = p.size + (p.has_checksum ? kPageChecksumSize : 0);
                const std::span<const uint8_t> bytes(fetched.bytes.data() + p.offset, stored);
                const uint64_t bits = uint64_t{p.elements} * d.columns[p.column].bits_on_storage;
                offsets.push_back(
                    static_cast<uint64_t>(write_chunked_blob(out, bytes, {}, static_cast<int64_t>((bits + 7) / 8), kMaxKeySize)));
                ++counts.pages_copied;
                counts.bytes_copied += stored;
            }
        }
        pages.add_input(d, offsets);
        if (i > 0) readers[i].reset();  // before its file
    }
    pages.serialize();
    const EnvelopeLocation page_list = write_envelope(out, compressor, envelope, zipped);
    serialize_footer(envelope, header_checksum, pages.entries(), static_cast<uint32_t>(pages.clusters()),
                     page_list);
    const EnvelopeLocation footer = write_envelope(out, compressor, envelope, zipped);
    out.write_object(std::string(kAnchorClassName), std::string(name), "",
                     [&](ByteWriter& w, int) { stream_anchor(w, header_at, footer, kMaxKeySize); });
    out.close();
    counts.entries = pages.entries();
    counts.clusters = pages.clusters();
    return counts;
}

}  // namespace rootio::ntuple
