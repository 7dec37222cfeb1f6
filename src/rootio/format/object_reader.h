#pragma once
// Object framing inside one record: byte counts and versions, class tags and object
// back-references, and the base classes every flat-tree object is built from (TObject,
// TNamed, TObjArray). Tags are key-relative, so the cursor's origin must be the key length.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "rootio/format/bytes.h"

namespace rootio {

// Where an object's body ends, taken from its byte count (0 when it has none).
struct ObjectFrame {
    int16_t version = 0;
    size_t end = 0;  // index into the cursor's data, 0 when unknown
};

// What an object pointer (or collection slot) holds.
struct PointerSlot {
    enum class Kind { Null, Reference, New };
    Kind kind = Kind::Null;
    uint32_t tag = 0;         // Reference: the referenced object's tag; New: the new object's tag
    std::string class_name;   // New: the object's class
    size_t end = 0;           // New: index just past the object
};

class ObjectReader {
public:
    explicit ObjectReader(ByteReader& in) : in_(in) {}

    ByteReader& in() { return in_; }

    // Byte count (optional) + version. A version <= 0 with a byte count is followed by a
    // class checksum, which is consumed.
    ObjectFrame begin(std::string_view what);
    // Checks the body ended exactly where its byte count said.
    void end(const ObjectFrame& frame, std::string_view what);
    // Moves to the end of the object, skipping members this reader does not need.
    void skip_rest(const ObjectFrame& frame, std::string_view what);

    // TObject (no byte count) and TNamed.
    void tobject();
    struct Named {
        std::string name;
        std::string title;
    };
    Named tnamed();

    // An object pointer: null, a back-reference, or a new object whose class is read (and
    // registered) here, leaving the cursor at the object's body.
    PointerSlot pointer(std::string_view what);
    // Skips the body of a new object from `pointer()`.
    void skip_object(const PointerSlot& slot) { in_.seek(slot.end); }

    // TObjArray header (byte count, version, TObject, name, size, lower bound); returns the
    // number of slots that follow, each one read with pointer(). The array's frame is
    // returned through `frame` so the caller can check its end.
    int32_t objarray_begin(ObjectFrame& frame, std::string_view what);

private:
    size_t origin() const { return in_.record_pos() - in_.pos(); }
    [[noreturn]] void fail(std::string_view what) const { in_.fail_at(in_.pos(), what); }

    ByteReader& in_;
    std::unordered_map<uint32_t, std::string> classes_;  // class tag -> class name
};

}  // namespace rootio
