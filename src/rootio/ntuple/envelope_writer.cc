#include "rootio/ntuple/envelope_writer.h"

#include <xxhash.h>

#include <bit>

namespace rootio::ntuple {

static_assert(std::endian::native == std::endian::little, "envelopes are written by copying native integers");

uint64_t xxh3_64(std::span<const uint8_t> bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

EnvelopeWriter::EnvelopeWriter(std::vector<uint8_t>& out, EnvelopeType type) : out_(out), type_(type)
{
    out_.clear();
    u64(0);  // preamble, completed by finish()
}

void EnvelopeWriter::string(std::string_view s)
{
    u32(static_cast<uint32_t>(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
}

size_t EnvelopeWriter::begin_record()
{
    const size_t mark = out_.size();
    i64(0);
    return mark;
}

size_t EnvelopeWriter::begin_list(uint32_t items)
{
    const size_t mark = out_.size();
    i64(-1);  // negative: a list frame
    u32(items);
    return mark;
}

void EnvelopeWriter::end_frame(size_t mark)
{
    int64_t size;
    std::memcpy(&size, out_.data() + mark, sizeof size);
    int64_t length = static_cast<int64_t>(out_.size() - mark);
    if (size < 0) length = -length;
    std::memcpy(out_.data() + mark, &length, sizeof length);
}

void EnvelopeWriter::locator(uint64_t offset, uint32_t size)
{
    i32(static_cast<int32_t>(size));
    u64(offset);
}

void EnvelopeWriter::envelope_link(uint64_t length, uint64_t offset, uint32_t size)
{
    u64(length);
    locator(offset, size);
}

uint64_t EnvelopeWriter::finish()
{
    const uint64_t length = out_.size() + kEnvelopeChecksumSize;
    const uint64_t preamble = length << kEnvelopeLengthShift | static_cast<uint16_t>(type_);
    std::memcpy(out_.data(), &preamble, sizeof preamble);
    const uint64_t checksum = xxh3_64(out_);
    u64(checksum);
    return checksum;
}

}  // namespace rootio::ntuple
