#include "rootio/ntuple/ntuple_reader.h"

#include <xxhash.h>

#include <algorithm>
#include <string>

#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/ntuple/blob_chunks.h"
#include "rootio/ntuple/descriptor_reader.h"
#include "rootio/ntuple/envelope_reader.h"
#include "rootio/ntuple/page_decoder.h"

namespace rootio::ntuple {

Anchor read_anchor(std::span<const uint8_t> object, std::string_view context)
{
    ByteReader in(object, context);
    const uint32_t bytecount = in.u32();
    const int16_t version = in.i16();
    if (!(bytecount & 0x40000000u)) in.fail_at(0, "RNTuple anchor without a byte count");
    if (version < kAnchorClassVersion) in.fail_at(4, "RNTuple anchor of class version " + std::to_string(version));
    const size_t start = in.pos();
    if (in.remaining() < kAnchorSizeWithChecksum) in.fail_at(start, "RNTuple anchor is truncated");
    Anchor a;
    a.epoch = in.u16();
    a.major = in.u16();
    a.minor = in.u16();
    a.patch = in.u16();
    a.seek_header = in.u64();
    a.nbytes_header = in.u64();
    a.len_header = in.u64();
    a.seek_footer = in.u64();
    a.nbytes_footer = in.u64();
    a.len_footer = in.u64();
    a.max_key_size = in.u64();
    const uint64_t computed = XXH3_64bits(object.data() + start, kAnchorPayloadSize);
    if (in.u64() != computed) in.fail_at(in.pos() - 8, "RNTuple anchor checksum mismatch (damaged)");
    if (a.epoch != kVersionEpoch)
        in.fail_at(start, "RNTuple format version " + std::to_string(a.epoch) + "." + std::to_string(a.major) +
                              " (this reader knows epoch " + std::to_string(kVersionEpoch) + ")");
    return a;
}

ByteBuffer NtupleReader::read_envelope(uint64_t seek, uint64_t nbytes, uint64_t length, const char* what) const
{
    const std::string ctx = context_ + ": " + what;
    if (nbytes > static_cast<uint64_t>(file_.size()))
        fail(ctx, "", "lies outside the file (" + std::to_string(nbytes) + " bytes at " + std::to_string(seek) + ")");
    ByteBuffer stored(static_cast<size_t>(nbytes));
    read_blob(file_, seek, stored, anchor_.max_key_size, source_context_ + ": " + what);
    if (nbytes == length) return stored;
    if (length > (uint64_t{1} << 40)) fail(ctx, "", "claims " + std::to_string(length) + " bytes uncompressed");
    ByteBuffer out;
    decompress_object(file_.decompressor(), stored, static_cast<int64_t>(length), out, ctx);
    out.resize(static_cast<size_t>(length));
    return out;
}

std::unique_ptr<NtupleReader> NtupleReader::open(const RootFile& file, std::string_view path)
{
    const auto key = file.find_path(path);
    if (!key) fail(file.path(), "", "no key named '" + std::string(path) + "'");
    std::unique_ptr<NtupleReader> r(new NtupleReader(file, path));
    if (key->class_name != kAnchorClassName)
        fail(file.path(), "", "'" + std::string(path) + "' is a " + key->class_name + ", not an RNTuple");
    const std::vector<uint8_t> object = file.read_object(*key);
    r->anchor_ = read_anchor(object, r->context_ + ": anchor");
    const Anchor& a = r->anchor_;

    const ByteBuffer header = r->read_envelope(a.seek_header, a.nbytes_header, a.len_header, "header");
    uint64_t header_checksum = 0;
    const std::string hctx = r->context_ + ": header";
    read_header(envelope_payload(header, EnvelopeType::Header, hctx, &header_checksum), r->d_, hctx);
    r->header_checksum_ = header_checksum;
    r->header_fields_ = r->d_.fields.size();
    r->header_columns_ = r->d_.columns.size();

    const ByteBuffer footer = r->read_envelope(a.seek_footer, a.nbytes_footer, a.len_footer, "footer");
    const std::string fctx = r->context_ + ": footer";
    read_footer(envelope_payload(footer, EnvelopeType::Footer, fctx), header_checksum, r->d_, fctx);

    for (size_t g = 0; g < r->d_.cluster_groups.size(); ++g) {
        const ClusterGroupDescriptor& group = r->d_.cluster_groups[g];
        const std::string what = "page list " + std::to_string(g);
        const ByteBuffer list =
            r->read_envelope(group.page_list.offset, group.page_list.size, group.page_list_length, what.c_str());
        const std::string pctx = r->context_ + ": " + what;
        read_page_list(envelope_payload(list, EnvelopeType::PageList, pctx), header_checksum, group, r->d_, pctx);
    }
    finish_descriptor(r->d_, static_cast<uint64_t>(file.size()), r->context_);
    file.drop_opening_bytes();
    return r;
}

void NtupleReader::fetch_pages(size_t cluster, std::span<const uint32_t> columns, ClusterPages& out) const
{
    out.cluster = cluster;
    out.pages.clear();
    const ClusterDescriptor& c = d_.clusters.at(cluster);
    const uint64_t file_size = static_cast<uint64_t>(file_.size());
    for (uint32_t col : columns) {
        const ColumnRange& range = c.columns.at(col);
        for (uint32_t p = 0; p < range.pages.size(); ++p) {
            const PageDescriptor& page = range.pages[p];
            const uint64_t size = page.locator.size + (page.has_checksum ? kPageChecksumSize : 0);
            const uint64_t first = first_chunk_bytes(size, anchor_.max_key_size);
            if (page.locator.offset > file_size || first > file_size - page.locator.offset)
                fail(context_, "field " + d_.field_path(d_.columns[col].field),
                     "page " + std::to_string(p) + " of cluster " + std::to_string(cluster) +
                         " lies outside the file (" + std::to_string(size) + " bytes at " +
                         std::to_string(page.locator.offset) + ")");
            out.pages.push_back(RawPage{col, p, page.elements, 0, static_cast<size_t>(page.locator.size),
                                        page.has_checksum});
        }
    }
    // A writer merging identical pages stores one and points several pages at it: each
    // stored page is read once (a vector read must not ask for one piece twice) and the
    // pages pointing at it share its bytes. Reads go in file order.
    const auto locator = [&](const RawPage& p) { return c.columns[p.column].pages[p.page].locator.offset; };
    const auto stored = [](const RawPage& p) { return p.size + (p.has_checksum ? kPageChecksumSize : 0); };
    std::vector<uint32_t>& distinct = out.distinct_pages;
    distinct.resize(out.pages.size());
    for (uint32_t i = 0; i < distinct.size(); ++i) distinct[i] = i;
    std::sort(distinct.begin(), distinct.end(), [&](uint32_t a, uint32_t b) {
        const RawPage &p = out.pages[a], &q = out.pages[b];
        return std::pair(locator(p), stored(p)) < std::pair(locator(q), stored(q));
    });
    uint64_t total = 0;
    size_t kept = 0;  // distinct[0, kept): the first page of each stored one
    for (size_t j = 0; j < distinct.size(); ++j) {
        RawPage& p = out.pages[distinct[j]];
        if (kept > 0) {
            const RawPage& first = out.pages[distinct[kept - 1]];
            if (locator(first) == locator(p) && stored(first) == stored(p)) {
                p.offset = first.offset;
                continue;
            }
        }
        total += stored(p);
        if (total > file_size)
            fail(context_, "field " + d_.field_path(d_.columns[p.column].field),
                 "the pages of cluster " + std::to_string(cluster) + " claim more bytes than the file holds");
        p.offset = static_cast<size_t>(total - stored(p));
        distinct[kept++] = distinct[j];
    }
    distinct.resize(kept);
    out.bytes.resize(static_cast<size_t>(total));
    std::vector<ByteRange>& ranges = out.ranges;
    ranges.clear();
    for (uint32_t i : distinct) {
        const RawPage& p = out.pages[i];
        const size_t first = static_cast<size_t>(first_chunk_bytes(stored(p), anchor_.max_key_size));
        ranges.push_back(ByteRange{static_cast<int64_t>(locator(p)), {out.bytes.data() + p.offset, first}});
    }
    file_.source().read(ranges, source_context_);
    // Pages stored in several records (past the maximum key size): their other records.
    ranges.clear();
    for (uint32_t i : distinct) {
        const RawPage& p = out.pages[i];
        const size_t size = stored(p);
        if (first_chunk_bytes(size, anchor_.max_key_size) == size) continue;
        add_chunk_reads({out.bytes.data() + p.offset, size}, anchor_.max_key_size, file_.size(), context_,
                        "field " + d_.field_path(d_.columns[p.column].field) + ": page " + std::to_string(p.page) +
                            " of cluster " + std::to_string(cluster),
                        ranges);
    }
    if (!ranges.empty()) file_.source().read(ranges, source_context_);
}

void NtupleReader::decode_column(const ClusterPages& pages, uint32_t column, Decompressor& decompressor,
                                 ByteBuffer& unpacked, ColumnData& out) const
{
    const ColumnDescriptor& col = d_.columns.at(column);
    const size_t width = memory_element_size(col.type);
    out.column = column;
    out.elements = 0;
    for (const RawPage& p : pages.pages) {
        if (p.column != column) continue;
        // Messages are made only for a fault: a cluster has thousands of pages.
        auto object = [&] { return "field " + d_.field_path(col.field); };
        auto where = [&] {
            return "page " + std::to_string(p.page) + " of cluster " + std::to_string(pages.cluster);
        };
        std::span<const uint8_t> stored = pages.stored(p);
        if (p.has_checksum) {
            const uint64_t want = load_le<uint64_t>(pages.bytes.data() + p.offset + p.size);
            if (XXH3_64bits(stored.data(), stored.size()) != want)
                fail(context_, object(), where() + ": page checksum mismatch (damaged)");
        }
        const uint64_t packed = packed_page_size(col, p.elements);
        std::span<const uint8_t> data = stored;
        if (packed != stored.size()) {
            try {
                decompress_object(decompressor, stored, static_cast<int64_t>(packed), unpacked, {});
            } catch (const RootError& e) {
                fail(context_, object(), where() + e.what());  // e.what() starts ": "
            }
            data = std::span<const uint8_t>(unpacked).first(static_cast<size_t>(packed));
        }
        const size_t at = static_cast<size_t>(out.elements) * width;
        out.values.resize(at + static_cast<size_t>(p.elements) * width);
        decode_page(col, data, p.elements, std::span<uint8_t>(out.values).subspan(at));
        out.elements += p.elements;
    }
    out.values.resize(static_cast<size_t>(out.elements) * width);
}

}  // namespace rootio::ntuple
