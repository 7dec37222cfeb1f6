#pragma once
// Files opened ahead of the code that reads them. A program about to read many files, most
// of them perhaps across a network, opens them here concurrently (a bounded number at a
// time), with the tree it will read; each file's reader then takes the opened file instead
// of opening it again, so no file is opened twice and the round trips of opening overlap.
//
// A file is kept only for the number of takes it was opened for; what a file's opening
// threw is thrown again by its take, so errors surface where, and as, they would have.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "rootio/file/root_file.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

// Opens `paths` on up to `concurrency` threads at once and reads in each the tree named
// `tree_name` (a tree that cannot be read is left for its reader to meet the error again).
// Returns when all are done. Each file is kept for `uses` takes.
void open_files_ahead(std::span<const std::string> paths, std::string_view tree_name, int uses,
                      int concurrency = 16);

// The file kept for `path` (counting one of its uses), or nullptr when none is kept.
// Rethrows the RootError its opening met.
std::shared_ptr<const RootFile> take_opened_file(const std::string& path);

// The tree read ahead from `file` under `key`, once; nullopt when none was.
std::optional<TreeInfo> take_tree_read_ahead(const RootFile& file, const KeyHeader& key);

// Starts reading the tree `tree_name` of the file kept for `path` in the background, for
// the next take_tree_read_ahead; does nothing when no file is kept for it.
void read_tree_ahead(const std::string& path, std::string_view tree_name);

}  // namespace rootio
