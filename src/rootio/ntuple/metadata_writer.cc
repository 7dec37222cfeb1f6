#include "rootio/ntuple/metadata_writer.h"

#include <array>

#include "rootio/ntuple/envelope_writer.h"

namespace rootio::ntuple {

namespace {

void write_field(EnvelopeWriter& w, const SchemaField& f)
{
    const size_t rec = w.begin_record();
    w.u32(0);  // field version
    w.u32(0);  // type version
    w.u32(f.parent);
    w.u16(static_cast<uint16_t>(f.role));
    w.u16(f.flags);
    w.string(f.name);
    w.string(f.type_name);
    w.string("");  // type alias
    w.string("");  // description
    if (f.flags & field_flags::kProjected) w.u32(f.source);
    w.end_frame(rec);
}

void write_column(EnvelopeWriter& w, const SchemaColumn& c)
{
    const size_t rec = w.begin_record();
    w.u16(static_cast<uint16_t>(c.type));
    w.u16(column_type_info(c.type).max_bits);
    w.u32(c.field);
    w.u16(0);  // flags
    w.u16(0);  // representation index
    w.end_frame(rec);
}

void write_alias(EnvelopeWriter& w, const AliasColumn& a)
{
    const size_t rec = w.begin_record();
    w.u32(a.physical);
    w.u32(a.field);
    w.end_frame(rec);
}

template <class T, class F>
void write_list(EnvelopeWriter& w, const std::vector<T>& items, F write_item)
{
    const size_t list = w.begin_list(static_cast<uint32_t>(items.size()));
    for (const T& item : items) write_item(w, item);
    w.end_frame(list);
}

}  // namespace

uint64_t serialize_header(std::vector<uint8_t>& out, std::string_view name, std::string_view description,
                          std::string_view writer, const Schema& schema)
{
    EnvelopeWriter w(out, EnvelopeType::Header);
    w.u64(0);  // feature flags: none
    w.string(name);
    w.string(description);
    w.string(writer);
    write_list(w, schema.fields, write_field);
    write_list(w, schema.columns, write_column);
    write_list(w, schema.aliases, write_alias);
    w.end_frame(w.begin_list(0));  // extra type information
    return w.finish();
}

uint64_t serialize_page_list(std::vector<uint8_t>& out, uint64_t header_checksum,
                             std::span<const ClusterRecord> clusters, std::span<const PageRecord> pages,
                             int compression)
{
    EnvelopeWriter w(out, EnvelopeType::PageList);
    w.u64(header_checksum);
    const size_t summaries = w.begin_list(static_cast<uint32_t>(clusters.size()));
    for (const ClusterRecord& c : clusters) {
        const size_t rec = w.begin_record();
        w.u64(c.first_entry);
        w.u64(c.entries);  // flags (bits 56-63) none
        w.end_frame(rec);
    }
    w.end_frame(summaries);

    const size_t cluster_list = w.begin_list(static_cast<uint32_t>(clusters.size()));
    for (const ClusterRecord& c : clusters) {
        const size_t column_list = w.begin_list(static_cast<uint32_t>(c.pages.size()));
        for (size_t col = 0; col < c.pages.size(); ++col) {
            const size_t page_list = w.begin_list(static_cast<uint32_t>(c.pages[col].size()));
            for (uint32_t p : c.pages[col]) {
                const PageRecord& page = pages[p];
                w.i32(-static_cast<int32_t>(page.elements));  // negative: a checksum follows the page
                w.locator(page.offset, page.size);
            }
            w.i64(static_cast<int64_t>(c.element_offset[col]));
            w.u32(static_cast<uint32_t>(compression));
            w.end_frame(page_list);
        }
        w.end_frame(column_list);
    }
    w.end_frame(cluster_list);
    return w.finish();
}

uint64_t serialize_footer(std::vector<uint8_t>& out, uint64_t header_checksum, uint64_t entries,
                          uint32_t cluster_count, const EnvelopeLocation& page_list)
{
    EnvelopeWriter w(out, EnvelopeType::Footer);
    w.u64(0);  // feature flags: none
    w.u64(header_checksum);
    const size_t extension = w.begin_record();  // no schema extension: four empty lists
    for (int i = 0; i < 4; ++i) w.end_frame(w.begin_list(0));
    w.end_frame(extension);
    const size_t groups = w.begin_list(1);
    const size_t group = w.begin_record();
    w.u64(0);  // first entry
    w.u64(entries);
    w.u32(cluster_count);
    w.envelope_link(page_list.length, page_list.offset, static_cast<uint32_t>(page_list.size));
    w.end_frame(group);
    w.end_frame(groups);
    return w.finish();
}

void stream_anchor(ByteWriter& out, const EnvelopeLocation& header, const EnvelopeLocation& footer,
                   uint64_t max_key_size)
{
    std::vector<uint8_t> fields;
    ByteWriter f(fields);
    f.u16(kVersionEpoch);
    f.u16(kVersionMajor);
    f.u16(kVersionMinor);
    f.u16(kVersionPatch);
    f.u64(header.offset);
    f.u64(header.size);
    f.u64(header.length);
    f.u64(footer.offset);
    f.u64(footer.size);
    f.u64(footer.length);
    f.u64(max_key_size);
    out.u32(0x40000000u | static_cast<uint32_t>(2 + fields.size()));  // byte count
    out.u16(static_cast<uint16_t>(kAnchorClassVersion));
    out.bytes(fields);
    out.u64(xxh3_64(fields));
}

}  // namespace rootio::ntuple
