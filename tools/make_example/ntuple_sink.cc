#include "ntuple_sink.h"

#include <stdexcept>

#include "rootio/format/bytes.h"

namespace make_example {

using rootio::LeafType;

int NTupleSink::add_branch(const std::string& name, LeafType type, const std::string& count_branch)
{
    Branch& b = branches_.emplace_back();
    b.name = name;
    b.type = type;
    b.count_branch = count_branch;
    return static_cast<int>(branches_.size() - 1);
}

void NTupleSink::begin()
{
    // Collections in order of their first array, each with all its members, as treeconvert
    // declares them: the field ids then come out the same.
    std::vector<int> collection_of(branches_.size(), -1);  // by count branch
    std::vector<std::vector<int>> members;
    for (size_t i = 0; i < branches_.size(); ++i) {
        Branch& b = branches_[i];
        if (b.count_branch.empty()) continue;
        size_t count = 0;
        while (count < i && branches_[count].name != b.count_branch) ++count;
        if (count == i) throw std::logic_error("array " + b.name + " declared before its count");
        int& c = collection_of[count];
        if (c < 0) {
            c = static_cast<int>(members.size());
            members.emplace_back();
            branches_[count].role = Role::Count;
            branches_[count].collection = c;
        }
        b.role = Role::Member;
        b.collection = c;
        members[static_cast<size_t>(c)].push_back(static_cast<int>(i));
    }
    for (size_t c = 0; c < members.size(); ++c) {
        collections_.push_back(writer_.add_collection("_collection" + std::to_string(c)));
        for (int m : members[c]) {
            Branch& b = branches_[static_cast<size_t>(m)];
            b.slot = writer_.add_member(collections_.back(), b.name, b.type);
        }
    }
    for (Branch& b : branches_) {
        switch (b.role) {
            case Role::Scalar:
                b.slot = writer_.add_fundamental(b.name, b.type);
                break;
            case Role::Count:
                writer_.add_cardinality(b.name, collections_[static_cast<size_t>(b.collection)],
                                        rootio::leaf_type_size(b.type) == 8);
                break;
            case Role::Member:
                writer_.add_projected_rvec(b.name, collections_[static_cast<size_t>(b.collection)], b.slot);
                break;
        }
    }
}

void NTupleSink::set_entry_bytes(int branch, std::span<const uint8_t> be)
{
    const Branch& b = branches_[static_cast<size_t>(branch)];
    if (b.role != Role::Count) {
        writer_.set_values_be(b.slot, be);
        return;
    }
    uint64_t size = 0;
    switch (b.type) {
        case LeafType::UInt32:
            size = rootio::load_be<uint32_t>(be.data());
            break;
        case LeafType::Int32:
            size = static_cast<uint64_t>(rootio::load_be<int32_t>(be.data()));
            break;
        case LeafType::UInt64:
            size = rootio::load_be<uint64_t>(be.data());
            break;
        default:
            throw std::logic_error("count " + b.name + " of an unexpected type");
    }
    writer_.set_size(collections_[static_cast<size_t>(b.collection)], size);
}

void NTupleSink::fill()
{
    writer_.fill();
    if (++entries_ % cluster_entries_ == 0) writer_.commit_cluster();
}

}  // namespace make_example
