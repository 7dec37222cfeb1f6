#include "rootio/format/object_writer.h"

#include "rootio/format/error.h"

namespace rootio {

namespace {
constexpr uint32_t kByteCountMask = 0x40000000;
constexpr uint32_t kNewClassTag = 0xFFFFFFFF;
constexpr uint32_t kClassMask = 0x80000000;
constexpr uint32_t kMapOffset = 2;
constexpr uint32_t kMaxByteCount = 0x3FFFFFFE;
}  // namespace

size_t ObjectWriter::begin_versioned(int16_t version)
{
    const size_t at = out_.size();
    out_.u32(0);
    out_.i16(version);
    return at;
}

void ObjectWriter::end_versioned(size_t at)
{
    const size_t count = out_.size() - at - 4;
    // Byte counts share their word with the tag bits; larger objects cannot be framed.
    if (count > kMaxByteCount) throw RootError("object of " + std::to_string(count) + " bytes is too large to stream");
    out_.patch<uint32_t>(at, static_cast<uint32_t>(count) | kByteCountMask);
}

void ObjectWriter::tobject(uint32_t bits)
{
    out_.i16(1);
    out_.u32(0);  // fUniqueID
    out_.u32(bits);
}

void ObjectWriter::tnamed(std::string_view name, std::string_view title, uint32_t bits)
{
    const size_t at = begin_versioned(1);
    tobject(bits);
    out_.tstring(name);
    out_.tstring(title);
    end_versioned(at);
}

void ObjectWriter::att_line(int16_t color, int16_t style, int16_t width)
{
    const size_t at = begin_versioned(2);
    out_.i16(color);
    out_.i16(style);
    out_.i16(width);
    end_versioned(at);
}

void ObjectWriter::att_fill(int16_t color, int16_t style)
{
    const size_t at = begin_versioned(2);
    out_.i16(color);
    out_.i16(style);
    end_versioned(at);
}

void ObjectWriter::att_marker(int16_t color, int16_t style, float size)
{
    const size_t at = begin_versioned(2);
    out_.i16(color);
    out_.i16(style);
    out_.f32(size);
    end_versioned(at);
}

uint32_t ObjectWriter::begin_pointer(std::string_view class_name, size_t& at)
{
    const uint32_t object_tag = record_pos() + kMapOffset;
    at = out_.size();
    out_.u32(0);
    for (const auto& [name, tag] : class_tags_) {
        if (name == class_name) {
            out_.u32(tag | kClassMask);
            return object_tag;
        }
    }
    class_tags_.emplace_back(std::string(class_name), record_pos() + kMapOffset);
    out_.u32(kNewClassTag);
    out_.cstring(class_name);
    return object_tag;
}

}  // namespace rootio
