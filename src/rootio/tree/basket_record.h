#pragma once
// One basket as stored on disk: its record bytes, its key and basket header checked, and
// its object bytes decompressed. Decoding touches nothing but the record and the given
// decompressor, so any thread may do it; a reader then takes the record as its own.
#include <cstdint>
#include <span>
#include <string>

#include "rootio/codec/compression.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

struct BasketRecord {
    ByteBuffer raw;          // the record as read: key header, basket header, stored object
    ByteBuffer payload;      // the object decompressed, when stored compressed (reused)
    KeyHeader key;           // strings keep their storage from basket to basket
    int32_t entry_size = 0;  // fNevBufSize: bytes per entry for fixed-size entries
    uint8_t io_bits = 0;
    int32_t entries = 0;
    int32_t last = 0;  // key-relative end of the entry data
    int flag = 0;
    std::span<const uint8_t> object;  // key.objlen bytes, in payload or raw
};

// "FILE: branch NAME of tree TREE", which every error about the branch's baskets starts with.
std::string basket_context(const RootFile& file, const TreeInfo& tree, const BranchInfo& branch);

// Whether a basket record of `nbytes` bytes at `seek` lies wholly inside `file`.
bool record_in_file(const RootFile& file, int64_t seek, int32_t nbytes);

// Checks the key and basket headers in `record.raw` (a basket of `expected_entries` entries
// and `record.raw.size()` bytes) and decompresses the object. Throws RootError
// "CONTEXT: what is wrong", the same wherever it runs.
void decode_basket_record(BasketRecord& record, int64_t expected_entries, Decompressor& decompressor,
                          const std::string& context);

}  // namespace rootio
