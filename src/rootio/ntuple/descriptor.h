#pragma once
// What an RNTuple's header, footer and page lists say, as plain data: fields, columns,
// clusters and where every page lies. Parsed and checked once when the RNTuple is opened;
// everything later (entry values, bulk reads, page copies) works from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rootio/ntuple/format_constants.h"

namespace rootio::ntuple {

// A byte range of the file (standard and large locators alike).
struct Locator {
    uint64_t offset = 0;
    uint64_t size = 0;
};

struct FieldDescriptor {
    uint32_t id = 0;
    uint32_t parent = 0;  // a top-level field is its own parent
    uint32_t field_version = 0;
    uint32_t type_version = 0;
    FieldRole role = FieldRole::Leaf;
    uint16_t flags = 0;
    std::string name;
    std::string type_name;  // empty for untyped collections and records
    std::string type_alias;
    std::string description;
    uint64_t array_size = 0;                  // repetitive fields (std::array, std::bitset)
    std::optional<uint32_t> projection_source;  // projected fields
    std::optional<uint32_t> type_checksum;
    std::vector<uint32_t> children;  // subfield ids in order
    // Columns in order (aliases resolved to physical ids), grouped by representation:
    // representations[r] are the columns of representation r.
    std::vector<std::vector<uint32_t>> representations;

    bool is_top_level() const { return parent == id; }
    bool is_projected() const { return projection_source.has_value(); }
    bool is_repetitive() const { return flags & field_flags::kRepetitive; }
};

struct ColumnDescriptor {
    uint32_t id = 0;  // physical column id
    ColumnType type = ColumnType::Byte;
    uint16_t bits_on_storage = 0;
    uint32_t field = 0;
    uint16_t flags = 0;
    uint16_t representation = 0;
    int64_t first_element = 0;  // deferred columns: elements before it read as zeros
    std::optional<std::pair<double, double>> range;  // Real32Quant: [min, max]

    const ColumnTypeInfo& info() const { return column_type_info(type); }
    bool is_deferred() const { return flags & column_flags::kDeferred; }
};

struct PageDescriptor {
    uint32_t elements = 0;
    bool has_checksum = false;  // an XXH3-64 of the stored bytes follows them
    Locator locator;
};

// One column's pages in one cluster.
struct ColumnRange {
    bool suppressed = false;     // a secondary representation, or no pages in this cluster
    int64_t first_element = 0;   // element index of the column where this cluster starts
    uint32_t compression = 0;    // settings (algorithm * 100 + level)
    uint64_t elements = 0;       // sum of the pages' elements
    std::vector<PageDescriptor> pages;
};

struct ClusterDescriptor {
    uint64_t first_entry = 0;
    uint64_t entries = 0;
    // Indexed by physical column id; a column the page list does not mention is
    // suppressed here (columns added later, in the header extension).
    std::vector<ColumnRange> columns;
};

struct ClusterGroupDescriptor {
    uint64_t min_entry = 0;
    uint64_t entry_span = 0;
    uint32_t clusters = 0;
    uint64_t page_list_length = 0;
    Locator page_list;
};

struct Descriptor {
    std::string name;
    std::string description;
    std::string writer;
    std::vector<FieldDescriptor> fields;
    std::vector<ColumnDescriptor> columns;  // physical columns by id
    std::vector<uint32_t> top_level;        // top-level field ids in order
    std::vector<ClusterGroupDescriptor> cluster_groups;
    std::vector<ClusterDescriptor> clusters;  // every group's clusters, in entry order
    uint64_t entries = 0;
    // Alias columns as (physical column, projected field), header then extension order;
    // finish_descriptor() attaches them to their fields.
    std::vector<std::pair<uint32_t, uint32_t>> alias_columns;
    uint64_t feature_flags = 0;

    // The top-level field with this name, or nullopt.
    std::optional<uint32_t> find_top_level(std::string_view name) const;
    // "a.b.c" for a subfield (names from the top-level field down).
    std::string field_path(uint32_t id) const;
    // The cluster holding `entry` (entry < entries).
    size_t cluster_of(uint64_t entry) const;
};

}  // namespace rootio::ntuple
