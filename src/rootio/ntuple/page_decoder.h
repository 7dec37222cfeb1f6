#pragma once
// Turns a page's unpacked bytes (after decompression) into elements in memory form:
// split bytes rejoined, deltas summed, zigzag undone, bits and truncated or quantized
// floats unpacked, little-endian made native. Pure functions of their inputs, so pages
// can be decoded on any thread.
#include <cstdint>
#include <span>

#include "rootio/ntuple/descriptor.h"

namespace rootio::ntuple {

// One element of a Switch column in memory: which element of which alternative.
struct SwitchElement {
    uint64_t index = 0;  // element index within the alternative's column, cluster-relative
    uint32_t tag = 0;    // 1-based alternative; 0 is the invalid state
    uint32_t unused = 0;
};

// The memory form of a column's elements:
//   Bit -> uint8_t 0/1; Byte, Char, (U)Int8..64 -> the integer of that width;
//   Real16, Real32, Real32Trunc, Real32Quant -> float; Real64 -> double;
//   Index32, Index64 (split or not) -> uint64_t; Switch -> SwitchElement.
size_t memory_element_size(ColumnType type);
// Bytes a page of `elements` elements takes on storage, before compression.
uint64_t packed_page_size(const ColumnDescriptor& column, uint64_t elements);

// Decodes `elements` elements from `packed` (packed_page_size bytes) into `out`
// (elements * memory_element_size bytes).
void decode_page(const ColumnDescriptor& column, std::span<const uint8_t> packed, uint64_t elements,
                 std::span<uint8_t> out);

}  // namespace rootio::ntuple
