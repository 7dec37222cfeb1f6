#pragma once
// A column's decoded values (page_decoder.h's memory form) as a tree leaf stores them: each
// element converted to the leaf's type, big-endian, back to back. The conversion for a
// column type and leaf type is chosen once and then runs over a whole entry's elements.
#include <cstdint>
#include <vector>

#include "rootio/format/leaf_type.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace convert {

// Writes elements [begin, end) of a column's values, as the leaf type, to `out`
// ((end - begin) * leaf size bytes).
using ElementsToBytes = void (*)(const uint8_t* values, uint64_t begin, uint64_t end, uint8_t* out);

// The conversion from `column`'s memory form to `leaf`; nullptr for a column whose elements
// are no single values (Switch).
ElementsToBytes elements_to_bytes(rootio::ntuple::ColumnType column, rootio::LeafType leaf);

// Elements [begin, end) of `data` (which holds at least `end`) appended to `out` by
// `convert`, made for `leaf`.
void append_elements(std::vector<uint8_t>& out, ElementsToBytes convert, rootio::LeafType leaf,
                     const rootio::ntuple::ColumnData& data, uint64_t begin, uint64_t end);

}  // namespace convert
