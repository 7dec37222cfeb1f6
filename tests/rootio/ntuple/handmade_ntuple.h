#pragma once
// Builds small RNTuples byte by byte, independently of the engine (one cluster, one page
// per column, envelopes and pages stored uncompressed), inside a handmade ROOT file: the
// reader is tested on field kinds and encodings no reference file has, and on damage placed
// exactly.
#include <xxhash.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "rootio/handmade_file.h"
#include "rootio/ntuple/format_constants.h"

namespace handmade {

using rootio::ntuple::ColumnType;
using rootio::ntuple::FieldRole;

struct NField {
    std::string name;
    std::string type;
    uint32_t parent;  // its own index for a top-level field
    FieldRole role = FieldRole::Leaf;
    uint16_t flags = 0;
    uint64_t array_size = 0;
    uint32_t source = 0;  // projected fields
};

struct NColumn {
    ColumnType type;
    uint16_t bits;
    uint32_t field;
    std::vector<uint8_t> page;  // the one page, as stored
    uint32_t elements = 0;
    uint16_t flags = 0;
    uint16_t representation = 0;
    int64_t first_element = 0;
    double min = 0, max = 0;
    bool suppressed = false;      // in the cluster's page list
    int64_t cluster_first = 0;    // the element offset the page list gives it
};

struct Ntuple {
    std::vector<NField> fields;
    std::vector<NColumn> columns;
    std::vector<std::pair<uint32_t, uint32_t>> aliases;  // physical column, field
    uint64_t entries = 0;
    uint64_t feature_flags = 0;
    bool page_checksums = true;
    bool large_locators = false;       // the page locators as large ones
    int64_t page_offset_shift = 0;     // added to every page locator's offset
    uint32_t page_elements_extra = 0;  // added to every page descriptor's element count
};

// Little-endian serialization with the format's frames.
struct Le {
    std::vector<uint8_t> b;
    template <class T>
    void put(T v)
    {
        uint8_t raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T));
        b.insert(b.end(), raw, raw + sizeof(T));
    }
    void str(const std::string& s)
    {
        put<uint32_t>(static_cast<uint32_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    size_t open_list(uint32_t n)
    {
        const size_t at = b.size();
        put<int64_t>(0), put<uint32_t>(n);
        return at;
    }
    size_t open_record()
    {
        const size_t at = b.size();
        put<int64_t>(0);
        return at;
    }
    void close(size_t at, bool list)
    {
        const int64_t size = static_cast<int64_t>(b.size() - at);
        const int64_t v = list ? -size : size;
        std::memcpy(b.data() + at, &v, 8);
    }
    void bytes(const std::vector<uint8_t>& x) { b.insert(b.end(), x.begin(), x.end()); }
};

inline std::vector<uint8_t> envelope(rootio::ntuple::EnvelopeType type, const std::vector<uint8_t>& payload)
{
    Le e;
    e.put<uint64_t>(static_cast<uint64_t>(type) | uint64_t(payload.size() + 16) << 16);
    e.bytes(payload);
    e.put<uint64_t>(XXH3_64bits(e.b.data(), e.b.size()));
    return e.b;
}

inline void schema(Le& s, const Ntuple& n)
{
    size_t list = s.open_list(static_cast<uint32_t>(n.fields.size()));
    for (const NField& f : n.fields) {
        const size_t rec = s.open_record();
        s.put<uint32_t>(0), s.put<uint32_t>(0), s.put<uint32_t>(f.parent);
        s.put<uint16_t>(static_cast<uint16_t>(f.role)), s.put<uint16_t>(f.flags);
        s.str(f.name), s.str(f.type), s.str(""), s.str("");
        if (f.flags & 0x01) s.put<uint64_t>(f.array_size);
        if (f.flags & 0x02) s.put<uint32_t>(f.source);
        s.close(rec, false);
    }
    s.close(list, true);
    list = s.open_list(static_cast<uint32_t>(n.columns.size()));
    for (const NColumn& c : n.columns) {
        const size_t rec = s.open_record();
        s.put<uint16_t>(static_cast<uint16_t>(c.type)), s.put<uint16_t>(c.bits), s.put<uint32_t>(c.field);
        s.put<uint16_t>(c.flags), s.put<uint16_t>(c.representation);
        if (c.flags & 0x01) s.put<int64_t>(c.first_element);
        if (c.flags & 0x02) s.put<double>(c.min), s.put<double>(c.max);
        s.close(rec, false);
    }
    s.close(list, true);
    list = s.open_list(static_cast<uint32_t>(n.aliases.size()));
    for (auto [physical, field] : n.aliases) {
        const size_t rec = s.open_record();
        s.put<uint32_t>(physical), s.put<uint32_t>(field);
        s.close(rec, false);
    }
    s.close(list, true);
    s.close(s.open_list(0), true);
}

// The file's bytes: an RBlob key holding pages, header, page list and footer, then the
// anchor key `name`.
inline std::vector<uint8_t> build_ntuple_file(const Ntuple& n, const std::string& name = "nt")
{
    using rootio::ntuple::EnvelopeType;
    // Pass 1 finds where the blob's bytes land; pass 2 writes the real offsets.
    uint64_t base = 0;
    std::vector<uint8_t> file;
    for (int pass = 0; pass < 2; ++pass) {
        Le blob;
        std::vector<uint64_t> page_at;
        for (const NColumn& c : n.columns) {
            page_at.push_back(base + blob.b.size());
            blob.bytes(c.page);
            if (n.page_checksums) blob.put<uint64_t>(XXH3_64bits(c.page.data(), c.page.size()));
        }
        Le h;
        h.put<uint64_t>(n.feature_flags);
        h.str(name), h.str(""), h.str("ntuple-writer");
        schema(h, n);
        const std::vector<uint8_t> header = envelope(EnvelopeType::Header, h.b);
        const uint64_t header_at = base + blob.b.size();
        blob.bytes(header);
        const uint64_t header_sum = XXH3_64bits(header.data(), header.size() - 8);

        Le p;
        p.put<uint64_t>(header_sum);
        size_t list = p.open_list(1);
        size_t rec = p.open_record();
        p.put<uint64_t>(0), p.put<uint64_t>(n.entries);
        p.close(rec, false);
        p.close(list, true);
        const size_t clusters = p.open_list(1);
        const size_t cols = p.open_list(static_cast<uint32_t>(n.columns.size()));
        for (size_t i = 0; i < n.columns.size(); ++i) {
            const NColumn& c = n.columns[i];
            const size_t pages = p.open_list(c.suppressed ? 0 : 1);
            if (!c.suppressed) {
                const int32_t elements = static_cast<int32_t>(c.elements + n.page_elements_extra);
                p.put<int32_t>(n.page_checksums ? -elements : elements);
                const uint64_t offset = page_at[i] + static_cast<uint64_t>(n.page_offset_shift);
                if (n.large_locators) {
                    p.put<int32_t>(int32_t(0x81000014u));  // kind 1 (large), 20 bytes
                    p.put<uint64_t>(c.page.size()), p.put<uint64_t>(offset);
                } else {
                    p.put<int32_t>(static_cast<int32_t>(c.page.size())), p.put<uint64_t>(offset);
                }
                p.put<int64_t>(c.cluster_first), p.put<uint32_t>(0);
            } else {
                p.put<int64_t>(INT64_MIN);
            }
            p.close(pages, true);
        }
        p.close(cols, true);
        p.close(clusters, true);
        const std::vector<uint8_t> page_list = envelope(EnvelopeType::PageList, p.b);
        const uint64_t page_list_at = base + blob.b.size();
        blob.bytes(page_list);

        Le f;
        f.put<uint64_t>(0), f.put<uint64_t>(header_sum);
        rec = f.open_record();
        f.close(rec, false);  // no schema extension
        list = f.open_list(1);
        rec = f.open_record();
        f.put<uint64_t>(0), f.put<uint64_t>(n.entries), f.put<uint32_t>(1);
        f.put<uint64_t>(page_list.size()), f.put<int32_t>(static_cast<int32_t>(page_list.size())), f.put<uint64_t>(page_list_at);
        f.close(rec, false);
        f.close(list, true);
        const std::vector<uint8_t> footer = envelope(EnvelopeType::Footer, f.b);
        const uint64_t footer_at = base + blob.b.size();
        blob.bytes(footer);

        std::vector<uint8_t> anchor;
        rootio::ByteWriter a(anchor);
        a.u32(0x40000000u | 74), a.i16(2);
        a.u16(1), a.u16(0), a.u16(0), a.u16(1);
        for (uint64_t v : {header_at, uint64_t(header.size()), uint64_t(header.size()), footer_at,
                           uint64_t(footer.size()), uint64_t(footer.size()), uint64_t(1) << 30})
            a.u64(v);
        a.u64(XXH3_64bits(anchor.data() + 6, 64));

        // A marker in front of the blob finds it in pass 1.
        std::vector<uint8_t> stored = {'N', 'T', 'B', 'L', 'O', 'B', '!', '!'};
        stored.insert(stored.end(), blob.b.begin(), blob.b.end());
        file = build({Object{"RBlob", "", 1, stored}, Object{"ROOT::RNTuple", name, 1, anchor}});
        const auto at = std::search(file.begin(), file.end(), stored.begin(), stored.begin() + 8);
        base = static_cast<uint64_t>(at - file.begin()) + 8;
    }
    return file;
}

// Encoders for the page contents, the inverse of what the reader undoes.
template <class T>
std::vector<uint8_t> le_page(const std::vector<T>& v)
{
    std::vector<uint8_t> out(v.size() * sizeof(T));
    std::memcpy(out.data(), v.data(), out.size());
    return out;
}
template <class T>
std::vector<uint8_t> split_page(const std::vector<T>& v)
{
    const std::vector<uint8_t> le = le_page(v);
    std::vector<uint8_t> out(le.size());
    for (size_t i = 0; i < v.size(); ++i)
        for (size_t k = 0; k < sizeof(T); ++k) out[k * v.size() + i] = le[i * sizeof(T) + k];
    return out;
}
template <class T>
std::vector<T> zigzag(const std::vector<T>& v)
{
    using U = std::make_unsigned_t<T>;
    std::vector<T> out;
    for (T x : v) out.push_back(static_cast<T>((static_cast<U>(x) << 1) ^ static_cast<U>(x >> (8 * sizeof(T) - 1))));
    return out;
}
template <class T>
std::vector<T> delta(const std::vector<T>& v)
{
    std::vector<T> out;
    T prev = 0;
    for (T x : v) out.push_back(static_cast<T>(x - prev)), prev = x;
    return out;
}
// Bits packed least significant first, `nbits` per value.
inline std::vector<uint8_t> bit_page(const std::vector<uint32_t>& v, unsigned nbits)
{
    std::vector<uint8_t> out((v.size() * nbits + 7) / 8, 0);
    for (size_t i = 0; i < v.size(); ++i)
        for (unsigned k = 0; k < nbits; ++k)
            if (v[i] >> k & 1) out[(i * nbits + k) / 8] |= static_cast<uint8_t>(1u << ((i * nbits + k) % 8));
    return out;
}

}  // namespace handmade
