#pragma once
// The RNTuple's descriptive envelopes as the writer serialises them: the header (schema),
// the page list (clusters and their pages' locators) and the footer (cluster group), and
// the anchor the ROOT::RNTuple key holds.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rootio/format/bytes.h"
#include "rootio/ntuple/format_constants.h"
#include "rootio/ntuple/page_sink.h"

namespace rootio::ntuple {

struct SchemaField {
    uint32_t parent = 0;  // its own id for a top-level field
    FieldRole role = FieldRole::Leaf;
    uint16_t flags = 0;
    std::string name;
    std::string type_name;  // empty for untyped collections and records
    uint32_t source = 0;    // the source field, when flags has field_flags::kProjected
};

struct SchemaColumn {
    ColumnType type = ColumnType::Byte;
    uint32_t field = 0;
};

struct AliasColumn {
    uint32_t physical = 0;
    uint32_t field = 0;
};

struct Schema {
    std::vector<SchemaField> fields;
    std::vector<SchemaColumn> columns;
    std::vector<AliasColumn> aliases;
};

struct ClusterRecord {
    uint64_t first_entry = 0;
    uint64_t entries = 0;
    // Per column: the element index at the cluster's start, and its pages (indices into
    // the page sink's records, in element order).
    std::vector<uint64_t> element_offset;
    std::vector<std::vector<uint32_t>> pages;
};

// Each returns the envelope's checksum; `out` receives the whole envelope.
uint64_t serialize_header(std::vector<uint8_t>& out, std::string_view name, std::string_view description,
                          std::string_view writer, const Schema& schema);
uint64_t serialize_page_list(std::vector<uint8_t>& out, uint64_t header_checksum,
                             std::span<const ClusterRecord> clusters, std::span<const PageRecord> pages,
                             int compression);

struct EnvelopeLocation {
    uint64_t offset = 0;  // of the stored bytes
    uint64_t size = 0;    // stored (compressed) bytes
    uint64_t length = 0;  // uncompressed
};

uint64_t serialize_footer(std::vector<uint8_t>& out, uint64_t header_checksum, uint64_t entries,
                          uint32_t cluster_count, const EnvelopeLocation& page_list);

// The anchor object as the ROOT::RNTuple key stores it (big-endian, byte count and class
// version first, then its XXH3-64).
void stream_anchor(ByteWriter& out, const EnvelopeLocation& header, const EnvelopeLocation& footer,
                   uint64_t max_key_size);

}  // namespace rootio::ntuple
