#pragma once
// The persistent members of one version of a class, in stream order, as TStreamerElements
// describe them. ROOT reads TTree (versions above 4) and TBranch (above 9) member by member
// from such a description: the one compiled in when the version is its own, else the one the
// file's StreamerInfo record carries. The engine does the same: layouts of the versions
// ROOT 5.23 to 6 write are built in, older ones come from the file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rootio {

class RootFile;

// ROOT type codes (TVirtualStreamerInfo::EReadWrite) the tree classes use.
namespace member_type {
inline constexpr int32_t kBase = 0, kChar = 1, kShort = 2, kInt = 3, kLong = 4, kFloat = 5, kCounter = 6,
                         kDouble = 8, kUChar = 11, kUShort = 12, kUInt = 13, kULong = 14, kBits = 15,
                         kLong64 = 16, kULong64 = 17, kBool = 18, kOffsetP = 40, kObject = 61, kAny = 62,
                         kObjectp = 63, kObjectP = 64, kTString = 65, kTObject = 66, kTNamed = 67;
}

struct MemberLayout {
    std::string name;        // data member, or the base class name for a base
    int32_t type = 0;        // member_type code
    std::string count_name;  // basic pointers: the member holding the element count
};

using ClassLayout = std::vector<MemberLayout>;

// Bytes one value of a basic type code occupies in a stream (Long_t is stored in 64 bits);
// 0 for codes that are not a plain basic type.
int basic_member_size(int32_t type);

// The built-in layout of TTree 16..20 or TBranch 10..13, or nullptr.
const ClassLayout* known_layout(std::string_view class_name, int version);

// The layout the file's StreamerInfo record gives for this class version; empty when the
// file describes no such version. Throws RootError naming the file when the record is
// corrupt.
ClassLayout stored_layout(const RootFile& file, std::string_view class_name, int version);

}  // namespace rootio
