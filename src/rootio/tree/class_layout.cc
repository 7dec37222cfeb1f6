#include "rootio/tree/class_layout.h"

#include <algorithm>
#include <initializer_list>

#include "rootio/format/object_reader.h"
#include "rootio/file/root_file.h"

namespace rootio {

namespace {

using namespace member_type;

// The newest layout minus the members later versions added.
ClassLayout without(const ClassLayout& layout, std::initializer_list<std::string_view> dropped)
{
    ClassLayout out;
    for (const MemberLayout& m : layout)
        if (std::find(dropped.begin(), dropped.end(), m.name) == dropped.end()) out.push_back(m);
    return out;
}

// TTree 20 up to fBranches; the members after it are never read.
const ClassLayout kTree20 = {
    {"TNamed", kTNamed, ""},
    {"TAttLine", kBase, ""},
    {"TAttFill", kBase, ""},
    {"TAttMarker", kBase, ""},
    {"fEntries", kLong64, ""},
    {"fTotBytes", kLong64, ""},
    {"fZipBytes", kLong64, ""},
    {"fSavedBytes", kLong64, ""},
    {"fFlushedBytes", kLong64, ""},
    {"fWeight", kDouble, ""},
    {"fTimerInterval", kInt, ""},
    {"fScanField", kInt, ""},
    {"fUpdate", kInt, ""},
    {"fDefaultEntryOffsetLen", kInt, ""},
    {"fNClusterRange", kCounter, ""},
    {"fMaxEntries", kLong64, ""},
    {"fMaxEntryLoop", kLong64, ""},
    {"fMaxVirtualSize", kLong64, ""},
    {"fAutoSave", kLong64, ""},
    {"fAutoFlush", kLong64, ""},
    {"fEstimate", kLong64, ""},
    {"fClusterRangeEnd", kOffsetP + kLong64, "fNClusterRange"},
    {"fClusterSize", kOffsetP + kLong64, "fNClusterRange"},
    {"fIOFeatures", kAny, ""},
    {"fBranches", kObject, ""},
};
const ClassLayout kTree19 = without(kTree20, {"fIOFeatures"});
const ClassLayout kTree18 = without(kTree19, {"fNClusterRange", "fClusterRangeEnd", "fClusterSize"});
const ClassLayout kTree17 = without(kTree18, {"fFlushedBytes", "fAutoFlush"});
const ClassLayout kTree16 = without(kTree17, {"fDefaultEntryOffsetLen"});

const ClassLayout kBranch13 = {
    {"TNamed", kTNamed, ""},
    {"TAttFill", kBase, ""},
    {"fCompress", kInt, ""},
    {"fBasketSize", kInt, ""},
    {"fEntryOffsetLen", kInt, ""},
    {"fWriteBasket", kInt, ""},
    {"fEntryNumber", kLong64, ""},
    {"fIOFeatures", kAny, ""},
    {"fOffset", kInt, ""},
    {"fMaxBaskets", kCounter, ""},
    {"fSplitLevel", kInt, ""},
    {"fEntries", kLong64, ""},
    {"fFirstEntry", kLong64, ""},
    {"fTotBytes", kLong64, ""},
    {"fZipBytes", kLong64, ""},
    {"fBranches", kObject, ""},
    {"fLeaves", kObject, ""},
    {"fBaskets", kObject, ""},
    {"fBasketBytes", kOffsetP + kInt, "fMaxBaskets"},
    {"fBasketEntry", kOffsetP + kLong64, "fMaxBaskets"},
    {"fBasketSeek", kOffsetP + kLong64, "fMaxBaskets"},
    {"fFileName", kTString, ""},
};
const ClassLayout kBranch12 = without(kBranch13, {"fIOFeatures"});
const ClassLayout kBranch10 = without(kBranch12, {"fFirstEntry"});

// One TStreamerElement: the name and type, and for a basic pointer its counter's name.
MemberLayout read_element(ObjectReader& obj, const PointerSlot& slot)
{
    ByteReader& in = obj.in();
    const ObjectFrame frame = obj.begin(slot.class_name);
    const ObjectFrame element = obj.begin("TStreamerElement");
    MemberLayout m;
    m.name = obj.tnamed().name;
    m.type = in.i32();
    obj.skip_rest(element, "TStreamerElement");
    if (slot.class_name == "TStreamerBasicPointer") {
        in.i32();  // fCountVersion
        m.count_name = in.tstring();
    }
    obj.skip_rest(frame, slot.class_name);
    obj.skip_object(slot);
    return m;
}

}  // namespace

int basic_member_size(int32_t type)
{
    switch (type) {
        case kChar:
        case kUChar:
        case kBool:
            return 1;
        case kShort:
        case kUShort:
            return 2;
        case kInt:
        case kFloat:
        case kCounter:
        case kUInt:
        case kBits:
            return 4;
        case kLong:
        case kDouble:
        case kULong:
        case kLong64:
        case kULong64:
            return 8;
        default:
            return 0;
    }
}

const ClassLayout* known_layout(std::string_view class_name, int version)
{
    if (class_name == "TTree") {
        switch (version) {
            case 16:
                return &kTree16;
            case 17:
                return &kTree17;
            case 18:
                return &kTree18;
            case 19:
                return &kTree19;
            case 20:
                return &kTree20;
            default:
                return nullptr;
        }
    }
    if (class_name == "TBranch") {
        switch (version) {
            case 10:
                return &kBranch10;
            case 11:
            case 12:
                return &kBranch12;
            case 13:
                return &kBranch13;
            default:
                return nullptr;
        }
    }
    return nullptr;
}

ClassLayout stored_layout(const RootFile& file, std::string_view class_name, int version)
{
    if (file.seek_info() <= 0 || file.nbytes_info() <= 0) return {};
    // The StreamerInfo key is not in the keys list; the file header points at it.
    std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(file.nbytes_info(), 1024)));
    file.read_at(file.seek_info(), head, "StreamerInfo record");
    const std::string head_context = file.path() + ": StreamerInfo record";
    ByteReader head_in(head, head_context);
    KeyHeader key = read_key_header(head_in);
    key.seek_key = file.seek_info();
    const std::vector<uint8_t> payload = file.read_object(key);

    const std::string context = file.path() + ": StreamerInfo record";
    ByteReader in(payload, context, static_cast<size_t>(key.keylen));
    ObjectReader obj(in);
    const ObjectFrame list = obj.begin("TList");
    obj.tobject();
    in.tstring();  // fName
    const int32_t n = in.i32();
    for (int32_t i = 0; i < n; ++i) {
        const PointerSlot slot = obj.pointer("StreamerInfo list");
        if (slot.kind == PointerSlot::Kind::New && slot.class_name == "TStreamerInfo") {
            const ObjectFrame info = obj.begin("TStreamerInfo");
            const std::string name = obj.tnamed().name;
            in.u32();  // fCheckSum
            const int32_t info_version = in.i32();
            // Every description is parsed, not skipped: later ones refer back to the classes
            // (TStreamerBase, ...) that earlier ones introduced.
            ClassLayout layout;
            const PointerSlot elements = obj.pointer("TStreamerInfo elements");
            if (elements.kind == PointerSlot::Kind::New) {
                ObjectFrame array;
                const int32_t count = obj.objarray_begin(array, "TStreamerInfo elements");
                for (int32_t e = 0; e < count; ++e) {
                    const PointerSlot element = obj.pointer("TStreamerInfo element");
                    if (element.kind == PointerSlot::Kind::New) layout.push_back(read_element(obj, element));
                }
                obj.end(array, "TStreamerInfo elements");
                obj.skip_object(elements);
            }
            if (name == class_name && info_version == version) return layout;
            obj.skip_rest(info, "TStreamerInfo");
        }
        if (slot.kind == PointerSlot::Kind::New) obj.skip_object(slot);
        const size_t option = in.u8();  // the list item's option string
        in.skip(option);
    }
    obj.end(list, "TList");
    return {};
}

}  // namespace rootio
