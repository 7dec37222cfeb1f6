#pragma once
// Files opened ahead of the code that reads them. A program about to read many files, most
// of them perhaps across a network, opens them here concurrently (a bounded number at a
// time), with the tree it will read; each file's reader then takes the opened file instead
// of opening it again, so no file is opened twice and the round trips of opening overlap.
//
// A file is kept only for the number of takes it was opened for; what a file's opening
// threw is thrown again by its take, so errors surface where, and as, they would have.
// While one file is read, the next one's tree is read and its first cluster requested
// (first_cluster_ahead.h), so that its loop starts on bytes already here.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/file/root_file.h"
#include "rootio/tree/first_cluster_ahead.h"
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

// A tree read ahead, with its first cluster when it was requested meanwhile.
struct TreeTakenAhead {
    TreeInfo tree;
    std::vector<std::unique_ptr<FirstClusterAhead>> first_cluster;
};

// The tree read ahead from `file` under `key`, once; nullopt when none was. While the file
// is kept for another take (the check's, before the loop's), a copy stays for that one,
// as long as the copies kept come to at most a few tens of megabytes.
std::optional<TreeTakenAhead> take_tree_read_ahead(const RootFile& file, const KeyHeader& key);

// Starts reading the tree `tree_name` of the file kept for `path` in the background, for
// the next take_tree_read_ahead; does nothing when no file is kept for it.
void read_tree_ahead(const std::string& path, std::string_view tree_name);

// Files whose first cluster may be on its way before the loop reaches them: the next one,
// and the ones after it while each is one cluster (a loop is through such a file sooner
// than a round trip to a distant server may take).
constexpr int kFilesAhead = 4;

// The loop reads `paths` in order and starts on `paths[current]`: the trees of the files
// kept for the kFilesAhead after it are read in the background, and the
// request_first_cluster_after calls of one file go to the file after it.
void read_files_ahead(std::span<const std::string> paths, size_t current, std::string_view tree_name);

// Requests the first cluster of `carried`'s branches of the file that follows `current`
// (read_files_ahead), for its tree's take, and of the files after it while that first
// cluster is their whole tree, within the budget carried; does nothing when no file
// follows.
void request_first_cluster_after(const std::string& current, const CarriedBranches& carried);

}  // namespace rootio
