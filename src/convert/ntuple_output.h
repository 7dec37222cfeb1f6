#pragma once
// A flat tree written as an RNTuple in the importer's layout (tree_to_ntuple.h): branches
// are added as a tree writer takes them, entries given as a tree stores them (big-endian
// element bytes per branch), and the fields are laid out at the first fill: each count
// and the arrays it indexes one untyped collection, then every branch a top-level field
// in branch order (scalars as fundamentals, arrays as projected RVecs, counts as
// cardinality fields). Faults throw RootError naming the output file.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "rootio/tree/tree_model.h"

namespace convert {

class NtupleOutput {
public:
    NtupleOutput(rootio::FileWriter& file, std::string name);

    // A branch shaped like `source` (a scalar, a count, or an array counted by a branch
    // added before it); returns its number.
    int add_branch(const rootio::BranchInfo& source);
    const rootio::TreeInfo& info() const { return info_; }
    int64_t entries() const { return info_.entries; }

    void set_entry_bytes(int branch, std::span<const uint8_t> be);
    void fill();
    void write();

private:
    struct Member {
        int branch;
        rootio::ntuple::NTupleWriter::Slot slot;
    };
    struct Collection {
        int count_branch;
        rootio::ntuple::NTupleWriter::Collection handle;
        std::vector<Member> members;
    };
    void lay_out();

    rootio::FileWriter& file_;
    rootio::TreeInfo info_;
    std::optional<rootio::ntuple::NTupleWriter> writer_;
    std::vector<std::pair<int, rootio::ntuple::NTupleWriter::Slot>> scalars_;
    std::vector<Collection> collections_;
    std::vector<std::vector<uint8_t>> bytes_;  // per branch: the entry being filled
};

}  // namespace convert
