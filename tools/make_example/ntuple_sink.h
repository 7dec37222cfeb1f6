#pragma once
// make-example's events as an RNTuple in the layout treeconvert gives the same tree: the
// arrays sharing a count one untyped collection `_collectionN` (numbered by first use,
// members in tree order), then every branch in tree order as a top-level field: scalars
// of their type, counts as projected cardinality fields, arrays as projected
// ROOT::VecOps::RVec<T> fields. A cluster is closed every `cluster_entries` entries, as
// the tree's auto-flush does.
#include <cstdint>
#include <vector>

#include "event_sink.h"
#include "rootio/ntuple/ntuple_writer.h"

namespace make_example {

class NTupleSink final : public EventSink {
public:
    NTupleSink(rootio::ntuple::NTupleWriter& writer, int64_t cluster_entries)
        : writer_(writer), cluster_entries_(cluster_entries)
    {
    }
    int add_branch(const std::string& name, rootio::LeafType type, const std::string& count_branch) override;
    void begin() override;
    void set_entry_bytes(int branch, std::span<const uint8_t> be) override;
    void fill() override;
    // Top-level fields: one per branch, one per collection.
    size_t field_count() const { return branches_.size() + collections_.size(); }

private:
    enum class Role { Scalar, Count, Member };
    struct Branch {
        std::string name;
        rootio::LeafType type = rootio::LeafType::Bool;
        std::string count_branch;
        Role role = Role::Scalar;
        int collection = -1;                      // Count and Member
        rootio::ntuple::NTupleWriter::Slot slot;  // Scalar and Member
    };

    rootio::ntuple::NTupleWriter& writer_;
    int64_t cluster_entries_;
    int64_t entries_ = 0;
    std::vector<Branch> branches_;
    std::vector<rootio::ntuple::NTupleWriter::Collection> collections_;
};

}  // namespace make_example
