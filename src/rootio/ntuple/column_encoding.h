#pragma once
// Page encodings on the writing side: elements as they sit in memory (little-endian, one
// byte per boolean) -> the bytes a page of the column type stores: bit-packed booleans,
// split bytes, zigzag for split signed integers, deltas for split index columns.
#include <cstdint>
#include <span>
#include <vector>

#include "rootio/ntuple/format_constants.h"

namespace rootio::ntuple {

// Bytes one element takes in memory before encoding (Bit: one byte, 0 or 1).
uint32_t unencoded_element_size(ColumnType type);

// Replaces `out` with the page bytes for `elements` (`count` elements of `type`). Index
// columns hold u64 offsets relative to their cluster; a page's first offset is stored as
// is, so every page decodes on its own.
void encode_page(ColumnType type, std::span<const uint8_t> elements, uint64_t count, std::vector<uint8_t>& out);

}  // namespace rootio::ntuple
