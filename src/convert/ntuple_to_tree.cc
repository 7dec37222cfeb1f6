#include "ntuple_to_tree.h"

#include <map>
#include <memory>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/tree/tree_writer.h"
#include "ntuple_branches.h"

namespace convert {

using namespace rootio::ntuple;

ConvertCounts ntuple_to_tree(const std::string& input, const std::string& output, const std::string& name)
{
    const std::unique_ptr<rootio::RootFile> in = rootio::RootFile::open(input);
    const std::unique_ptr<NtupleReader> reader = NtupleReader::open(*in, name);
    const Descriptor& d = reader->descriptor();
    // Every branch read as a whole entry, cluster by cluster: the tree's entry bytes.
    NtupleBranches branches(*reader);
    const std::vector<BranchPlan>& plan = branches.plan();
    std::vector<size_t> all(plan.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    branches.set_active(std::move(all));

    rootio::FileWriter file(output, in->compression());
    rootio::TreeWriter tree(file, d.name, "");
    std::map<uint32_t, std::string> count_branch;  // collection -> the count its arrays use
    std::vector<int> tree_branch;
    for (const BranchPlan& b : plan) {
        if (b.kind == BranchKind::Array) {
            tree_branch.push_back(tree.add_branch(b.name, b.type, count_branch.at(b.collection)));
        } else {
            tree_branch.push_back(tree.add_branch(b.name, b.type));
            if (b.kind == BranchKind::Count && !count_branch.count(b.collection)) count_branch[b.collection] = b.name;
        }
    }
    for (int64_t e = 0; e < static_cast<int64_t>(d.entries); ++e) {
        branches.prepare_entry(e);
        for (size_t i = 0; i < plan.size(); ++i) tree.set_entry_bytes(tree_branch[i], branches.entry_bytes(i, e));
        tree.fill();
    }
    tree.write();
    file.close();
    ConvertCounts counts;
    counts.entries = static_cast<int64_t>(d.entries);
    counts.fields = static_cast<int>(plan.size());
    counts.collections = static_cast<int>(count_branch.size());
    return counts;
}

}  // namespace convert
