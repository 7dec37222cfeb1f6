#pragma once
// Decodes a TTree record (class versions 19 and 20; TBranch 12 and 13; TLeaf 2) into the
// plain tree model. Branches the engine cannot read are kept, marked unsupported.
#include <string_view>

#include "rootio/root_file.h"
#include "rootio/tree_model.h"

namespace rootio {

// Throws RootError naming the file and the tree when the key is missing, is not a TTree,
// or the record is corrupt.
TreeInfo read_tree(const RootFile& file, std::string_view tree_name);

}  // namespace rootio
