#include "ntuple_output.h"

#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"

namespace convert {

namespace {

uint64_t count_value(rootio::LeafType type, std::span<const uint8_t> be)
{
    using rootio::LeafType;
    using rootio::load_be;
    const uint8_t* p = be.data();
    switch (type) {
    case LeafType::Int8: return static_cast<uint64_t>(load_be<int8_t>(p));
    case LeafType::UInt8: return load_be<uint8_t>(p);
    case LeafType::Int16: return static_cast<uint64_t>(load_be<int16_t>(p));
    case LeafType::UInt16: return load_be<uint16_t>(p);
    case LeafType::Int32: return static_cast<uint64_t>(load_be<int32_t>(p));
    case LeafType::UInt32: return load_be<uint32_t>(p);
    case LeafType::Int64: return static_cast<uint64_t>(load_be<int64_t>(p));
    default: return load_be<uint64_t>(p);
    }
}

}  // namespace

NtupleOutput::NtupleOutput(rootio::FileWriter& file, std::string name) : file_(file)
{
    info_.name = std::move(name);
}

int NtupleOutput::add_branch(const rootio::BranchInfo& source)
{
    const auto refuse = [&](const std::string& why) {
        rootio::fail(file_.path(), "RNTuple " + rootio::printable(info_.name) + ": branch " + rootio::printable(source.name), why);
    };
    if (writer_) refuse("added after entries were filled");
    if (!source.is_supported()) refuse("cannot be written: " + source.unsupported);
    if (source.leaf.len != 1) refuse("fixed-size arrays have no place in an RNTuple of this layout");
    if (info_.find_branch(source.name) >= 0) refuse("added twice");
    rootio::BranchInfo b;
    b.name = source.name;
    b.title = source.title;
    b.leaf = source.leaf;
    if (!source.leaf.count_leaf.empty()) {
        b.count_branch = info_.find_branch(source.leaf.count_leaf);
        if (b.count_branch < 0) refuse("count branch " + rootio::printable(source.leaf.count_leaf) + " must be added before it");
        const rootio::BranchInfo& count = info_.branches[static_cast<size_t>(b.count_branch)];
        if (!rootio::leaf_type_is_integer(count.leaf.type) || count.leaf.type == rootio::LeafType::Bool ||
            count.count_branch >= 0)
            refuse("count branch " + rootio::printable(count.name) + " is not an integer scalar");
    }
    info_.branches.push_back(std::move(b));
    bytes_.emplace_back();
    return static_cast<int>(info_.branches.size() - 1);
}

// The collections first, so that every projection follows its source; then every branch
// in order as a top-level field, as tree_to_ntuple lays a tree out.
void NtupleOutput::lay_out()
{
    writer_.emplace(file_, info_.name);
    std::vector<int> collection_of(info_.branches.size(), -1);  // by count branch
    std::vector<std::pair<int, int>> role(info_.branches.size(), {-1, -1});  // collection, member (-1: count)
    for (size_t i = 0; i < info_.branches.size(); ++i) {
        const rootio::BranchInfo& b = info_.branches[i];
        if (b.count_branch < 0) continue;
        int& c = collection_of[static_cast<size_t>(b.count_branch)];
        if (c < 0) {
            c = static_cast<int>(collections_.size());
            collections_.push_back({b.count_branch, writer_->add_collection("_collection" + std::to_string(c)), {}});
            role[static_cast<size_t>(b.count_branch)] = {c, -1};
        }
        Collection& col = collections_[static_cast<size_t>(c)];
        role[i] = {c, static_cast<int>(col.members.size())};
        col.members.push_back({static_cast<int>(i), writer_->add_member(col.handle, b.name, b.leaf.type)});
    }
    for (size_t i = 0; i < info_.branches.size(); ++i) {
        const rootio::BranchInfo& b = info_.branches[i];
        const auto [c, m] = role[i];
        if (c < 0) {
            scalars_.emplace_back(static_cast<int>(i), writer_->add_fundamental(b.name, b.leaf.type));
            continue;
        }
        Collection& col = collections_[static_cast<size_t>(c)];
        if (m >= 0)
            writer_->add_projected_rvec(b.name, col.handle, col.members[static_cast<size_t>(m)].slot);
        else
            writer_->add_cardinality(b.name, col.handle, rootio::leaf_type_size(b.leaf.type) == 8);
    }
}

void NtupleOutput::set_entry_bytes(int branch, std::span<const uint8_t> be)
{
    std::vector<uint8_t>& out = bytes_.at(static_cast<size_t>(branch));
    out.assign(be.begin(), be.end());
}

void NtupleOutput::fill()
{
    if (!writer_) lay_out();
    for (const auto& [branch, slot] : scalars_) writer_->set_values_be(slot, bytes_[static_cast<size_t>(branch)]);
    for (const Collection& col : collections_) {
        const rootio::BranchInfo& count = info_.branches[static_cast<size_t>(col.count_branch)];
        const std::vector<uint8_t>& count_bytes = bytes_[static_cast<size_t>(col.count_branch)];
        if (count_bytes.size() != static_cast<size_t>(count.element_size()))
            rootio::fail(file_.path(), "branch " + rootio::printable(count.name), "entry holds no count");
        const uint64_t n = count_value(count.leaf.type, count_bytes);
        writer_->set_size(col.handle, n);
        for (const Member& m : col.members) {
            const rootio::BranchInfo& b = info_.branches[static_cast<size_t>(m.branch)];
            const std::vector<uint8_t>& bytes = bytes_[static_cast<size_t>(m.branch)];
            if (bytes.size() != n * static_cast<uint64_t>(b.element_size()))
                rootio::fail(file_.path(), "branch " + rootio::printable(b.name) + " entry " + std::to_string(info_.entries),
                             "holds " + std::to_string(bytes.size() / static_cast<size_t>(b.element_size())) +
                                 " elements where its count says " + std::to_string(n));
            writer_->set_values_be(m.slot, bytes);
        }
    }
    writer_->fill();
    ++info_.entries;
}

void NtupleOutput::write()
{
    if (!writer_) lay_out();
    writer_->write();
}

}  // namespace convert
