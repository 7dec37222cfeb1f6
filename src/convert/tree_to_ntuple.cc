#include "tree_to_ntuple.h"

#include <memory>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/tree/tree_reader.h"

namespace convert {

namespace {

using rootio::BranchInfo;
using rootio::LeafType;
using rootio::ntuple::NTupleWriter;

// One collection: the count branch and the arrays it indexes, in tree order.
struct CollectionPlan {
    int count_branch;
    std::vector<int> members;
};

struct Plan {
    std::vector<CollectionPlan> collections;
};

uint64_t count_value(LeafType type, const uint8_t* be)
{
    switch (type) {
    case LeafType::Int8: return static_cast<uint64_t>(rootio::load_be<int8_t>(be));
    case LeafType::UInt8: return rootio::load_be<uint8_t>(be);
    case LeafType::Int16: return static_cast<uint64_t>(rootio::load_be<int16_t>(be));
    case LeafType::UInt16: return rootio::load_be<uint16_t>(be);
    case LeafType::Int32: return static_cast<uint64_t>(rootio::load_be<int32_t>(be));
    case LeafType::UInt32: return rootio::load_be<uint32_t>(be);
    case LeafType::Int64: return static_cast<uint64_t>(rootio::load_be<int64_t>(be));
    case LeafType::UInt64: return rootio::load_be<uint64_t>(be);
    default: return 0;
    }
}

Plan plan_fields(const std::string& input, const rootio::TreeInfo& tree)
{
    const auto where = [&](const BranchInfo& b) { return "branch " + rootio::printable(b.name) + " of tree " + rootio::printable(tree.name); };
    std::vector<int> collection_of(tree.branches.size(), -1);  // by count branch
    Plan plan;
    for (size_t i = 0; i < tree.branches.size(); ++i) {
        const BranchInfo& b = tree.branches[i];
        if (!b.is_supported()) rootio::fail(input, where(b), "cannot be converted (" + b.unsupported + ")");
        if (b.count_branch < 0 && b.leaf.len != 1)
            rootio::fail(input, where(b), "fixed-size arrays are not converted");
        if (b.count_branch >= 0 && b.leaf.len != 1)
            rootio::fail(input, where(b), "arrays with an inner dimension are not converted");
        if (b.count_branch < 0) continue;
        const BranchInfo& count = tree.branches[static_cast<size_t>(b.count_branch)];
        if (!rootio::leaf_type_is_integer(count.leaf.type) || count.leaf.type == LeafType::Bool || count.count_branch >= 0)
            rootio::fail(input, where(count), "is not an integer count");
        int& c = collection_of[static_cast<size_t>(b.count_branch)];
        if (c < 0) {
            c = static_cast<int>(plan.collections.size());
            plan.collections.push_back({b.count_branch, {}});
        }
        plan.collections[static_cast<size_t>(c)].members.push_back(static_cast<int>(i));
    }
    return plan;
}

}  // namespace

ConvertCounts tree_to_ntuple(const std::string& input, const std::string& output, const std::string& tree_path,
                             const rootio::ntuple::WriteOptions& options)
{
    const std::unique_ptr<rootio::RootFile> in = rootio::RootFile::open(input);
    const rootio::TreeInfo tree = rootio::read_tree(*in, tree_path);
    const Plan plan = plan_fields(input, tree);

    rootio::FileWriter file(output, in->compression());
    NTupleWriter writer(file, tree.name, options);
    ConvertCounts counts;

    struct Scalar {
        NTupleWriter::Slot slot;
        std::unique_ptr<rootio::BranchReader> reader;
    };
    struct Member {
        NTupleWriter::Slot slot;
        std::unique_ptr<rootio::BranchReader> reader;
        int element_size;
    };
    struct Collection {
        NTupleWriter::Collection handle;
        std::unique_ptr<rootio::BranchReader> count;
        std::vector<Member> members;
    };
    std::vector<Scalar> scalars;
    std::vector<Collection> collections;

    // The collections first, so that every projection follows its source; then every
    // branch in tree order as a top-level field, so the tree can come back in its order.
    std::vector<std::pair<int, int>> role(tree.branches.size(), {-1, -1});  // collection, member (-1: count)
    for (size_t c = 0; c < plan.collections.size(); ++c) {
        Collection col{writer.add_collection("_collection" + std::to_string(c)),
                       std::make_unique<rootio::BranchReader>(*in, tree, plan.collections[c].count_branch), {}};
        role[static_cast<size_t>(plan.collections[c].count_branch)] = {static_cast<int>(c), -1};
        for (int b : plan.collections[c].members) {
            const BranchInfo& info = tree.branches[static_cast<size_t>(b)];
            role[static_cast<size_t>(b)] = {static_cast<int>(c), static_cast<int>(col.members.size())};
            col.members.push_back({writer.add_member(col.handle, info.name, info.leaf.type),
                                   std::make_unique<rootio::BranchReader>(*in, tree, b), info.element_size()});
        }
        collections.push_back(std::move(col));
    }
    for (size_t b = 0; b < tree.branches.size(); ++b) {
        const BranchInfo& info = tree.branches[b];
        const auto [c, m] = role[b];
        if (c < 0) {
            scalars.push_back({writer.add_fundamental(info.name, info.leaf.type),
                               std::make_unique<rootio::BranchReader>(*in, tree, static_cast<int>(b))});
            continue;
        }
        Collection& col = collections[static_cast<size_t>(c)];
        if (m >= 0)
            writer.add_projected_rvec(info.name, col.handle, col.members[static_cast<size_t>(m)].slot);
        else
            writer.add_cardinality(info.name, col.handle, leaf_type_size(info.leaf.type) == 8);
    }
    counts.fields = static_cast<int>(tree.branches.size() + collections.size());
    counts.collections = static_cast<int>(collections.size());

    for (int64_t e = 0; e < tree.entries; ++e) {
        for (Scalar& s : scalars) writer.set_values_be(s.slot, s.reader->entry_bytes(e));
        for (Collection& col : collections) {
            const std::span<const uint8_t> count_bytes = col.count->entry_bytes(e);
            const uint64_t n = count_value(col.count->info().leaf.type, count_bytes.data());
            writer.set_size(col.handle, n);
            for (Member& m : col.members) {
                const std::span<const uint8_t> bytes = m.reader->entry_bytes(e);
                if (bytes.size() != n * static_cast<uint64_t>(m.element_size))
                    rootio::fail(input, "branch " + rootio::printable(m.reader->info().name) + " entry " + std::to_string(e),
                                 "holds " + std::to_string(bytes.size() / static_cast<size_t>(m.element_size)) +
                                     " elements where its count says " + std::to_string(n));
                writer.set_values_be(m.slot, bytes);
            }
        }
        writer.fill();
    }
    writer.write();
    file.close();
    counts.entries = tree.entries;
    return counts;
}

}  // namespace convert
