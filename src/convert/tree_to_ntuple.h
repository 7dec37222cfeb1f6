#pragma once
// A flat tree of scalars and count-indexed arrays -> an RNTuple laid out as the
// framework's importer lays it out: each scalar branch a top-level field of its type; the
// arrays sharing a count branch one untyped collection `_collectionN` of untyped records
// holding them under their branch names, plus top-level projected fields of type
// ROOT::VecOps::RVec<T> under the same names. The count itself stays under its name: as a
// projected ROOT::RNTupleCardinality<std::uint32_t> (std::uint64_t) field for a UInt_t
// (ULong64_t) count, as a field of its own type for any other count type.
#include <cstdint>
#include <string>

#include "rootio/ntuple/ntuple_writer.h"

namespace convert {

struct ConvertCounts {
    int64_t entries = 0;
    int fields = 0;       // top-level fields written
    int collections = 0;
};

// Reads tree `tree_path` of `input`, writes RNTuple of the tree's name into `output`
// (compressed with the input file's setting). Throws RootError naming the file (and the
// branch and entry) on any fault; no output file is left then. `options` sets the writer's
// page and cluster sizes.
ConvertCounts tree_to_ntuple(const std::string& input, const std::string& output, const std::string& tree_path,
                             const rootio::ntuple::WriteOptions& options = {});

}  // namespace convert
