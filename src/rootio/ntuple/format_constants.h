#pragma once
// The RNTuple binary format's numeric vocabulary (format 1.0): column types and their
// on-disk codes, field roles and flags, envelope types, locator kinds, frame and
// compression-block facts. Shared by the reader and the writer; no logic beyond lookups.
#include <cstdint>
#include <optional>
#include <string_view>

namespace rootio::ntuple {

// Format version this engine reads and writes (epoch.major.minor.patch).
inline constexpr uint16_t kVersionEpoch = 1;
inline constexpr uint16_t kVersionMajor = 0;
inline constexpr uint16_t kVersionMinor = 0;
inline constexpr uint16_t kVersionPatch = 1;

// Class name of the anchor key, and its class version as ROOT writes it.
inline constexpr std::string_view kAnchorClassName = "ROOT::RNTuple";
inline constexpr int16_t kAnchorClassVersion = 2;
// The anchor's payload: 4 x u16 version, 7 x u64 (seek/nbytes/len header, seek/nbytes/len
// footer, max key size), then a big-endian XXH3-64 of those bytes.
inline constexpr uint32_t kAnchorPayloadSize = 4 * 2 + 7 * 8;
inline constexpr uint32_t kAnchorSizeWithChecksum = kAnchorPayloadSize + 8;

// Envelope: u64 (type id in bits 0-15, uncompressed length in bits 16-63), payload,
// XXH3-64 of everything before it.
enum class EnvelopeType : uint16_t {
    Reserved = 0x00,
    Header = 0x01,
    Footer = 0x02,
    PageList = 0x03,
};
inline constexpr uint32_t kEnvelopePreambleSize = 8;
inline constexpr uint32_t kEnvelopeChecksumSize = 8;
inline constexpr uint64_t kEnvelopeTypeMask = 0xFFFF;
inline constexpr unsigned kEnvelopeLengthShift = 16;

// Frames: i64 size (negative: list frame), list frames then u32 item count.
enum class FrameType : uint8_t { Record, List };
inline constexpr uint32_t kRecordFramePreambleSize = 8;
inline constexpr uint32_t kListFramePreambleSize = 12;

// Feature flags: 64-bit words, bit 63 set means another word follows. None is defined in
// format 1.0, so any set bit is unknown and refused.
inline constexpr uint64_t kFeatureFlagContinuation = uint64_t{1} << 63;
inline constexpr uint64_t kKnownFeatureFlags = 0;

// Field record.
enum class FieldRole : uint16_t {
    Leaf = 0x00,
    Collection = 0x01,
    Record = 0x02,
    Variant = 0x03,
    Streamer = 0x04,
};
namespace field_flags {
inline constexpr uint16_t kRepetitive = 0x01;    // fixed-size array; u64 array size follows
inline constexpr uint16_t kProjected = 0x02;     // alias of another field; u32 source id follows
inline constexpr uint16_t kTypeChecksum = 0x04;  // u32 ROOT type checksum follows
}  // namespace field_flags

// Column record.
namespace column_flags {
inline constexpr uint16_t kDeferred = 0x01;  // i64 first element index follows
inline constexpr uint16_t kRange = 0x02;     // f64 min, f64 max follow
}  // namespace column_flags

enum class ColumnType : uint16_t {
    Bit = 0x00,
    Byte = 0x01,
    Char = 0x02,
    Int8 = 0x03,
    UInt8 = 0x04,
    Int16 = 0x05,
    UInt16 = 0x06,
    Int32 = 0x07,
    UInt32 = 0x08,
    Int64 = 0x09,
    UInt64 = 0x0A,
    Real16 = 0x0B,
    Real32 = 0x0C,
    Real64 = 0x0D,
    Index32 = 0x0E,
    Index64 = 0x0F,
    Switch = 0x10,
    SplitInt16 = 0x11,
    SplitUInt16 = 0x12,
    SplitInt32 = 0x13,
    SplitUInt32 = 0x14,
    SplitInt64 = 0x15,
    SplitUInt64 = 0x16,
    SplitReal16 = 0x17,
    SplitReal32 = 0x18,
    SplitReal64 = 0x19,
    SplitIndex32 = 0x1A,
    SplitIndex64 = 0x1B,
    Real32Trunc = 0x1C,
    Real32Quant = 0x1D,
};
inline constexpr uint16_t kColumnTypeCount = 0x1E;

// What a column type's elements are once decoded (the in-memory value kind).
enum class ValueKind : uint8_t { Bool, Byte, Char, Int, UInt, Real, Index, Switch };

struct ColumnTypeInfo {
    ColumnType type;
    std::string_view name;
    uint16_t min_bits;      // bits on storage allowed (fixed types: min == max)
    uint16_t max_bits;
    uint8_t memory_bytes;   // bytes of one element unpacked to whole bytes (Switch: u64 + u32)
    ValueKind kind;
    bool is_signed;
    bool split;             // bytes of elements rearranged by significance within a page
    bool delta;             // split index columns: deltas to the previous element
    bool zigzag;            // split signed integers
};

inline constexpr ColumnTypeInfo kColumnTypes[kColumnTypeCount] = {
    {ColumnType::Bit, "Bit", 1, 1, 1, ValueKind::Bool, false, false, false, false},
    {ColumnType::Byte, "Byte", 8, 8, 1, ValueKind::Byte, false, false, false, false},
    {ColumnType::Char, "Char", 8, 8, 1, ValueKind::Char, true, false, false, false},
    {ColumnType::Int8, "Int8", 8, 8, 1, ValueKind::Int, true, false, false, false},
    {ColumnType::UInt8, "UInt8", 8, 8, 1, ValueKind::UInt, false, false, false, false},
    {ColumnType::Int16, "Int16", 16, 16, 2, ValueKind::Int, true, false, false, false},
    {ColumnType::UInt16, "UInt16", 16, 16, 2, ValueKind::UInt, false, false, false, false},
    {ColumnType::Int32, "Int32", 32, 32, 4, ValueKind::Int, true, false, false, false},
    {ColumnType::UInt32, "UInt32", 32, 32, 4, ValueKind::UInt, false, false, false, false},
    {ColumnType::Int64, "Int64", 64, 64, 8, ValueKind::Int, true, false, false, false},
    {ColumnType::UInt64, "UInt64", 64, 64, 8, ValueKind::UInt, false, false, false, false},
    {ColumnType::Real16, "Real16", 16, 16, 2, ValueKind::Real, true, false, false, false},
    {ColumnType::Real32, "Real32", 32, 32, 4, ValueKind::Real, true, false, false, false},
    {ColumnType::Real64, "Real64", 64, 64, 8, ValueKind::Real, true, false, false, false},
    {ColumnType::Index32, "Index32", 32, 32, 4, ValueKind::Index, false, false, false, false},
    {ColumnType::Index64, "Index64", 64, 64, 8, ValueKind::Index, false, false, false, false},
    {ColumnType::Switch, "Switch", 96, 96, 12, ValueKind::Switch, false, false, false, false},
    {ColumnType::SplitInt16, "SplitInt16", 16, 16, 2, ValueKind::Int, true, true, false, true},
    {ColumnType::SplitUInt16, "SplitUInt16", 16, 16, 2, ValueKind::UInt, false, true, false, false},
    {ColumnType::SplitInt32, "SplitInt32", 32, 32, 4, ValueKind::Int, true, true, false, true},
    {ColumnType::SplitUInt32, "SplitUInt32", 32, 32, 4, ValueKind::UInt, false, true, false, false},
    {ColumnType::SplitInt64, "SplitInt64", 64, 64, 8, ValueKind::Int, true, true, false, true},
    {ColumnType::SplitUInt64, "SplitUInt64", 64, 64, 8, ValueKind::UInt, false, true, false, false},
    {ColumnType::SplitReal16, "SplitReal16", 16, 16, 2, ValueKind::Real, true, true, false, false},
    {ColumnType::SplitReal32, "SplitReal32", 32, 32, 4, ValueKind::Real, true, true, false, false},
    {ColumnType::SplitReal64, "SplitReal64", 64, 64, 8, ValueKind::Real, true, true, false, false},
    {ColumnType::SplitIndex32, "SplitIndex32", 32, 32, 4, ValueKind::Index, false, true, true, false},
    {ColumnType::SplitIndex64, "SplitIndex64", 64, 64, 8, ValueKind::Index, false, true, true, false},
    {ColumnType::Real32Trunc, "Real32Trunc", 10, 31, 4, ValueKind::Real, true, false, false, false},
    {ColumnType::Real32Quant, "Real32Quant", 1, 32, 4, ValueKind::Real, true, false, false, false},
};

// The facts for an on-disk code; none for a code this format version does not define.
constexpr std::optional<ColumnTypeInfo> column_type_info(uint16_t code)
{
    if (code >= kColumnTypeCount) return std::nullopt;
    return kColumnTypes[code];
}
constexpr const ColumnTypeInfo& column_type_info(ColumnType type) { return kColumnTypes[static_cast<uint16_t>(type)]; }

// Switch column element: u64 index then u32 tag (1-based alternative, 0 = invalid).
inline constexpr uint32_t kSwitchElementSize = 12;
// Variants hold at most this many alternatives.
inline constexpr uint32_t kMaxVariantAlternatives = 125;

// Locator: i32 size (negative: non-standard locator, its low 16 bits the locator's own
// size, bits 24-30 its type), u64 offset.
enum class LocatorKind : uint8_t {
    File = 0x00,   // standard in-file locator: i32 size, u64 offset
    Large = 0x01,  // u64 size, u64 offset
};
inline constexpr uint32_t kStandardLocatorSize = 12;
inline constexpr uint32_t kLargeLocatorSize = 4 + 16;

// Page descriptor: i32 element count (negative: an XXH3-64 follows the page's bytes).
inline constexpr uint32_t kPageChecksumSize = 8;

// Cluster summary: u64 first entry, u64 (entries in bits 0-55, flags in bits 56-63).
inline constexpr uint64_t kClusterEntriesMask = (uint64_t{1} << 56) - 1;
inline constexpr unsigned kClusterFlagsShift = 56;
inline constexpr uint8_t kClusterFlagSharded = 0x01;  // not in format 1.0: refused

// Page list: element offset of a suppressed column (any negative value means suppressed).
inline constexpr int64_t kSuppressedColumnMarker = INT64_MIN;

// Extra type information content identifiers.
enum class ExtraTypeInfoId : uint32_t { StreamerInfo = 0x00 };

// Compression blocks: the same 9-byte chunk header ROOT uses for baskets (algorithm tag,
// u24 compressed size, u24 uncompressed size, little-endian), each chunk at most 16 MiB
// uncompressed. Compressed size == uncompressed size means stored as is.
inline constexpr uint32_t kCompressionChunkHeaderSize = 9;
inline constexpr uint32_t kMaxCompressionChunkSize = (1u << 24) - 1;

// Type names the reader gives meaning to.
inline constexpr std::string_view kCardinalityTypePrefix = "ROOT::RNTupleCardinality<";
inline constexpr std::string_view kRVecTypePrefix = "ROOT::VecOps::RVec<";

}  // namespace rootio::ntuple
