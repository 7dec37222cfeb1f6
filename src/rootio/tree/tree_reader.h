#pragma once
// Decodes a TTree record (also a TNtuple or TNtupleD) into the plain tree model: every
// TTree and TBranch class version ROOT reads member by member (TTree 5 and later, TBranch 6
// and later), the built-in layouts for ROOT 5.23 onwards and the file's StreamerInfo for
// older ones. Branches the engine cannot read are kept, marked unsupported.
#include <string_view>

#include "rootio/file/root_file.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

// True for the classes read as trees: TTree, TNtuple, TNtupleD.
bool is_tree_class(std::string_view class_name);

// `tree_path` is the key's name, or "dir/sub/name" for a tree in a subdirectory. Throws
// RootError naming the file and the tree when the key is missing, is not a tree, or the
// record is corrupt.
TreeInfo read_tree(const RootFile& file, std::string_view tree_path);
// The tree under this key (found with RootFile::find_path); `tree_path` names it in errors.
TreeInfo read_tree(const RootFile& file, const KeyHeader& key, std::string_view tree_path);

}  // namespace rootio
