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
#include "ntuple_branches.h"

namespace convert {

using rootio::LeafType;
using namespace rootio::ntuple;

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
        if (b.kind == BranchKind::Array) {
            b.branch = tree.add_branch(b.name, b.type, count_branch.at(b.collection));
        } else {
            b.branch = tree.add_branch(b.name, b.type);
            if (b.kind == BranchKind::Count && !count_branch.count(b.collection)) count_branch[b.collection] = b.name;
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
            if (b.kind != BranchKind::Count) value_column[i] = active_column(d, d.fields[b.field], k, 0);
            if (b.kind != BranchKind::Scalar) index_column[i] = active_column(d, d.fields[b.collection], k, 0);
            if (value_column[i]) columns.push_back(*value_column[i]);
            if (index_column[i]) columns.push_back(*index_column[i]);
            if (b.kind == BranchKind::Scalar && !value_column[i])
                rootio::fail(reader->context(), "field " + rootio::printable(b.name), "has no column in cluster " + std::to_string(k));
        }
        cache.load(k, columns);
        const ClusterDescriptor& cluster = d.clusters[k];
        for (uint64_t e = 0; e < cluster.entries; ++e) {
            for (size_t i = 0; i < plan.size(); ++i) {
                const BranchPlan& b = plan[i];
                bytes.clear();
                uint64_t begin = e, end = e + 1;
                if (b.kind != BranchKind::Scalar) {
                    if (!index_column[i])
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name), "collection without offsets in cluster " + std::to_string(k));
                    const auto offsets = cache.get(*index_column[i]).as<uint64_t>();
                    if (e >= offsets.size())
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name), "collection offsets short of the cluster's entries");
                    begin = e ? offsets[e - 1] : 0;
                    end = offsets[e];
                    if (end < begin) rootio::fail(reader->context(), "field " + rootio::printable(b.name) + " entry " + std::to_string(cluster.first_entry + e), "offsets run backwards");
                }
                if (b.kind == BranchKind::Count) {
                    if (b.type == LeafType::UInt64) tree.set_value<uint64_t>(b.branch, end - begin);
                    else tree.set_value<uint32_t>(b.branch, static_cast<uint32_t>(end - begin));
                    continue;
                }
                if (end > begin) {
                    const ColumnData* values = value_column[i] ? cache.find(*value_column[i]) : nullptr;
                    if (!values || end > values->elements)
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name) + " entry " + std::to_string(cluster.first_entry + e), "elements beyond the cluster's");
                    const auto convert = elements_to_bytes(d.columns[*value_column[i]].type, b.type);
                    if (!convert)
                        rootio::fail(reader->context(), "field " + rootio::printable(b.name), "has a column of a type that holds no single values");
                    append_elements(bytes, convert, b.type, *values, begin, end);
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
