#pragma once
// How the StreamerInfo record describes a class: its elements (bases and members) with
// ROOT's type codes, sizes and type names. Shared by the files that define the classes
// the engine can describe (trees in streamer_info.cc, histograms in
// streamer_info_histograms.cc).
#include <cstdint>
#include <string_view>
#include <vector>

#include "rootio/format/object_writer.h"

namespace rootio::streamer_layout {

enum class Kind { Base, Basic, String, Object, ObjectAny, ObjectPointer, BasicPointer, Stl };

struct Element {
    Kind kind;
    std::string_view name;
    std::string_view title;
    int32_t type;
    int32_t size;
    std::string_view type_name;
    int32_t base_version = 0;    // Base: version of the base class
    uint32_t base_checksum = 0;  // Base: checksum of the base class (stored in fMaxIndex[1])
    int32_t count_version = 0;   // BasicPointer: version of the class holding the counter
    std::string_view count_name = {};
    std::string_view count_class = {};
    uint32_t bits = kBitsOnHeap;
};

struct ClassInfo {
    std::string_view name;
    int32_t version;
    uint32_t checksum;
    uint32_t bits;  // of the TStreamerInfo object
    std::vector<Element> elements;
};

// ROOT type codes (TVirtualStreamerInfo::EReadWrite).
inline constexpr int32_t kBase = 0, kChar = 1, kShort = 2, kInt = 3, kFloat = 5, kCounter = 6, kDouble = 8,
                         kUChar = 11, kUShort = 12, kUInt = 13, kBits = 15, kLong64 = 16, kULong64 = 17, kBool = 18,
                         kOffsetP = 40, kObject = 61, kAny = 62, kObjectp = 63, kObjectP = 64, kTString = 65,
                         kTObject = 66, kTNamed = 67, kStreamer = 500;

inline constexpr uint32_t kChkTObject = 0x901BC02D, kChkTNamed = 0xDFB74A3C, kChkTAttLine = 0x94074549,
                          kChkTAttFill = 0xFFD92A92, kChkTAttMarker = 0x291D8BEC,
                          kChkTCollection = 0x57E3CB9C, kChkTSeqCollection = 0xFC6C3BC6,
                          kChkTBranch = 0x10978AAC, kChkTLeaf = 0x6D1E8152, kChkTList = 0x69C5C3BB;

// Bits of TStreamerInfo objects as ROOT 6.22 writes them: classes it built while starting
// up carry kIsCompiled only, the others kIsCompiled | kBuildOldUsed.
inline constexpr uint32_t kInfoEarly = 0x03010000, kInfoLate = 0x03030000;

inline Element base(std::string_view name, std::string_view title, int32_t type, int32_t version,
                    uint32_t checksum)
{
    return {Kind::Base, name, title, type, 0, "BASE", version, checksum};
}
inline Element basic(std::string_view name, std::string_view title, int32_t type, int32_t size,
                     std::string_view type_name)
{
    return {Kind::Basic, name, title, type, size, type_name};
}
inline Element tstring(std::string_view name, std::string_view title)
{
    return {Kind::String, name, title, kTString, 24, "TString"};
}
inline Element object(std::string_view name, std::string_view title, std::string_view type_name,
                      int32_t size = 64)
{
    return {Kind::Object, name, title, kObject, size, type_name};
}
inline Element any(std::string_view name, std::string_view title, int32_t size, std::string_view type_name)
{
    return {Kind::ObjectAny, name, title, kAny, size, type_name};
}
// `type` is kObjectP for a pointer that may be null, kObjectp for one that never is ("->").
inline Element pointer(std::string_view name, std::string_view title, std::string_view type_name,
                       int32_t type = kObjectP)
{
    return {Kind::ObjectPointer, name, title, type, 8, type_name};
}
inline Element basic_pointer(std::string_view name, std::string_view title, int32_t type,
                             std::string_view type_name, int32_t count_version, std::string_view count_name,
                             std::string_view count_class)
{
    Element e{Kind::BasicPointer, name, title, kOffsetP + type, 8, type_name};
    e.count_version = count_version;
    e.count_name = count_name;
    e.count_class = count_class;
    return e;
}

// Fills `classes` with the histogram classes (TH1D and what it is built of).
void add_histogram_classes(std::vector<ClassInfo>& classes);

}  // namespace rootio::streamer_layout
