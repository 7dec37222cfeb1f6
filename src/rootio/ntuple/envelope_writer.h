#pragma once
// Little-endian writer for RNTuple envelopes: integers, strings, record and list frames
// (their sizes patched in when closed), locators, and the envelope's own preamble and
// XXH3-64 checksum.
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "rootio/ntuple/format_constants.h"

namespace rootio::ntuple {

// XXH3-64 of `bytes`, as the format uses for envelopes, pages and the anchor.
uint64_t xxh3_64(std::span<const uint8_t> bytes);

class EnvelopeWriter {
public:
    // Starts an envelope of `type` in `out` (cleared): its preamble is completed by finish().
    EnvelopeWriter(std::vector<uint8_t>& out, EnvelopeType type);

    void u16(uint16_t v) { put(v); }
    void u32(uint32_t v) { put(v); }
    void i32(int32_t v) { put(v); }
    void u64(uint64_t v) { put(v); }
    void i64(int64_t v) { put(v); }
    // u32 byte count, then the bytes.
    void string(std::string_view s);

    // A frame is opened, filled and closed; frames nest. The returned mark goes to end_frame.
    size_t begin_record();
    size_t begin_list(uint32_t items);
    void end_frame(size_t mark);

    // In-file locator: i32 size, u64 offset.
    void locator(uint64_t offset, uint32_t size);
    // Envelope link: u64 uncompressed length, then the locator.
    void envelope_link(uint64_t length, uint64_t offset, uint32_t size);

    // Writes the length into the preamble and appends the checksum; returns the checksum.
    uint64_t finish();

private:
    template <class T>
    void put(T v)
    {
        const size_t at = out_.size();
        out_.resize(at + sizeof(T));
        std::memcpy(out_.data() + at, &v, sizeof(T));  // the engine runs on little-endian hosts
    }

    std::vector<uint8_t>& out_;
    EnvelopeType type_;
};

}  // namespace rootio::ntuple
