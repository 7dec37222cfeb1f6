#include "ntuple_branches.h"

#include <algorithm>
#include <map>

#include "element_bytes.h"
#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/ntuple_writer.h"

namespace convert {

using rootio::LeafType;
using namespace rootio::ntuple;


std::optional<LeafType> leaf_type_of(std::string_view type_name)
{
    for (LeafType t : {LeafType::Bool, LeafType::Int8, LeafType::UInt8, LeafType::Int16, LeafType::UInt16,
                       LeafType::Int32, LeafType::UInt32, LeafType::Int64, LeafType::UInt64, LeafType::Float,
                       LeafType::Double})
        if (fundamental_type_name(t) == type_name) return t;
    return std::nullopt;
}

namespace {

// `n` + the longest common prefix of the arrays' names, cut at its last underscore.
std::string count_name(const std::vector<const BranchPlan*>& arrays)
{
    std::string prefix = arrays.front()->name;
    for (const BranchPlan* a : arrays) {
        size_t k = 0;
        while (k < prefix.size() && k < a->name.size() && prefix[k] == a->name[k]) ++k;
        prefix.resize(k);
    }
    if (const size_t cut = prefix.rfind('_'); cut != std::string::npos && cut > 0) prefix.resize(cut);
    return "n" + prefix;
}

}  // namespace

std::vector<BranchPlan> plan_branches(const NtupleReader& reader)
{
    const Descriptor& d = reader.descriptor();
    const auto refuse = [&](const FieldDescriptor& f, const std::string& why) {
        rootio::fail(reader.context(), "field " + rootio::printable(f.name), why);
    };
    std::vector<BranchPlan> fields;
    for (uint32_t id : d.top_level) {
        const FieldDescriptor& f = d.fields[id];
        if (!f.is_projected() && f.role != FieldRole::Leaf && f.type_name.empty()) continue;  // untyped collection
        if (f.type_name.starts_with(kCardinalityTypePrefix)) {
            const bool wide = f.type_name == "ROOT::RNTupleCardinality<std::uint64_t>";
            fields.push_back({BranchKind::Count, f.name, wide ? LeafType::UInt64 : LeafType::UInt32, id, *f.projection_source});
        } else if (f.is_projected() && f.type_name.starts_with(kRVecTypePrefix) && f.children.size() == 1) {
            const FieldDescriptor& element = d.fields[f.children[0]];
            const auto type = leaf_type_of(element.type_name);
            const FieldDescriptor& source = d.fields[*f.projection_source];
            if (!type || element.role != FieldRole::Leaf || !source.is_top_level() || source.role != FieldRole::Collection)
                refuse(f, "is not an RVec of a fundamental type projected from a top-level collection");
            fields.push_back({BranchKind::Array, f.name, *type, f.children[0], source.id});
        } else if (!f.is_projected() && f.role == FieldRole::Collection && f.children.size() == 1 &&
                   (f.type_name.starts_with("std::vector<") || f.type_name.starts_with(kRVecTypePrefix)) &&
                   leaf_type_of(d.fields[f.children[0]].type_name)) {
            // A vector of its own: counted by a branch of its own, n + its name.
            const FieldDescriptor& element = d.fields[f.children[0]];
            fields.push_back({BranchKind::Array, f.name, *leaf_type_of(element.type_name), element.id, id});
            fields.push_back({BranchKind::Count, "n" + f.name, LeafType::UInt32, 0, id});
            std::swap(fields.back(), fields[fields.size() - 2]);
        } else if (const auto type = leaf_type_of(f.type_name); type && f.role == FieldRole::Leaf) {
            fields.push_back({BranchKind::Scalar, f.name, *type, id, 0});
        } else {
            refuse(f, "of type " + rootio::printable(f.type_name.empty() ? "-" : f.type_name) +
                          " has no place in a flat tree");
        }
    }

    // Each array's count comes before it: its collection's first cardinality field, or a
    // new one named after the arrays.
    std::map<uint32_t, std::vector<const BranchPlan*>> arrays_of;
    std::map<uint32_t, const BranchPlan*> count_of;
    for (const BranchPlan& b : fields) {
        if (b.kind == BranchKind::Array) arrays_of[b.collection].push_back(&b);
        if (b.kind == BranchKind::Count && !count_of.count(b.collection)) count_of[b.collection] = &b;
    }
    std::vector<BranchPlan> plan;
    std::map<uint32_t, bool> counted;
    for (const BranchPlan& b : fields) {
        if (b.kind == BranchKind::Count && counted[b.collection] && count_of[b.collection] == &b) continue;  // placed already
        if (b.kind == BranchKind::Array && !counted[b.collection]) {
            if (const auto it = count_of.find(b.collection); it != count_of.end())
                plan.push_back(*it->second);
            else
                plan.push_back({BranchKind::Count, count_name(arrays_of[b.collection]), LeafType::UInt32, 0, b.collection});
            counted[b.collection] = true;
        }
        if (b.kind == BranchKind::Count && count_of[b.collection] == &b) counted[b.collection] = true;
        plan.push_back(b);
    }
    for (size_t i = 0; i < plan.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (plan[i].name == plan[j].name)
                rootio::fail(reader.context(), "branch " + rootio::printable(plan[i].name), "would be written twice");
    return plan;
}

NtupleBranches::NtupleBranches(const NtupleReader& reader)
    : reader_(reader), plan_(plan_branches(reader)), cache_(reader)
{
    const Descriptor& d = reader.descriptor();
    info_.name = d.name;
    info_.entries = static_cast<int64_t>(d.entries);
    std::map<uint32_t, int> count_of;  // collection -> its count branch
    for (size_t i = 0; i < plan_.size(); ++i) {
        const BranchPlan& b = plan_[i];
        rootio::BranchInfo branch;
        branch.name = b.name;
        branch.leaf.name = b.name;
        branch.leaf.type = b.type;
        branch.leaf.title = b.name;
        branch.entries = info_.entries;
        if (b.kind == BranchKind::Count && !count_of.count(b.collection)) count_of[b.collection] = static_cast<int>(i);
        if (b.kind == BranchKind::Array) {
            branch.count_branch = count_of.at(b.collection);
            rootio::BranchInfo& count = info_.branches[static_cast<size_t>(branch.count_branch)];
            count.leaf.is_range = true;
            branch.leaf.count_leaf = count.leaf.name;
            branch.leaf.title += "[" + count.leaf.name + "]";
        }
        branch.title = branch.leaf.title + "/" + rootio::leaf_type_letter(b.type);
        info_.branches.push_back(std::move(branch));
    }
    active_.assign(plan_.size(), false);
    read_alone_.assign(plan_.size(), false);
    has_.assign(plan_.size(), false);
    value_column_.resize(plan_.size());
    convert_.resize(plan_.size());
    index_column_.resize(plan_.size());
    bytes_.resize(plan_.size());
}

void NtupleBranches::set_active(std::vector<size_t> branches)
{
    active_.assign(plan_.size(), false);
    for (size_t i : branches) active_[i] = true;
    active_held_ = false;
}

void NtupleBranches::fail(const BranchPlan& b, int64_t entry, const std::string& why) const
{
    rootio::fail(reader_.context(), "field " + rootio::printable(b.name) + " entry " + std::to_string(entry), why);
}

void NtupleBranches::load(size_t cluster, const std::vector<bool>& wanted)
{
    const Descriptor& d = reader_.descriptor();
    // A cache that failed or moved on holds nothing of this cluster (a failed load starts
    // its cluster anew).
    if (!cache_.loaded() || cache_.cluster() != cluster) {
        has_.assign(plan_.size(), false);
        active_held_ = false;
    }
    columns_.clear();
    for (size_t i = 0; i < plan_.size(); ++i) {
        if (!wanted[i] || has_[i]) continue;
        has_[i] = true;
        const BranchPlan& b = plan_[i];
        value_column_[i] = index_column_[i] = std::nullopt;
        if (b.kind != BranchKind::Count) value_column_[i] = active_column(d, d.fields[b.field], cluster, 0);
        if (value_column_[i]) convert_[i] = elements_to_bytes(d.columns[*value_column_[i]].type, b.type);
        if (b.kind != BranchKind::Scalar) index_column_[i] = active_column(d, d.fields[b.collection], cluster, 0);
        if (value_column_[i]) columns_.push_back(*value_column_[i]);
        if (index_column_[i]) columns_.push_back(*index_column_[i]);
    }
    cache_.load(cluster, columns_);
}

size_t NtupleBranches::cluster_of(int64_t entry, const BranchPlan& b)
{
    const Descriptor& d = reader_.descriptor();
    if (entry < 0 || entry >= info_.entries) fail(b, entry, "is beyond the RNTuple's entries");
    const auto holds = [entry](const ClusterDescriptor& cl) {
        return static_cast<uint64_t>(entry) >= cl.first_entry && static_cast<uint64_t>(entry) < cl.first_entry + cl.entries;
    };
    if (last_cluster_ < d.clusters.size() && holds(d.clusters[last_cluster_])) return last_cluster_;
    const auto it = std::find_if(d.clusters.begin(), d.clusters.end(), holds);
    if (it == d.clusters.end()) fail(b, entry, "lies in no cluster");
    last_cluster_ = static_cast<size_t>(it - d.clusters.begin());
    return last_cluster_;
}

void NtupleBranches::prepare_entry(int64_t entry)
{
    if (plan_.empty()) return;
    const size_t k = cluster_of(entry, plan_.front());
    whole_entry_ = entry;
    // A skim reads many selected entries of a cluster: after the first, its columns are held.
    if (active_held_ && cache_.loaded() && cache_.cluster() == k) return;
    load(k, active_);
    active_held_ = true;
}

std::span<const uint8_t> NtupleBranches::entry_bytes(size_t branch, int64_t entry)
{
    const Descriptor& d = reader_.descriptor();
    const BranchPlan& b = plan_[branch];
    const size_t k = cluster_of(entry, b);
    // A branch asked for by itself (not within the whole-entry read just prepared) is
    // fetched with the others so asked, cluster by cluster.
    if (entry != whole_entry_) read_alone_[branch] = true;
    if (!cache_.loaded() || cache_.cluster() != k || !has_[branch]) {
        // Until the loop leaves the first cluster it reads it is still finding out which those
        // are: that cluster takes every active branch with them, so learning is one load, not
        // one per branch first asked for (the active ones hold what a skim's selection reads).
        if (learning_ && cache_.loaded() && cache_.cluster() != k) learning_ = false;
        if (learning_) {
            learn_wanted_ = read_alone_;
            for (size_t i = 0; i < plan_.size(); ++i) learn_wanted_[i] = learn_wanted_[i] || active_[i];
            load(k, learn_wanted_);
        } else {
            load(k, read_alone_);
        }
    }
    const uint64_t e = static_cast<uint64_t>(entry) - d.clusters[k].first_entry;
    std::vector<uint8_t>& out = bytes_[branch];
    out.clear();
    uint64_t begin = e, end = e + 1;
    if (b.kind != BranchKind::Scalar) {
        if (!index_column_[branch]) fail(b, entry, "collection without offsets in its cluster");
        const auto offsets = cache_.get(*index_column_[branch]).as<uint64_t>();
        if (e >= offsets.size()) fail(b, entry, "collection offsets short of the cluster's entries");
        begin = e ? offsets[e - 1] : 0;
        end = offsets[e];
        if (end < begin) fail(b, entry, "offsets run backwards");
    }
    if (b.kind == BranchKind::Count) {
        if (b.type == LeafType::UInt64) {
            out.resize(8);
            rootio::store_be<uint64_t>(out.data(), end - begin);
        } else {
            out.resize(4);
            rootio::store_be<uint32_t>(out.data(), static_cast<uint32_t>(end - begin));
        }
        return out;
    }
    if (end > begin) {
        const ColumnData* values = value_column_[branch] ? cache_.find(*value_column_[branch]) : nullptr;
        if (!values || end > values->elements) fail(b, entry, "elements beyond the cluster's");
        if (!convert_[branch]) fail(b, entry, "column of a type that holds no single values");
        append_elements(out, convert_[branch], b.type, *values, begin, end);
    }
    return out;
}

}  // namespace convert
