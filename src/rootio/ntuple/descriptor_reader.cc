#include "rootio/ntuple/descriptor_reader.h"

#include <xxhash.h>

#include <algorithm>
#include <string>

#include "rootio/format/error.h"
#include "rootio/ntuple/envelope_reader.h"

namespace rootio::ntuple {
namespace {

// Smallest serialized sizes, for checking list counts before anything is sized by them.
constexpr size_t kMinFieldRecord = kRecordFramePreambleSize + 4 * 3 + 2 * 2 + 4 * 4;
constexpr size_t kMinColumnRecord = kRecordFramePreambleSize + 2 * 2 + 4 + 2 * 2;
constexpr size_t kMinAliasRecord = kRecordFramePreambleSize + 4 * 2;
constexpr size_t kMinPageRecord = 4 + kStandardLocatorSize;
constexpr size_t kMinClusterGroup = kRecordFramePreambleSize + 8 * 2 + 4 + 8 + kStandardLocatorSize;
constexpr size_t kMinClusterSummary = kRecordFramePreambleSize + 8 * 2;
// Deeper nesting than this is damage, not data: readers recurse along it.
constexpr int kMaxFieldDepth = 64;

// Any set bit is unknown in format 1.0: the file needs a newer reader.
uint64_t read_feature_flags(EnvelopeReader& in)
{
    uint64_t all = 0;
    for (int word = 0;; ++word) {
        const size_t at = in.pos();
        const uint64_t flags = in.u64();
        const uint64_t bits = flags & ~kFeatureFlagContinuation;
        if (bits & ~kKnownFeatureFlags) {
            for (int b = 0; b < 63; ++b)
                if (bits & (uint64_t{1} << b))
                    in.fail_at(at, "uses feature flag " + std::to_string(word * 63 + b) +
                                       ", unknown to this reader (written by a newer format version)");
        }
        if (word == 0) all = bits;
        if (!(flags & kFeatureFlagContinuation)) return all;
        if (word > 1024) in.fail_at(at, "feature flags never end");
    }
}

Locator read_locator(EnvelopeReader& in)
{
    const size_t start = in.pos();
    const int32_t head = in.i32();
    if (head >= 0) return Locator{in.u64(), static_cast<uint64_t>(head)};
    const uint32_t raw = static_cast<uint32_t>(head);
    const uint32_t own_size = raw & 0xFFFF;
    const uint32_t kind = (raw >> 24) & 0x7F;
    if (kind != static_cast<uint32_t>(LocatorKind::Large))
        in.fail_at(start, "locator of unknown kind " + std::to_string(kind));
    if (own_size < kLargeLocatorSize) in.fail_at(start, "large locator of " + std::to_string(own_size) + " bytes");
    Locator loc;
    loc.size = in.u64();
    loc.offset = in.u64();
    in.skip(own_size - kLargeLocatorSize);
    return loc;
}

void read_fields(EnvelopeReader& in, Descriptor& d)
{
    auto list = in.open_list_frame(kMinFieldRecord);
    for (uint32_t i = 0; i < list.items; ++i) {
        auto rec = in.open_record_frame();
        FieldDescriptor f;
        f.id = static_cast<uint32_t>(d.fields.size());
        f.field_version = in.u32();
        f.type_version = in.u32();
        f.parent = in.u32();
        f.role = static_cast<FieldRole>(in.u16());
        f.flags = in.u16();
        f.name = in.string();
        f.type_name = in.string();
        f.type_alias = in.string();
        f.description = in.string();
        if (f.flags & field_flags::kRepetitive) f.array_size = in.u64();
        if (f.flags & field_flags::kProjected) f.projection_source = in.u32();
        if (f.flags & field_flags::kTypeChecksum) f.type_checksum = in.u32();
        in.close_frame(rec);
        d.fields.push_back(std::move(f));
    }
    in.close_frame(list);
}

void read_columns(EnvelopeReader& in, Descriptor& d)
{
    auto list = in.open_list_frame(kMinColumnRecord);
    for (uint32_t i = 0; i < list.items; ++i) {
        const size_t at = in.pos();
        auto rec = in.open_record_frame();
        ColumnDescriptor c;
        c.id = static_cast<uint32_t>(d.columns.size());
        const uint16_t code = in.u16();
        c.bits_on_storage = in.u16();
        c.field = in.u32();
        c.flags = in.u16();
        c.representation = in.u16();
        if (c.flags & column_flags::kDeferred) c.first_element = in.i64();
        if (c.flags & column_flags::kRange) {
            const double lo = in.f64();
            const double hi = in.f64();
            c.range = std::pair{lo, hi};
        }
        in.close_frame(rec);
        const auto info = column_type_info(code);
        if (!info) in.fail_at(at, "column " + std::to_string(c.id) + " of unknown type " + std::to_string(code));
        c.type = info->type;
        if (c.bits_on_storage < info->min_bits || c.bits_on_storage > info->max_bits)
            in.fail_at(at, "column " + std::to_string(c.id) + " (" + std::string(info->name) + ") of " +
                               std::to_string(c.bits_on_storage) + " bits");
        if (c.type == ColumnType::Real32Quant && !(c.range && c.range->first < c.range->second))
            in.fail_at(at, "column " + std::to_string(c.id) + " (Real32Quant) without a valid value range");
        d.columns.push_back(c);
    }
    in.close_frame(list);
}

void read_alias_columns(EnvelopeReader& in, Descriptor& d)
{
    auto list = in.open_list_frame(kMinAliasRecord);
    for (uint32_t i = 0; i < list.items; ++i) {
        auto rec = in.open_record_frame();
        const uint32_t physical = in.u32();
        const uint32_t field = in.u32();
        in.close_frame(rec);
        d.alias_columns.emplace_back(physical, field);
    }
    in.close_frame(list);
}

// Extra type information (streamer infos for streamed fields) is not needed to read.
void skip_list(EnvelopeReader& in)
{
    auto list = in.open_list_frame(0);
    in.close_frame(list);
}

void read_schema(EnvelopeReader& in, Descriptor& d)
{
    read_fields(in, d);
    read_columns(in, d);
    read_alias_columns(in, d);
    skip_list(in);
}

}  // namespace

std::span<const uint8_t> envelope_payload(std::span<const uint8_t> envelope, EnvelopeType type, std::string_view context,
                                          uint64_t* checksum)
{
    EnvelopeReader in(envelope, context);
    if (envelope.size() < kEnvelopePreambleSize + kEnvelopeChecksumSize)
        in.fail_at(0, "envelope of " + std::to_string(envelope.size()) + " bytes is too short");
    const uint64_t preamble = in.u64();
    const uint16_t found = static_cast<uint16_t>(preamble & kEnvelopeTypeMask);
    const uint64_t length = preamble >> kEnvelopeLengthShift;
    if (found != static_cast<uint16_t>(type))
        in.fail_at(0, "envelope of type " + std::to_string(found) + " where type " +
                          std::to_string(static_cast<uint16_t>(type)) + " belongs");
    if (length != envelope.size())
        in.fail_at(0, "envelope says " + std::to_string(length) + " bytes, holds " + std::to_string(envelope.size()));
    const size_t body = envelope.size() - kEnvelopeChecksumSize;
    const uint64_t stored = load_le<uint64_t>(envelope.data() + body);
    const uint64_t computed = XXH3_64bits(envelope.data(), body);
    if (stored != computed) in.fail_at(body, "envelope checksum mismatch (damaged)");
    if (checksum) *checksum = stored;
    return envelope.subspan(kEnvelopePreambleSize, body - kEnvelopePreambleSize);
}

void read_header(std::span<const uint8_t> payload, Descriptor& d, std::string_view context)
{
    EnvelopeReader in(payload, context, kEnvelopePreambleSize);
    d.feature_flags |= read_feature_flags(in);
    d.name = in.string();
    d.description = in.string();
    d.writer = in.string();
    read_schema(in, d);
}

void read_footer(std::span<const uint8_t> payload, uint64_t header_checksum, Descriptor& d, std::string_view context)
{
    EnvelopeReader in(payload, context, kEnvelopePreambleSize);
    d.feature_flags |= read_feature_flags(in);
    const size_t at = in.pos();
    if (in.u64() != header_checksum) in.fail_at(at, "footer belongs to another header (header checksum differs)");
    auto ext = in.open_record_frame();
    if (in.remaining() > 0) read_schema(in, d);
    in.close_frame(ext);
    auto groups = in.open_list_frame(kMinClusterGroup);
    for (uint32_t i = 0; i < groups.items; ++i) {
        auto rec = in.open_record_frame();
        ClusterGroupDescriptor g;
        g.min_entry = in.u64();
        g.entry_span = in.u64();
        g.clusters = in.u32();
        g.page_list_length = in.u64();
        g.page_list = read_locator(in);
        in.close_frame(rec);
        d.cluster_groups.push_back(g);
    }
    in.close_frame(groups);
}

void read_page_list(std::span<const uint8_t> payload, uint64_t header_checksum, const ClusterGroupDescriptor& group,
                    Descriptor& d, std::string_view context)
{
    EnvelopeReader in(payload, context, kEnvelopePreambleSize);
    size_t at = in.pos();
    if (in.u64() != header_checksum) in.fail_at(at, "page list belongs to another header (header checksum differs)");
    const size_t first_cluster = d.clusters.size();
    at = in.pos();
    auto summaries = in.open_list_frame(kMinClusterSummary);
    if (summaries.items != group.clusters)
        in.fail_at(at, "page list has " + std::to_string(summaries.items) + " clusters, its group " +
                           std::to_string(group.clusters));
    for (uint32_t i = 0; i < summaries.items; ++i) {
        const size_t rec_at = in.pos();
        auto rec = in.open_record_frame();
        ClusterDescriptor c;
        c.first_entry = in.u64();
        const uint64_t packed = in.u64();
        c.entries = packed & kClusterEntriesMask;
        if ((packed >> kClusterFlagsShift) & kClusterFlagSharded)
            in.fail_at(rec_at, "sharded cluster (a format feature this reader does not know)");
        in.close_frame(rec);
        d.clusters.push_back(std::move(c));
    }
    in.close_frame(summaries);

    at = in.pos();
    auto clusters = in.open_list_frame(kListFramePreambleSize);
    if (clusters.items != group.clusters)
        in.fail_at(at, "page locations for " + std::to_string(clusters.items) + " clusters, expected " +
                           std::to_string(group.clusters));
    for (uint32_t ci = 0; ci < clusters.items; ++ci) {
        ClusterDescriptor& cluster = d.clusters[first_cluster + ci];
        at = in.pos();
        auto columns = in.open_list_frame(kListFramePreambleSize + 8);
        if (columns.items > d.columns.size())
            in.fail_at(at, "page locations for " + std::to_string(columns.items) + " columns, the schema has " +
                               std::to_string(d.columns.size()));
        ColumnRange absent;
        absent.suppressed = true;
        cluster.columns.resize(d.columns.size(), absent);
        for (uint32_t col = 0; col < columns.items; ++col) {
            ColumnRange& range = cluster.columns[col];
            range = ColumnRange{};
            auto pages = in.open_list_frame(kMinPageRecord);
            range.pages.reserve(pages.items);
            for (uint32_t p = 0; p < pages.items; ++p) {
                const int32_t n = in.i32();
                PageDescriptor page;
                page.has_checksum = n < 0;
                page.elements = n < 0 ? uint32_t(0) - uint32_t(n) : uint32_t(n);
                page.locator = read_locator(in);
                range.elements += page.elements;
                range.pages.push_back(page);
            }
            range.first_element = in.i64();
            range.suppressed = range.first_element < 0;
            if (range.suppressed) {
                range.first_element = range.first_element == INT64_MIN ? 0 : -range.first_element;
                if (!range.pages.empty()) in.fail("a suppressed column with pages");
            } else {
                range.compression = in.u32();
            }
            in.close_frame(pages);
        }
        in.close_frame(columns);
    }
    in.close_frame(clusters);
}

void finish_descriptor(Descriptor& d, uint64_t file_size, std::string_view context)
{
    auto fail_here = [&](const std::string& what) { fail(context, "", what); };
    for (FieldDescriptor& f : d.fields) {
        if (f.parent >= d.fields.size())
            fail_here("field " + std::to_string(f.id) + " names parent " + std::to_string(f.parent) + " of " +
                      std::to_string(d.fields.size()));
        if (f.parent != f.id && f.parent > f.id)
            fail_here("field " + std::to_string(f.id) + " comes before its parent " + std::to_string(f.parent));
        if (f.projection_source && *f.projection_source >= d.fields.size())
            fail_here("field " + std::to_string(f.id) + " projects missing field " + std::to_string(*f.projection_source));
        if (static_cast<uint16_t>(f.role) > static_cast<uint16_t>(FieldRole::Streamer))
            fail_here("field " + std::to_string(f.id) + " of unknown structural role " +
                      std::to_string(static_cast<uint16_t>(f.role)));
        if (f.is_top_level())
            d.top_level.push_back(f.id);
        else
            d.fields[f.parent].children.push_back(f.id);
    }
    for (const FieldDescriptor& f : d.fields) {
        int depth = 0;
        for (uint32_t id = f.id; !d.fields[id].is_top_level(); id = d.fields[id].parent)
            if (++depth > kMaxFieldDepth) fail_here("field " + std::to_string(f.id) + " is nested too deep");
    }
    auto attach = [&](uint32_t field, uint32_t column) {
        if (field >= d.fields.size())
            fail_here("column " + std::to_string(column) + " belongs to missing field " + std::to_string(field));
        auto& reps = d.fields[field].representations;
        const uint16_t r = d.columns[column].representation;
        if (r > reps.size()) fail_here("column " + std::to_string(column) + " skips a representation");
        if (r == reps.size()) reps.emplace_back();
        reps[r].push_back(column);
    };
    for (const ColumnDescriptor& c : d.columns) attach(c.field, c.id);
    for (auto [physical, field] : d.alias_columns) {
        if (physical >= d.columns.size())
            fail_here("alias column names missing column " + std::to_string(physical));
        if (field < d.fields.size() && !d.fields[field].is_projected())
            fail_here("alias column attached to field " + std::to_string(field) + ", which is not projected");
        attach(field, physical);
    }
    for (const FieldDescriptor& f : d.fields)
        for (const auto& rep : f.representations)
            if (rep.size() != f.representations.front().size())
                fail_here("field " + d.field_path(f.id) + " has representations of different column counts");

    uint64_t next = 0;
    for (size_t i = 0; i < d.clusters.size(); ++i) {
        ClusterDescriptor& c = d.clusters[i];
        if (c.first_entry != next)
            fail_here("cluster " + std::to_string(i) + " starts at entry " + std::to_string(c.first_entry) +
                      ", expected " + std::to_string(next));
        if (c.entries > UINT64_MAX - next) fail_here("cluster " + std::to_string(i) + " overflows the entry count");
        next += c.entries;
        // Suppressed columns take their element offsets from the primary representation.
        for (const FieldDescriptor& f : d.fields) {
            if (f.representations.size() < 2) continue;
            const auto* primary = &f.representations.front();
            for (const auto& rep : f.representations)
                if (!rep.empty() && !c.columns[rep.front()].suppressed) primary = &rep;
            for (const auto& rep : f.representations)
                for (size_t k = 0; k < rep.size() && rep.data() != primary->data(); ++k)
                    if (c.columns[rep[k]].suppressed) {
                        c.columns[rep[k]].first_element = c.columns[(*primary)[k]].first_element;
                        c.columns[rep[k]].elements = c.columns[(*primary)[k]].elements;
                    }
        }
    }
    if (next / kMaxEntriesPerFileByte > file_size)
        fail_here("claims " + std::to_string(next) + " entries, more than a file of " + std::to_string(file_size) +
                  " bytes holds");
    d.entries = next;
}

std::optional<uint32_t> Descriptor::find_top_level(std::string_view n) const
{
    for (uint32_t id : top_level)
        if (fields[id].name == n) return id;
    return std::nullopt;
}

std::string Descriptor::field_path(uint32_t id) const
{
    if (id >= fields.size()) return "#" + std::to_string(id);
    std::string path = fields[id].name;
    for (int depth = 0; !fields[id].is_top_level() && depth <= kMaxFieldDepth; ++depth) {
        id = fields[id].parent;
        path = fields[id].name + "." + path;
    }
    return path;
}

size_t Descriptor::cluster_of(uint64_t entry) const
{
    auto it = std::upper_bound(clusters.begin(), clusters.end(), entry,
                               [](uint64_t e, const ClusterDescriptor& c) { return e < c.first_entry; });
    return static_cast<size_t>(it - clusters.begin()) - 1;
}

}  // namespace rootio::ntuple
