#include "rootio/format/streamer_info.h"

#include <algorithm>
#include <array>

#include "rootio/format/error.h"
#include "rootio/format/object_writer.h"
#include "rootio/format/streamer_layout.h"

namespace rootio {

using namespace streamer_layout;

namespace {

ClassInfo leaf_class(std::string_view name, uint32_t checksum, int32_t type, int32_t size, std::string_view type_name)
{
    return {name,
            1,
            checksum,
            kInfoLate,
            {base("TLeaf", "Leaf: description of a Branch data type", kBase, 2, kChkTLeaf),
             basic("fMinimum", "Minimum value if leaf range is specified", type, size, type_name),
             basic("fMaximum", "Maximum value if leaf range is specified", type, size, type_name)}};
}

// The RNTuple anchor, as ROOT 6.34 describes it: members without titles or bits, the
// info itself with kBuildOldUsed only.
ClassInfo rntuple_anchor_class()
{
    ClassInfo c{"ROOT::RNTuple", 2, 0x4BA21BF5, 0x00010000, {}};
    for (std::string_view name : {"fVersionEpoch", "fVersionMajor", "fVersionMinor", "fVersionPatch"})
        c.elements.push_back(basic(name, "", kUShort, 2, "unsigned short"));
    for (std::string_view name : {"fSeekHeader", "fNBytesHeader", "fLenHeader", "fSeekFooter", "fNBytesFooter",
                                  "fLenFooter", "fMaxKeySize"})
        c.elements.push_back(basic(name, "", kULong64, 8, "ULong64_t"));
    for (Element& e : c.elements) e.bits = 0;
    return c;
}

std::vector<ClassInfo> build_classes()
{
    std::vector<ClassInfo> c;
    c.push_back({"TNamed",
                 1,
                 kChkTNamed,
                 kInfoEarly,
                 {base("TObject", "Basic ROOT object", kTObject, 1, kChkTObject),
                  tstring("fName", "object identifier"), tstring("fTitle", "object title")}});
    c.push_back({"TObject",
                 1,
                 kChkTObject,
                 kInfoEarly,
                 {basic("fUniqueID", "object unique identifier", kUInt, 4, "unsigned int"),
                  basic("fBits", "bit field status word", kBits, 4, "unsigned int")}});
    c.push_back({"TList",
                 5,
                 kChkTList,
                 kInfoEarly,
                 {base("TSeqCollection", "Sequenceable collection ABC", kBase, 0, kChkTSeqCollection)}});
    c.push_back({"TSeqCollection",
                 0,
                 kChkTSeqCollection,
                 kInfoEarly,
                 {base("TCollection", "Collection abstract base class", kBase, 3, kChkTCollection)}});
    c.push_back({"TCollection",
                 3,
                 kChkTCollection,
                 kInfoEarly,
                 {base("TObject", "Basic ROOT object", kTObject, 1, kChkTObject),
                  tstring("fName", "name of the collection"),
                  basic("fSize", "number of elements in collection", kInt, 4, "int")}});
    c.push_back({"TString", 2, 0x00017419, kInfoLate, {}});
    c.push_back({"TAttMarker",
                 2,
                 kChkTAttMarker,
                 kInfoLate,
                 {basic("fMarkerColor", "Marker color index", kShort, 2, "short"),
                  basic("fMarkerStyle", "Marker style", kShort, 2, "short"),
                  basic("fMarkerSize", "Marker size", kFloat, 4, "float")}});
    c.push_back(
        {"TBranch",
         13,
         kChkTBranch,
         kInfoLate,
         {base("TNamed", "The basis for a named object (name, title)", kTNamed, 1, kChkTNamed),
          base("TAttFill", "Fill area attributes", kBase, 2, kChkTAttFill),
          basic("fCompress", "Compression level and algorithm", kInt, 4, "int"),
          basic("fBasketSize", "Initial Size of  Basket Buffer", kInt, 4, "int"),
          basic("fEntryOffsetLen", "Initial Length of fEntryOffset table in the basket buffers", kInt, 4, "int"),
          basic("fWriteBasket", "Last basket number written", kInt, 4, "int"),
          basic("fEntryNumber", "Current entry number (last one filled in this branch)", kLong64, 8, "Long64_t"),
          any("fIOFeatures", "IO features for newly-created baskets.", 1, "ROOT::TIOFeatures"),
          basic("fOffset", "Offset of this branch", kInt, 4, "int"),
          basic("fMaxBaskets", "Maximum number of Baskets so far", kCounter, 4, "int"),
          basic("fSplitLevel", "Branch split level", kInt, 4, "int"),
          basic("fEntries", "Number of entries", kLong64, 8, "Long64_t"),
          basic("fFirstEntry", "Number of the first entry in this branch", kLong64, 8, "Long64_t"),
          basic("fTotBytes", "Total number of bytes in all leaves before compression", kLong64, 8, "Long64_t"),
          basic("fZipBytes", "Total number of bytes in all leaves after compression", kLong64, 8, "Long64_t"),
          object("fBranches", "-> List of Branches of this branch", "TObjArray"),
          object("fLeaves", "-> List of leaves of this branch", "TObjArray"),
          object("fBaskets", "-> List of baskets of this branch", "TObjArray"),
          basic_pointer("fBasketBytes", "[fMaxBaskets] Length of baskets on file", kInt, "int*", 13, "fMaxBaskets",
                        "TBranch"),
          basic_pointer("fBasketEntry", "[fMaxBaskets] Table of first entry in each basket", kLong64, "Long64_t*",
                        13, "fMaxBaskets", "TBranch"),
          basic_pointer("fBasketSeek", "[fMaxBaskets] Addresses of baskets on file", kLong64, "Long64_t*", 13,
                        "fMaxBaskets", "TBranch"),
          tstring("fFileName", "Name of file where buffers are stored (\"\" if in same file as Tree header)")}});
    c.push_back({"TAttFill",
                 2,
                 kChkTAttFill,
                 kInfoLate,
                 {basic("fFillColor", "Fill area color", kShort, 2, "short"),
                  basic("fFillStyle", "Fill area style", kShort, 2, "short")}});
    c.push_back({"TLeaf",
                 2,
                 kChkTLeaf,
                 kInfoLate,
                 {base("TNamed", "The basis for a named object (name, title)", kTNamed, 1, kChkTNamed),
                  basic("fLen", "Number of fixed length elements", kInt, 4, "int"),
                  basic("fLenType", "Number of bytes for this data type", kInt, 4, "int"),
                  basic("fOffset", "Offset in ClonesArray object (if one)", kInt, 4, "int"),
                  basic("fIsRange", "(=kTRUE if leaf has a range, kFALSE otherwise)", kBool, 1, "bool"),
                  basic("fIsUnsigned", "(=kTRUE if unsigned, kFALSE otherwise)", kBool, 1, "bool"),
                  pointer("fLeafCount", "Pointer to Leaf count if variable length (we do not own the counter)",
                          "TLeaf*")}});
    c.push_back({"TBranchRef",
                 1,
                 0x2360B3FD,
                 kInfoLate,
                 {base("TBranch", "Branch descriptor", kBase, 13, kChkTBranch),
                  pointer("fRefTable", "pointer to the TRefTable", "TRefTable*")}});
    Element guids{Kind::Stl, "fProcessGUIDs", "UUIDs of TProcessIDs used in fParentIDs", kStreamer, 24,
                  "vector<string>"};
    guids.bits = kBitsNotDeleted;
    c.push_back(
        {"TRefTable",
         3,
         0x8C895B85,
         kInfoLate,
         {base("TObject", "Basic ROOT object", kTObject, 1, kChkTObject),
          basic("fSize", "dummy for backward compatibility", kInt, 4, "Int_t"),
          pointer("fParents", "array of Parent objects  (eg TTree branch) holding the referenced objects",
                  "TObjArray*"),
          pointer("fOwner", "Object owning this TRefTable", "TObject*"), guids}});
    c.push_back({"TObjArray",
                 3,
                 0xA99E6552,
                 kInfoLate,
                 {base("TSeqCollection", "Sequenceable collection ABC", kBase, 0, kChkTSeqCollection),
                  basic("fLowerBound", "Lower bound of the array", kInt, 4, "Int_t"),
                  basic("fLast", "Last element in array containing an object", kInt, 4, "Int_t")}});
    c.push_back(
        {"TTree",
         20,
         0x7264E07F,
         kInfoLate,
         {base("TNamed", "The basis for a named object (name, title)", kTNamed, 1, kChkTNamed),
          base("TAttLine", "Line attributes", kBase, 2, kChkTAttLine),
          base("TAttFill", "Fill area attributes", kBase, 2, kChkTAttFill),
          base("TAttMarker", "Marker attributes", kBase, 2, kChkTAttMarker),
          basic("fEntries", "Number of entries", kLong64, 8, "Long64_t"),
          basic("fTotBytes", "Total number of bytes in all branches before compression", kLong64, 8, "Long64_t"),
          basic("fZipBytes", "Total number of bytes in all branches after compression", kLong64, 8, "Long64_t"),
          basic("fSavedBytes", "Number of autosaved bytes", kLong64, 8, "Long64_t"),
          basic("fFlushedBytes", "Number of auto-flushed bytes", kLong64, 8, "Long64_t"),
          basic("fWeight", "Tree weight (see TTree::SetWeight)", kDouble, 8, "double"),
          basic("fTimerInterval", "Timer interval in milliseconds", kInt, 4, "int"),
          basic("fScanField", "Number of runs before prompting in Scan", kInt, 4, "int"),
          basic("fUpdate", "Update frequency for EntryLoop", kInt, 4, "int"),
          basic("fDefaultEntryOffsetLen", "Initial Length of fEntryOffset table in the basket buffers", kInt, 4,
                "int"),
          basic("fNClusterRange", "Number of Cluster range in addition to the one defined by 'AutoFlush'",
                kCounter, 4, "int"),
          basic("fMaxEntries", "Maximum number of entries in case of circular buffers", kLong64, 8, "Long64_t"),
          basic("fMaxEntryLoop", "Maximum number of entries to process", kLong64, 8, "Long64_t"),
          basic("fMaxVirtualSize", "Maximum total size of buffers kept in memory", kLong64, 8, "Long64_t"),
          basic("fAutoSave",
                "Autosave tree when fAutoSave entries written or -fAutoSave (compressed) bytes produced", kLong64,
                8, "Long64_t"),
          basic("fAutoFlush",
                "Auto-flush tree when fAutoFlush entries written or -fAutoFlush (compressed) bytes produced",
                kLong64, 8, "Long64_t"),
          basic("fEstimate", "Number of entries to estimate histogram limits", kLong64, 8, "Long64_t"),
          basic_pointer("fClusterRangeEnd", "[fNClusterRange] Last entry of a cluster range.", kLong64,
                        "Long64_t*", 20, "fNClusterRange", "TTree"),
          basic_pointer("fClusterSize", "[fNClusterRange] Number of entries in each cluster for a given range.",
                        kLong64, "Long64_t*", 20, "fNClusterRange", "TTree"),
          any("fIOFeatures", "IO features to define for newly-written baskets and branches.", 1,
              "ROOT::TIOFeatures"),
          object("fBranches", "List of Branches", "TObjArray"),
          object("fLeaves", "Direct pointers to individual branch leaves", "TObjArray"),
          pointer("fAliases", "List of aliases for expressions based on the tree branches.", "TList*"),
          any("fIndexValues", "Sorted index values", 24, "TArrayD"),
          any("fIndex", "Index of sorted values", 24, "TArrayI"),
          pointer("fTreeIndex", "Pointer to the tree Index (if any)", "TVirtualIndex*"),
          pointer("fFriends", "pointer to list of friend elements", "TList*"),
          pointer("fUserInfo", "pointer to a list of user objects associated to this Tree", "TList*"),
          pointer("fBranchRef", "Branch supporting the TRefTable (if any)", "TBranchRef*")}});
    c.push_back({"TAttLine",
                 2,
                 kChkTAttLine,
                 kInfoLate,
                 {basic("fLineColor", "Line color", kShort, 2, "short"),
                  basic("fLineStyle", "Line style", kShort, 2, "short"),
                  basic("fLineWidth", "Line width", kShort, 2, "short")}});
    c.push_back(leaf_class("TLeafO", 0x02AE48D3, kBool, 1, "bool"));
    c.push_back(leaf_class("TLeafB", 0x0F1E4B5E, kChar, 1, "char"));
    c.push_back(leaf_class("TLeafS", 0x150CEECF, kShort, 2, "short"));
    c.push_back(leaf_class("TLeafI", 0x7E6AAE19, kInt, 4, "int"));
    c.push_back(leaf_class("TLeafL", 0xDE320862, kLong64, 8, "Long64_t"));
    c.push_back(leaf_class("TLeafF", 0x3ADD9D72, kFloat, 4, "float"));
    c.push_back(leaf_class("TLeafD", 0x118E8776, kDouble, 8, "double"));
    c.push_back({"ROOT::TIOFeatures", 1, 0x1AA12F10, kInfoEarly, {basic("fIOBits", "", kUChar, 1, "unsigned char")}});
    add_histogram_classes(c);
    c.push_back(rntuple_anchor_class());
    return c;
}

const std::vector<ClassInfo>& classes()
{
    static const std::vector<ClassInfo> all = build_classes();
    return all;
}

const ClassInfo* find_class(std::string_view name)
{
    for (const auto& c : classes())
        if (c.name == name) return &c;
    return nullptr;
}

const ClassInfo& class_or_throw(std::string_view name)
{
    if (const ClassInfo* c = find_class(name)) return *c;
    throw RootError("no streamer info for class " + printable(name));
}

std::string_view element_class(Kind k)
{
    switch (k) {
    case Kind::Base: return "TStreamerBase";
    case Kind::Basic: return "TStreamerBasicType";
    case Kind::String: return "TStreamerString";
    case Kind::Object: return "TStreamerObject";
    case Kind::ObjectAny: return "TStreamerObjectAny";
    case Kind::ObjectPointer: return "TStreamerObjectPointer";
    case Kind::BasicPointer: return "TStreamerBasicPointer";
    case Kind::Stl: return "TStreamerSTL";
    }
    return "";
}

int16_t element_class_version(Kind k) { return k == Kind::Base || k == Kind::Stl ? 3 : 2; }

void stream_element(ObjectWriter& w, const Element& e)
{
    ByteWriter& out = w.out();
    size_t ptr;
    w.begin_pointer(element_class(e.kind), ptr);
    const size_t outer = w.begin_versioned(element_class_version(e.kind));
    const size_t inner = w.begin_versioned(4);  // TStreamerElement
    w.tnamed(e.name, e.title, e.bits);
    out.i32(e.type);
    out.i32(e.size);
    out.i32(0);  // fArrayLength
    out.i32(0);  // fArrayDim
    const std::array<uint32_t, 5> max_index{0, e.kind == Kind::Base ? e.base_checksum : 0, 0, 0, 0};
    for (uint32_t m : max_index) out.u32(m);
    out.tstring(e.type_name);
    w.end_versioned(inner);
    switch (e.kind) {
    case Kind::Base: out.i32(e.base_version); break;
    case Kind::BasicPointer:
        out.i32(e.count_version);
        out.tstring(e.count_name);
        out.tstring(e.count_class);
        break;
    case Kind::Stl:
        out.i32(1);   // fSTLtype: vector
        out.i32(61);  // fCtype: object
        break;
    default: break;
    }
    w.end_versioned(outer);
    w.end_pointer(ptr);
}

void stream_class(ObjectWriter& w, const ClassInfo& c)
{
    ByteWriter& out = w.out();
    size_t ptr;
    w.begin_pointer("TStreamerInfo", ptr);
    const size_t info = w.begin_versioned(9);
    w.tnamed(c.name, "", c.bits);
    out.u32(c.checksum);
    out.i32(c.version);
    size_t arr_ptr;
    w.begin_pointer("TObjArray", arr_ptr);
    const size_t arr = w.begin_versioned(3);
    w.tobject(kBitsNotDeleted);
    out.tstring("");
    out.i32(static_cast<int32_t>(c.elements.size()));
    out.i32(0);  // fLowerBound
    for (const Element& e : c.elements) stream_element(w, e);
    w.end_versioned(arr);
    w.end_pointer(arr_ptr);
    w.end_versioned(info);
    w.end_pointer(ptr);
    out.u8(0);  // TList option
}

// The I/O customisation rules ROOT attaches to TTree (defaults for members older
// versions lacked); ROOT writes them beside the TTree streamer info.
constexpr std::array<std::string_view, 2> kTreeRules{
    "type=read sourceClass=\"TTree\" targetClass=\"TTree\" version=\"[-16]\" source=\"\" "
    "target=\"fDefaultEntryOffsetLen\" code=\"{ fDefaultEntryOffsetLen = 1000; }\" ",
    "type=read sourceClass=\"TTree\" targetClass=\"TTree\" version=\"[-18]\" source=\"\" "
    "target=\"fNClusterRange\" code=\"{ fNClusterRange = 0; }\" ",
};

void stream_rules(ObjectWriter& w)
{
    ByteWriter& out = w.out();
    size_t ptr;
    w.begin_pointer("TList", ptr);
    const size_t list = w.begin_versioned(5);
    w.tobject(kBitsNotDeleted | 0x4000);  // kIsOwner
    out.tstring("listOfRules");
    out.i32(static_cast<int32_t>(kTreeRules.size()));
    for (std::string_view rule : kTreeRules) {
        size_t str_ptr;
        w.begin_pointer("TObjString", str_ptr);
        const size_t str = w.begin_versioned(1);
        w.tobject(kBitsOnHeap);
        out.tstring(rule);
        w.end_versioned(str);
        w.end_pointer(str_ptr);
        out.u8(0);
    }
    w.end_versioned(list);
    w.end_pointer(ptr);
    out.u8(0);
}

}  // namespace

std::vector<std::string> streamer_classes_for_trees(std::span<const std::string> leaf_classes)
{
    std::vector<std::string> names{"TNamed",   "TObject",    "TList",     "TSeqCollection", "TCollection",
                                   "TString",  "TAttMarker", "TBranch",   "TAttFill",       "TLeaf",
                                   "TBranchRef", "TRefTable", "TObjArray", "TTree",          "TAttLine"};
    for (const std::string& leaf : leaf_classes)
        if (std::find(names.begin(), names.end(), leaf) == names.end()) names.push_back(leaf);
    names.emplace_back("ROOT::TIOFeatures");
    return names;
}

bool has_streamer_info(std::string_view class_name) { return find_class(class_name) != nullptr; }
int streamer_class_version(std::string_view class_name) { return class_or_throw(class_name).version; }
uint32_t streamer_checksum(std::string_view class_name) { return class_or_throw(class_name).checksum; }

void stream_streamer_infos(ByteWriter& out, int keylen, std::span<const std::string> class_names)
{
    std::vector<const ClassInfo*> infos;
    infos.reserve(class_names.size());
    for (const std::string& name : class_names) infos.push_back(&class_or_throw(name));
    const bool with_rules =
        std::find(class_names.begin(), class_names.end(), std::string("TTree")) != class_names.end();

    ObjectWriter w(out, keylen);
    const size_t list = w.begin_versioned(5);
    w.tobject(kBitsNotDeleted);
    out.tstring("");
    out.i32(static_cast<int32_t>(infos.size() + (with_rules ? 1 : 0)));
    for (const ClassInfo* c : infos) stream_class(w, *c);
    if (with_rules) stream_rules(w);
    w.end_versioned(list);
}

}  // namespace rootio
