#pragma once
// Object framing for one record: byte counts, class versions, TObject/TNamed headers and
// the class and object tags of pointers. Tags are key-relative (they count from the first
// byte of the key header), so the writer is told the key length the record will have.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rootio/format/bytes.h"

namespace rootio {

// fBits as ROOT 6.22 writes them (kIsOnHeap | kNotDeleted, plus class-specific bits).
inline constexpr uint32_t kBitsOnHeap = 0x03000000;
inline constexpr uint32_t kBitsNotDeleted = 0x02000000;

class ObjectWriter {
public:
    // Object bytes are appended to `out`; the first byte appended sits at key-relative
    // position `keylen`.
    ObjectWriter(ByteWriter& out, int keylen) : out_(out), base_(out.size()), keylen_(keylen) {}

    ByteWriter& out() { return out_; }
    // Key-relative position of the next byte.
    uint32_t record_pos() const { return static_cast<uint32_t>(keylen_ + (out_.size() - base_)); }

    // Byte count placeholder + class version; end_versioned() patches the count.
    size_t begin_versioned(int16_t version);
    void end_versioned(size_t at);

    void tobject(uint32_t bits);
    void tnamed(std::string_view name, std::string_view title, uint32_t bits);
    // The graphics attribute bases (class version 2 each) of trees, branches and histograms.
    void att_line(int16_t color, int16_t style, int16_t width);
    void att_fill(int16_t color, int16_t style);
    void att_marker(int16_t color, int16_t style, float size);

    // A new object behind a pointer: byte count, class word (new class name or a tag of a
    // class already named in this record), then the caller streams the object and calls
    // end_pointer(). Returns the object's tag, for later back-references.
    uint32_t begin_pointer(std::string_view class_name, size_t& at);
    void end_pointer(size_t at) { end_versioned(at); }
    void null_pointer() { out_.u32(0); }
    void reference(uint32_t object_tag) { out_.u32(object_tag); }

private:
    ByteWriter& out_;
    size_t base_;
    int keylen_;
    std::vector<std::pair<std::string, uint32_t>> class_tags_;
};

}  // namespace rootio
