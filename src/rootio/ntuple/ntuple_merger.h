#pragma once
// Concatenates one RNTuple of several files of the same structure into a new file, entries
// in input order, without decoding a page (the framework's fast merge): the first input's
// header envelope and every input's compressed pages (with their checksums) are copied
// byte for byte; only the page list (one cluster group of every input's clusters, element
// offsets carried on), the footer and the anchor are written anew. Index columns hold
// cluster-local offsets, so the pages need no rewriting.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rootio/file/merge_inputs.h"
#include "rootio/ntuple/descriptor.h"

namespace rootio::ntuple {

struct NtupleMergeCounts {
    uint64_t entries = 0;
    uint64_t clusters = 0;
    uint64_t pages_copied = 0;
    uint64_t bytes_copied = 0;
};

// The first way `other` differs from `first` in structure (fields, types, columns,
// encodings, alias columns), as a phrase naming the field; empty when they agree.
std::string first_structure_difference(const Descriptor& first, const Descriptor& other);

// Every input is opened and checked before `output` is created (compressed with the first
// input's setting), so a missing, corrupt or mismatched input leaves nothing behind; a fault
// while copying removes the output. Throws RootError naming the file and the first
// difference. Inputs whose schema was extended in the footer are refused. The readers of
// the check are held for the copy up to `kept_readers_bytes` (roughly), and read again
// past it; so are the files, as MergeInputs keeps them.
NtupleMergeCounts merge_ntuples(const std::string& output, MergeInputs& inputs, std::string_view name,
                                int64_t kept_readers_bytes = int64_t{256} << 20);
NtupleMergeCounts merge_ntuples(const std::string& output, std::span<const std::string> inputs,
                                std::string_view name);

}  // namespace rootio::ntuple
