#pragma once
// Whether two trees have the same structure: the same branches, in the same order, with
// the same leaf types, fixed lengths and count branches. Baskets and entries may differ.
#include <string_view>

#include "rootio/tree/tree_model.h"

namespace rootio {

// Throws RootError naming `file` and the first branch where `tree` differs from
// `reference` (read from `reference_file`), or a branch the engine cannot copy.
void check_same_structure(const TreeInfo& reference, std::string_view reference_file, const TreeInfo& tree,
                          std::string_view file);

}  // namespace rootio
