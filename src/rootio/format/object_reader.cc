#include "rootio/format/object_reader.h"

namespace rootio {

namespace {
constexpr uint32_t kByteCountMask = 0x40000000;
constexpr uint32_t kClassMask = 0x80000000;
constexpr uint32_t kNewClassTag = 0xFFFFFFFF;
constexpr uint32_t kMapOffset = 2;
constexpr uint32_t kIsReferenced = 0x10;
}  // namespace

ObjectFrame ObjectReader::begin(std::string_view what)
{
    ObjectFrame frame;
    const size_t start = in_.pos();
    const uint32_t word = in_.u32();
    if (word & kByteCountMask) {
        const size_t count = word & ~kByteCountMask;
        if (count < 2 || count > in_.size() - start - 4)
            in_.fail_at(start, std::string(what) + ": byte count " + std::to_string(count) +
                                   " runs past the end of the record");
        frame.end = start + 4 + count;
    } else {
        in_.seek(start);
    }
    frame.version = in_.i16();
    // Classes without a proper version (ROOT::TIOFeatures) carry a checksum instead.
    if (frame.version <= 0 && frame.end != 0 && frame.end - in_.pos() >= 4) in_.u32();
    return frame;
}

void ObjectReader::end(const ObjectFrame& frame, std::string_view what)
{
    if (frame.end != 0 && in_.pos() != frame.end)
        in_.fail_at(in_.pos(), std::string(what) + ": object ends at byte " + std::to_string(in_.record_pos()) +
                                   " but its byte count says " + std::to_string(frame.end + origin()));
}

void ObjectReader::skip_rest(const ObjectFrame& frame, std::string_view what)
{
    if (frame.end == 0) fail(std::string(what) + ": object without a byte count cannot be skipped");
    if (in_.pos() > frame.end) fail(std::string(what) + ": object is longer than its byte count");
    in_.seek(frame.end);
}

void ObjectReader::tobject()
{
    begin("TObject");
    in_.u32();  // fUniqueID
    const uint32_t bits = in_.u32();
    if (bits & kIsReferenced) in_.u16();  // process id of the reference
}

ObjectReader::Named ObjectReader::tnamed()
{
    const ObjectFrame frame = begin("TNamed");
    tobject();
    Named named;
    named.name = in_.tstring();
    named.title = in_.tstring();
    end(frame, "TNamed");
    return named;
}

PointerSlot ObjectReader::pointer(std::string_view what)
{
    PointerSlot slot;
    const size_t start = in_.pos();
    const uint32_t word = in_.u32();
    if (word == 0) return slot;

    uint32_t tag = word;
    size_t end = 0;
    if ((word & kByteCountMask) && word != kNewClassTag) {
        const size_t count = word & ~kByteCountMask;
        if (count < 4 || count > in_.size() - start - 4)
            in_.fail_at(start, std::string(what) + ": byte count " + std::to_string(count) +
                                   " runs past the end of the record");
        end = start + 4 + count;
        tag = in_.u32();
    }
    if (!(tag & kClassMask)) {
        // A back-reference to an object read earlier in this record.
        slot.kind = PointerSlot::Kind::Reference;
        slot.tag = tag;
        if (end != 0) in_.seek(end);
        return slot;
    }
    if (end == 0) in_.fail_at(start, std::string(what) + ": new object without a byte count");

    const size_t class_word = in_.pos() - 4;
    if (tag == kNewClassTag) {
        slot.class_name = in_.cstring();
        classes_[static_cast<uint32_t>(class_word + origin()) + kMapOffset] =
            slot.class_name;
    } else {
        auto it = classes_.find(tag & ~kClassMask);
        if (it == classes_.end())
            in_.fail_at(class_word, std::string(what) + ": unknown class tag " + std::to_string(tag & ~kClassMask));
        slot.class_name = it->second;
    }
    if (in_.pos() > end) in_.fail_at(start, std::string(what) + ": class name runs past the object's byte count");
    slot.kind = PointerSlot::Kind::New;
    slot.tag = static_cast<uint32_t>(start + origin()) + kMapOffset;
    slot.end = end;
    return slot;
}

int32_t ObjectReader::objarray_begin(ObjectFrame& frame, std::string_view what)
{
    frame = begin(what);
    tobject();
    if (frame.version > 2) in_.tstring();  // fName
    const int32_t n = in_.i32();
    in_.i32();  // fLowerBound
    if (n < 0 || static_cast<size_t>(n) > in_.remaining() / 4)
        fail(std::string(what) + ": " + std::to_string(n) + " items cannot fit in the record");
    return n;
}

}  // namespace rootio
