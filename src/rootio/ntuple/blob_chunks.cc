#include "rootio/ntuple/blob_chunks.h"

#include <algorithm>
#include <string>

#include "rootio/format/error.h"
#include "rootio/ntuple/envelope_reader.h"

namespace rootio::ntuple {

namespace {

constexpr uint64_t kOffsetSize = sizeof(uint64_t);

void store_offset(uint8_t* p, uint64_t v)
{
    for (size_t b = 0; b < kOffsetSize; ++b) p[b] = static_cast<uint8_t>(v >> (8 * b));
}

}  // namespace

BlobChunks plan_blob_chunks(uint64_t nbytes, uint64_t max_key_size)
{
    if (max_key_size == 0 || nbytes <= max_key_size) return {1, nbytes};
    // As many records as the payload needs, plus one when the others' offsets do not fit
    // in the room the last record leaves.
    uint64_t count = (nbytes + max_key_size - 1) / max_key_size;
    const uint64_t tail = nbytes % max_key_size;
    const uint64_t room = tail > 0 ? max_key_size - tail : 0;
    if ((count - 1) * kOffsetSize > room) ++count;
    const uint64_t offsets = (count - 1) * kOffsetSize;
    if (offsets >= max_key_size) return {0, 0};  // no room left for data: unusable
    return {static_cast<size_t>(count), max_key_size - offsets};
}

void add_chunk_reads(std::span<uint8_t> payload, uint64_t max_key_size, int64_t file_size, std::string_view context,
                     std::string_view what, std::vector<ByteRange>& ranges)
{
    const BlobChunks plan = plan_blob_chunks(payload.size(), max_key_size);
    if (plan.count == 0)
        fail(context, what, "of " + std::to_string(payload.size()) + " bytes cannot be split into records of " +
                                std::to_string(max_key_size));
    if (plan.count == 1) return;
    // The offsets sit where the second record's bytes go: take them out before any read
    // lands there.
    std::vector<uint64_t> offsets(plan.count - 1);
    for (size_t i = 0; i < offsets.size(); ++i)
        offsets[i] = load_le<uint64_t>(payload.data() + plan.first_data + i * kOffsetSize);
    uint64_t at = plan.first_data;
    for (const uint64_t offset : offsets) {
        const uint64_t n = std::min<uint64_t>(max_key_size, payload.size() - at);
        if (offset > static_cast<uint64_t>(file_size) || n > static_cast<uint64_t>(file_size) - offset)
            fail(context, what,
                 "continues outside the file (" + std::to_string(n) + " bytes at " + std::to_string(offset) + ")");
        ranges.push_back(ByteRange{static_cast<int64_t>(offset), payload.subspan(static_cast<size_t>(at), n)});
        at += n;
    }
}

void read_blob(const RootFile& file, uint64_t seek, std::span<uint8_t> out, uint64_t max_key_size,
               std::string_view object)
{
    const uint64_t first = first_chunk_bytes(out.size(), max_key_size);
    const uint64_t size = static_cast<uint64_t>(file.size());
    if (seek > size || first > size - seek)
        fail(file.path(), object,
             "lies outside the file (" + std::to_string(out.size()) + " bytes at " + std::to_string(seek) + ")");
    // The source names the file itself.
    file.read_at(static_cast<int64_t>(seek), out.first(static_cast<size_t>(first)), object);
    std::vector<ByteRange> rest;
    add_chunk_reads(out, max_key_size, file.size(), file.path(), object, rest);
    if (!rest.empty()) file.source().read(rest, object);
}

int64_t write_chunked_blob(FileWriter& file, std::span<const uint8_t> data, std::span<const uint8_t> trailer,
                           int64_t objlen, uint64_t max_key_size)
{
    const uint64_t nbytes = data.size() + trailer.size();
    const BlobChunks plan = plan_blob_chunks(nbytes, max_key_size);
    if (plan.count == 1) return file.write_blob(data, trailer, objlen);
    if (plan.count == 0)
        fail(file.path(), "RNTuple", "a payload of " + std::to_string(nbytes) +
                                         " bytes cannot be split into records of " + std::to_string(max_key_size));
    std::vector<uint8_t> payload(data.begin(), data.end());
    payload.insert(payload.end(), trailer.begin(), trailer.end());
    // The later records first, so that the first can name where they went.
    std::vector<uint8_t> offsets((plan.count - 1) * kOffsetSize);
    uint64_t at = plan.first_data;
    for (size_t i = 0; at < nbytes; ++i) {
        const uint64_t n = std::min<uint64_t>(max_key_size, nbytes - at);
        const std::span<const uint8_t> chunk(payload.data() + at, static_cast<size_t>(n));
        store_offset(offsets.data() + i * kOffsetSize,
                     static_cast<uint64_t>(file.write_blob(chunk, {}, static_cast<int64_t>(n))));
        at += n;
    }
    return file.write_blob(std::span<const uint8_t>(payload).first(static_cast<size_t>(plan.first_data)), offsets,
                           objlen);
}

}  // namespace rootio::ntuple
