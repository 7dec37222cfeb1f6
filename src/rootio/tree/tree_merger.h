#pragma once
// Concatenates one tree of several files of the same structure into a new file, entries in
// input order, without decoding a basket: compressed baskets are copied byte for byte and
// only their keys' seeks and the tree's basket tables are written anew (the framework's
// fast merge). Baskets an input keeps inside its tree record are written out as records.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rootio/file/merge_inputs.h"

namespace rootio {

struct MergeCounts {
    int64_t entries = 0;
    int64_t baskets_copied = 0;
    int64_t bytes_copied = 0;
};

inline constexpr int64_t kKeptTreesBytes = int64_t{256} << 20;

// Every input is opened and its tree checked before `output` is created, so that a
// missing, corrupt or mismatched input leaves nothing behind; a fault found while copying
// removes the output. Throws RootError naming the file (and the branch). Only the tree is
// written: other keys of the inputs are not copied.
// Trees read in the check are held for the copy up to `kept_trees_bytes` (roughly), and
// read again past it; so are the files, as MergeInputs keeps them.
MergeCounts merge_trees(const std::string& output, MergeInputs& inputs, std::string_view tree_name,
                        int64_t kept_trees_bytes = kKeptTreesBytes);
MergeCounts merge_trees(const std::string& output, std::span<const std::string> inputs,
                        std::string_view tree_name, int64_t kept_trees_bytes = kKeptTreesBytes);

}  // namespace rootio
