#include "ntuple_to_tree.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "rootio/tree/tree_writer.h"

namespace convert {

namespace {

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

enum class Kind { Scalar, Count, Array };

struct BranchPlan {
    Kind kind;
    std::string name;
    LeafType type;
    uint32_t field = 0;       // Scalar: the field; Array: the projected element field
    uint32_t collection = 0;  // Count, Array: the collection field
    int branch = -1;          // in the tree being written
};

// Element `i` of a column's decoded cluster (page_decoder.h's memory form), as `leaf`,
// big-endian, appended to `out`.
void append_element(std::vector<uint8_t>& out, const ColumnData& data, ColumnType column, size_t i, LeafType leaf)
{
    const ColumnTypeInfo& info = column_type_info(column);
    const uint8_t* p = data.values.data();
    double real = 0;
    int64_t sint = 0;
    uint64_t uint = 0;
    bool is_real = false, is_signed = false;
    if (info.kind == ValueKind::Real) {
        is_real = true;
        if (column == ColumnType::Real64 || column == ColumnType::SplitReal64)
            real = reinterpret_cast<const double*>(p)[i];
        else
            real = reinterpret_cast<const float*>(p)[i];
    } else if (info.kind == ValueKind::Index) {
        uint = reinterpret_cast<const uint64_t*>(p)[i];
    } else {
        const size_t size = info.max_bits <= 8 ? 1 : info.max_bits / 8;
        is_signed = info.is_signed && info.kind != ValueKind::Char;
        switch (size) {
        case 1: is_signed ? sint = reinterpret_cast<const int8_t*>(p)[i] : uint = p[i]; break;
        case 2: is_signed ? sint = reinterpret_cast<const int16_t*>(p)[i] : uint = reinterpret_cast<const uint16_t*>(p)[i]; break;
        case 4: is_signed ? sint = reinterpret_cast<const int32_t*>(p)[i] : uint = reinterpret_cast<const uint32_t*>(p)[i]; break;
        default: is_signed ? sint = reinterpret_cast<const int64_t*>(p)[i] : uint = reinterpret_cast<const uint64_t*>(p)[i]; break;
        }
    }
    const auto put = [&out](auto v) {
        const size_t at = out.size();
        out.resize(at + sizeof v);
        rootio::store_be(out.data() + at, v);
    };
    const auto as = [&](auto zero) {
        using T = decltype(zero);
        return is_real ? static_cast<T>(real) : is_signed ? static_cast<T>(sint) : static_cast<T>(uint);
    };
    switch (leaf) {
    case LeafType::Bool: put(static_cast<uint8_t>(as(uint64_t{}) != 0)); break;
    case LeafType::Int8: put(as(int8_t{})); break;
    case LeafType::UInt8: put(as(uint8_t{})); break;
    case LeafType::Int16: put(as(int16_t{})); break;
    case LeafType::UInt16: put(as(uint16_t{})); break;
    case LeafType::Int32: put(as(int32_t{})); break;
    case LeafType::UInt32: put(as(uint32_t{})); break;
    case LeafType::Int64: put(as(int64_t{})); break;
    case LeafType::UInt64: put(as(uint64_t{})); break;
    case LeafType::Float: put(as(float{})); break;
    case LeafType::Double: put(as(double{})); break;
    }
}

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
            fields.push_back({Kind::Count, f.name, wide ? LeafType::UInt64 : LeafType::UInt32, id, *f.projection_source});
        } else if (f.is_projected() && f.type_name.starts_with(kRVecTypePrefix) && f.children.size() == 1) {
            const FieldDescriptor& element = d.fields[f.children[0]];
            const auto type = leaf_type_of(element.type_name);
            const FieldDescriptor& source = d.fields[*f.projection_source];
            if (!type || element.role != FieldRole::Leaf || !source.is_top_level() || source.role != FieldRole::Collection)
                refuse(f, "is not an RVec of a fundamental type projected from a top-level collection");
            fields.push_back({Kind::Array, f.name, *type, f.children[0], source.id});
        } else if (!f.is_projected() && f.role == FieldRole::Collection && f.children.size() == 1 &&
                   (f.type_name.starts_with("std::vector<") || f.type_name.starts_with(kRVecTypePrefix)) &&
                   leaf_type_of(d.fields[f.children[0]].type_name)) {
            // A vector of its own: counted by a branch of its own, n + its name.
            const FieldDescriptor& element = d.fields[f.children[0]];
            fields.push_back({Kind::Array, f.name, *leaf_type_of(element.type_name), element.id, id});
            fields.push_back({Kind::Count, "n" + f.name, LeafType::UInt32, 0, id});
            std::swap(fields.back(), fields[fields.size() - 2]);
        } else if (const auto type = leaf_type_of(f.type_name); type && f.role == FieldRole::Leaf) {
            fields.push_back({Kind::Scalar, f.name, *type, id, 0});
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
        if (b.kind == Kind::Array) arrays_of[b.collection].push_back(&b);
        if (b.kind == Kind::Count && !count_of.count(b.collection)) count_of[b.collection] = &b;
    }
    std::vector<BranchPlan> plan;
    std::map<uint32_t, bool> counted;
    for (const BranchPlan& b : fields) {
        if (b.kind == Kind::Count && counted[b.collection] && count_of[b.collection] == &b) continue;  // placed already
        if (b.kind == Kind::Array && !counted[b.collection]) {
            if (const auto it = count_of.find(b.collection); it != count_of.end())
                plan.push_back(*it->second);
            else
                plan.push_back({Kind::Count, count_name(arrays_of[b.collection]), LeafType::UInt32, 0, b.collection});
            counted[b.collection] = true;
        }
        if (b.kind == Kind::Count && count_of[b.collection] == &b) counted[b.collection] = true;
        plan.push_back(b);
    }
    for (size_t i = 0; i < plan.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (plan[i].name == plan[j].name)
                rootio::fail(reader.context(), "branch " + rootio::printable(plan[i].name), "would be written twice");
    return plan;
}

}  // namespace

ConvertCounts ntuple_to_tree(const std::string& input, const std::string& output, const std::string& name)
{
    const std::unique_ptr<rootio::RootFile> in = rootio::RootFile::open(input);
    const std::unique_ptr<NtupleReader> reader = NtupleReader::open(*in, name);
    const Descriptor& d = reader->descriptor();
    std::vector<BranchPlan> plan = plan_branches(*reader);

    rootio::FileWriter file(output, in->compression());
    rootio::TreeWriter tree(file, d.name, "");
    std::map<uint32_t, std::string> count_branch;  // collection -> the count its arrays use
    for (BranchPlan& b : plan) {
        if (b.kind == Kind::Array) {
            b.branch = tree.add_branch(b.name, b.type, count_branch.at(b.collection));
        } else {
            b.branch = tree.add_branch(b.name, b.type);
            if (b.kind == Kind::Count && !count_branch.count(b.collection)) count_branch[b.collection] = b.name;
        }
    }

    ClusterCache cache(*reader);
    std::vector<uint32_t> columns;
    // Per branch in this cluster: the value column (Scalar, Array) and the index column
    // (Count, Array); nullopt for a column with no elements here.
    std::vector<std::optional<uint32_t>> value_column(plan.size()), index_column(plan.size());
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k < d.clusters.size(); ++k) {
        columns.clear();
        for (size_t i = 0; i < plan.size(); ++i) {
            const BranchPlan& b = plan[i];
            value_column[i] = index_column[i] = std::nullopt;
            if (b.kind != Kind::Count) value_column[i] = active_column(d, d.fields[b.field], k, 0);
            if (b.kind != Kind::Scalar) index_column[i] = active_column(d, d.fields[b.collection], k, 0);
            if (value_column[i]) columns.push_back(*value_column[i]);
            if (index_column[i]) columns.push_back(*index_column[i]);
            if (b.kind == Kind::Scalar && !value_column[i])
                rootio::fail(reader->context(), "field " + rootio::printable(b.name), "has no column in cluster " + std::to_string(k));
        }
        cache.load(k, columns);
        const ClusterDescriptor& cluster = d.clusters[k];
        for (uint64_t e = 0; e < cluster.entries; ++e) {
            for (size_t i = 0; i < plan.size(); ++i) {
                const BranchPlan& b = plan[i];
                bytes.clear();
                uint64_t begin = e, end = e + 1;
                if (b.kind != Kind::Scalar) {
                    if (!index_column[i])
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name), "collection without offsets in cluster " + std::to_string(k));
                    const auto offsets = cache.get(*index_column[i]).as<uint64_t>();
                    if (e >= offsets.size())
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name), "collection offsets short of the cluster's entries");
                    begin = e ? offsets[e - 1] : 0;
                    end = offsets[e];
                    if (end < begin) rootio::fail(reader->context(), "field " + rootio::printable(b.name) + " entry " + std::to_string(cluster.first_entry + e), "offsets run backwards");
                }
                if (b.kind == Kind::Count) {
                    if (b.type == LeafType::UInt64) tree.set_value<uint64_t>(b.branch, end - begin);
                    else tree.set_value<uint32_t>(b.branch, static_cast<uint32_t>(end - begin));
                    continue;
                }
                if (end > begin) {
                    const ColumnData* values = value_column[i] ? cache.find(*value_column[i]) : nullptr;
                    if (!values || end > values->elements)
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name) + " entry " + std::to_string(cluster.first_entry + e), "elements beyond the cluster's");
                    const ColumnType type = d.columns[*value_column[i]].type;
                    for (uint64_t j = begin; j < end; ++j) append_element(bytes, *values, type, j, b.type);
                }
                tree.set_entry_bytes(b.branch, bytes);
            }
            tree.fill();
        }
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
