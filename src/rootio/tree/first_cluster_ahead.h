#pragma once
// A file's first cluster requested before the file's reader exists: while one file of a
// chain is skimmed, the baskets of the next file's first cluster of the branches the loop
// reads go out in one batch, and the next file's read cache takes them in (their bytes
// perhaps still on their way) instead of asking for them when its loop starts.
//
// Branches are carried from file to file by name. Nothing here reports an error: a request
// that cannot be sent is not made, and a batch that fails leaves its baskets to their
// readers, which meet the error where, and as, they would have.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rootio/file/root_file.h"
#include "rootio/io/byte_source.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

// What one file's read cache passes on to the next file's.
struct CarriedBranches {
    std::vector<std::string> learned;  // read at every entry: fetched and decoded ahead
    std::vector<std::string> kept;     // read for selected entries only: fetched
    int64_t budget_bytes = 0;          // held bytes (estimated, as the cache counts them) at most
};

struct FirstClusterAhead {
    struct Basket {
        int branch = -1;
        int basket = -1;
        bool decode_ahead = false;
        int64_t held_bytes = 0;  // estimated, as the cache counts them
        ByteBuffer raw;          // the record, filled by `read`
    };
    std::shared_ptr<const RootFile> file;  // its source answers `read`
    std::vector<int> learned;              // the carried learned branches the tree has
    std::vector<Basket> baskets;
    int64_t held_bytes() const;
    std::unique_ptr<PendingRead> read;  // declared last, so destroyed (waited for) first
};

// Where the first cluster of `carried`'s branches in `tree` ends.
int64_t first_cluster_end(const TreeInfo& tree, const CarriedBranches& carried);

// Sends the request for the first cluster of `tree` (read from `file`): the baskets of the
// branches named in `carried` that the tree has, within its budget (`whole_or_nothing`:
// all of them or none). Nullptr when there is nothing to request or the request cannot be
// sent.
std::unique_ptr<FirstClusterAhead> request_first_cluster(std::shared_ptr<const RootFile> file, const TreeInfo& tree,
                                                         const CarriedBranches& carried, bool whole_or_nothing = false);

}  // namespace rootio
