#pragma once
// An RNTuple of a ROOT file, opened by its key: the anchor, the header, the footer and
// every page list read and checked, then pages on demand. Pages of a cluster are fetched
// in one batched read (fetch_pages) and decoded per column (decode_column), which may run
// on any thread: a reader that wants the cluster's columns on the workers hands each
// decode_column call to one. Every error is RootError naming the file and the RNTuple.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/codec/compression.h"
#include "rootio/file/root_file.h"
#include "rootio/ntuple/descriptor.h"

namespace rootio::ntuple {

// The ROOT::RNTuple key's object: format version and envelope links.
struct Anchor {
    uint16_t epoch = 0, major = 0, minor = 0, patch = 0;
    uint64_t seek_header = 0, nbytes_header = 0, len_header = 0;
    uint64_t seek_footer = 0, nbytes_footer = 0, len_footer = 0;
    uint64_t max_key_size = 0;
};
// Parses the anchor object (class version header, fields, big-endian XXH3-64).
Anchor read_anchor(std::span<const uint8_t> object, std::string_view context);

// The stored (compressed) bytes of some pages of one cluster, as read from the file.
struct RawPage {
    uint32_t column = 0;
    uint32_t page = 0;  // index within the column's pages of the cluster
    uint32_t elements = 0;
    size_t offset = 0;  // into ClusterPages::bytes
    size_t size = 0;    // stored size (the locator's), without the checksum
    bool has_checksum = false;
};
struct ClusterPages {
    size_t cluster = 0;
    ByteBuffer bytes;            // the pages' stored bytes (and checksums), back to back
    std::vector<RawPage> pages;  // column by column, page order within each
    // fetch_pages' scratch, kept for its storage.
    std::vector<uint32_t> distinct_pages;  // one per stored page, in file order
    std::vector<ByteRange> ranges;
    std::span<const uint8_t> stored(const RawPage& p) const { return {bytes.data() + p.offset, p.size}; }
};

// One column's elements in one cluster, in memory form (page_decoder.h).
struct ColumnData {
    uint32_t column = 0;
    uint64_t elements = 0;
    ByteBuffer values;

    template <class T>
    std::span<const T> as() const
    {
        return {reinterpret_cast<const T*>(values.data()), static_cast<size_t>(elements)};
    }
};

class NtupleReader {
public:
    // The RNTuple under key `path` ("name" or "dir/name"). Throws RootError.
    static std::unique_ptr<NtupleReader> open(const RootFile& file, std::string_view path);

    const RootFile& file() const { return file_; }
    const Anchor& anchor() const { return anchor_; }
    const Descriptor& descriptor() const { return d_; }
    // The header envelope's checksum, which the footer and page lists repeat.
    uint64_t header_checksum() const { return header_checksum_; }
    // Fields and columns the header itself declares; those past them came in the footer's
    // schema extension.
    size_t header_fields() const { return header_fields_; }
    size_t header_columns() const { return header_columns_; }
    // "FILE: RNTuple NAME", the start of every message about it.
    const std::string& context() const { return context_; }
    // "RNTuple NAME": what reads of its bytes are named (the byte source names the file).
    const std::string& source_context() const { return source_context_; }

    // The pages of `columns` in `cluster`, read in one request into `out` (whose storage is
    // reused). Checks every locator lies inside the file, and that the cluster's pages
    // together claim no more bytes than the file holds.
    void fetch_pages(size_t cluster, std::span<const uint32_t> columns, ClusterPages& out) const;
    // Verifies checksums, decompresses (into `scratch`) and decodes the pages of `column` in
    // `pages` into `out`; both keep their storage between calls. Thread-safe given one
    // Decompressor and scratch buffer per thread.
    void decode_column(const ClusterPages& pages, uint32_t column, Decompressor& decompressor, ByteBuffer& scratch,
                       ColumnData& out) const;

private:
    NtupleReader(const RootFile& file, std::string_view path)
        : file_(file), source_context_("RNTuple " + std::string(path)), context_(file.path() + ": " + source_context_)
    {
    }
    ByteBuffer read_envelope(uint64_t seek, uint64_t nbytes, uint64_t length, const char* what) const;

    const RootFile& file_;
    std::string source_context_;  // "RNTuple NAME": the byte source names the file itself
    std::string context_;
    Anchor anchor_;
    Descriptor d_;
    uint64_t header_checksum_ = 0;
    size_t header_fields_ = 0, header_columns_ = 0;
};

}  // namespace rootio::ntuple
