#pragma once
// Payloads (pages, envelopes) larger than the anchor's maximum key size, stored as several
// RBlob records: the first record holds the payload's start and, in its last bytes, the
// file offsets of the others (little-endian u64 each), which hold the rest in order, each
// at most the maximum key size. The locator points at the first record's data and counts
// the whole payload. This lifts the 1 GiB limit of one key.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/io/byte_source.h"

namespace rootio::ntuple {

// How a payload of `nbytes` is split when its records hold at most `max_key_size` bytes.
struct BlobChunks {
    size_t count = 1;         // records; 1 when the payload fits in one
    uint64_t first_data = 0;  // payload bytes in the first record (before the offsets)
};
BlobChunks plan_blob_chunks(uint64_t nbytes, uint64_t max_key_size);

// Bytes to read at the locator's offset first: the whole payload when it fits in one
// record, else the first record (payload start and the others' offsets).
inline uint64_t first_chunk_bytes(uint64_t nbytes, uint64_t max_key_size)
{
    return max_key_size == 0 || nbytes <= max_key_size ? nbytes : max_key_size;
}

// `payload` (the whole payload's buffer) holds the first record as read; appends to
// `ranges` the reads that fill in the rest, checking each record lies inside a file of
// `file_size` bytes (RootError naming `context` and `what` otherwise). Nothing is appended
// for a payload that fits in one record.
void add_chunk_reads(std::span<uint8_t> payload, uint64_t max_key_size, int64_t file_size, std::string_view context,
                     std::string_view what, std::vector<ByteRange>& ranges);

// Reads the payload of `out.size()` bytes whose locator points at `seek`, all its records.
// Errors name the file and `object` ("RNTuple NAME: header").
void read_blob(const RootFile& file, uint64_t seek, std::span<uint8_t> out, uint64_t max_key_size,
               std::string_view object);

// Writes `data` then `trailer` as one payload (split into records past `max_key_size`) and
// returns the offset of its first byte, what the locator points at.
int64_t write_chunked_blob(FileWriter& file, std::span<const uint8_t> data, std::span<const uint8_t> trailer,
                           int64_t objlen, uint64_t max_key_size);

}  // namespace rootio::ntuple
