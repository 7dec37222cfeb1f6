#pragma once
// An RNTuple of fundamental fields and untyped collections presented through projected
// ROOT::VecOps::RVec<T> fields (as treeconvert and the framework's importer write them)
// -> the flat tree it came from: each top-level fundamental field a scalar branch, each
// projected RVec an array branch counted by its collection's size, in field order. The
// count branch is the collection's cardinality field (UInt_t or ULong64_t) where there is
// one; where there is none, a UInt_t branch named `n` + the arrays' common prefix
// (Electron_pt, Electron_eta: nElectron), just before the collection's first array. A
// std::vector<T> or RVec<T> field of its own becomes an array counted by `n` + its name.
#include <string>

#include "tree_to_ntuple.h"

namespace convert {

// Reads RNTuple `name` of `input`, writes tree `name` into `output` (compressed with the
// input file's setting). A field of another kind is refused by name; any fault throws
// RootError naming the file, and no output file is left then.
ConvertCounts ntuple_to_tree(const std::string& input, const std::string& output, const std::string& name);

}  // namespace convert
