#pragma once
// Parses the three envelope kinds into a Descriptor, checking what later reads rely on:
// ids in range, subfields after their parents, column types known with their bit widths,
// page lists consistent with the footer. Every failure is RootError starting with `context`.
#include <cstdint>
#include <span>
#include <string_view>

#include "rootio/ntuple/descriptor.h"

namespace rootio::ntuple {

// The payload of an envelope of `type` (between preamble and checksum), after checking its
// stored length and its XXH3-64 checksum. `checksum` receives the stored checksum.
std::span<const uint8_t> envelope_payload(std::span<const uint8_t> envelope, EnvelopeType type, std::string_view context,
                                          uint64_t* checksum = nullptr);

// Header payload: name, description, writer and the schema.
void read_header(std::span<const uint8_t> payload, Descriptor& d, std::string_view context);
// Footer payload: the schema extension and the cluster groups. `header_checksum` must match
// the one the footer names.
void read_footer(std::span<const uint8_t> payload, uint64_t header_checksum, Descriptor& d, std::string_view context);
// One cluster group's page list payload: appends its clusters.
void read_page_list(std::span<const uint8_t> payload, uint64_t header_checksum, const ClusterGroupDescriptor& group,
                    Descriptor& d, std::string_view context);
// After the last page list: links fields to children and columns, checks the schema
// against itself and the clusters against each other. More entries than
// kMaxEntriesPerFileByte per byte of the file are damage: entries of columnless fields
// (empty classes) cost nothing to claim but time to read.
inline constexpr uint64_t kMaxEntriesPerFileByte = 16;
void finish_descriptor(Descriptor& d, uint64_t file_size, std::string_view context);

}  // namespace rootio::ntuple
