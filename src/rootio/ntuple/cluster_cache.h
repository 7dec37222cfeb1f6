#pragma once
// The decoded columns of one cluster at a time: load(cluster, columns) fetches their
// pages in one batched read and decodes each column once (on the workers when there are
// several), replacing what the previous cluster held. Asked again for the same cluster, it
// keeps what it decoded and fetches only the columns it does not hold yet. The bulk path of a reader: typed
// spans of a cluster's values and, for collections, of its offsets.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "rootio/ntuple/ntuple_reader.h"

namespace rootio::ntuple {

class ClusterCache {
public:
    explicit ClusterCache(const NtupleReader& reader) : reader_(reader) {}

    // Makes `columns` of `cluster` available (a column asked for twice is decoded once;
    // columns loaded before for this cluster stay available).
    void load(size_t cluster, std::span<const uint32_t> columns);
    size_t cluster() const { return cluster_; }
    bool loaded() const { return loaded_; }

    // The column's elements in this cluster, or nullptr when load() did not include it.
    const ColumnData* find(uint32_t column) const;
    // The same, throwing RootError naming the field when absent.
    const ColumnData& get(uint32_t column) const;

private:
    const NtupleReader& reader_;
    size_t cluster_ = 0;
    bool loaded_ = false;
    std::vector<int32_t> slot_of_;  // column id -> index into data_, -1 when not loaded
    std::vector<ColumnData> data_;  // the first held_ hold this cluster's columns
    size_t held_ = 0;
    ClusterPages pages_;
    // Codec state and decompression scratch, one per worker.
    std::vector<std::unique_ptr<Decompressor>> decompressors_;
    std::vector<ByteBuffer> scratch_;
    std::vector<uint32_t> wanted_;
    std::vector<size_t> order_;  // the columns being decoded, largest first
};

// The column of representation `rep`'s column `k` of a field that is active in `cluster`:
// the first representation whose columns are not suppressed there. nullopt when the field
// has no columns or none is stored in this cluster.
std::optional<uint32_t> active_column(const Descriptor& d, const FieldDescriptor& f, size_t cluster, size_t k);

}  // namespace rootio::ntuple
