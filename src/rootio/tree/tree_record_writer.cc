#include "rootio/tree/tree_record_writer.h"

#include <algorithm>

#include "rootio/format/error.h"
#include "rootio/format/object_writer.h"

namespace rootio {

namespace {

// fBits of ROOT 6.22 objects: TTree has kMustCleanup, TBranch kDoNotUseBufferMap.
constexpr uint32_t kTreeBits = kBitsOnHeap | 0x8;
constexpr uint32_t kBranchBits = kBitsOnHeap | 0x400000;
constexpr uint32_t kOwnerArrayBits = kBitsOnHeap | 0x4000;  // TCollection::kIsOwner: the tree's fBranches
constexpr uint32_t kIOFeaturesChecksum = 0x1AA12F10;

constexpr int64_t kAutoFlushUnset = -30000000;  // ROOT's initial value: flush by bytes
constexpr int32_t kDefaultEntryOffsetLen = 1000;

void io_features(ObjectWriter& w)
{
    // Version 0: the class has no version of its own, the checksum names its layout.
    const size_t at = w.begin_versioned(0);
    w.out().u32(kIOFeaturesChecksum);
    w.out().u8(0);
    w.end_versioned(at);
}

size_t begin_obj_array(ObjectWriter& w, int32_t n, uint32_t bits = kBitsOnHeap)
{
    const size_t at = w.begin_versioned(3);
    w.tobject(bits);
    w.out().tstring("");
    w.out().i32(n);
    w.out().i32(0);  // fLowerBound
    return at;
}

// A basic-type array member whose length is another member: presence flag, then values.
template <class T>
void counted_array(ByteWriter& out, const std::vector<T>& values, int32_t n)
{
    out.u8(1);
    for (int32_t i = 0; i < n; ++i) out.put<T>(i < static_cast<int32_t>(values.size()) ? values[i] : T{});
}

// fMinimum and fMaximum in the leaf's own type.
void leaf_range(ByteWriter& out, const LeafInfo& leaf)
{
    const int64_t max = leaf.is_range ? leaf.count_maximum : 0;
    switch (leaf_type_size(leaf.type)) {
    case 1:
        out.u8(0);
        out.u8(static_cast<uint8_t>(max));
        break;
    case 2:
        out.u16(0);
        out.u16(static_cast<uint16_t>(max));
        break;
    case 4:
        if (leaf.type == LeafType::Float) {
            out.f32(0);
            out.f32(static_cast<float>(max));
        } else {
            out.u32(0);
            out.u32(static_cast<uint32_t>(max));
        }
        break;
    default:
        if (leaf.type == LeafType::Double) {
            out.f64(0);
            out.f64(static_cast<double>(max));
        } else {
            out.i64(0);
            out.i64(max);
        }
    }
}

uint32_t stream_leaf(ObjectWriter& w, const LeafInfo& leaf, uint32_t count_tag)
{
    ByteWriter& out = w.out();
    size_t ptr;
    const uint32_t tag = w.begin_pointer(leaf_class_name(leaf.type), ptr);
    const size_t concrete = w.begin_versioned(1);
    const size_t base = w.begin_versioned(2);  // TLeaf
    w.tnamed(leaf.name, leaf.title, kBitsOnHeap);
    out.i32(leaf.len);
    out.i32(leaf_type_size(leaf.type));
    out.i32(0);  // fOffset
    out.u8(leaf.is_range ? 1 : 0);
    out.u8(leaf_type_is_unsigned(leaf.type) ? 1 : 0);
    if (count_tag != 0)
        w.reference(count_tag);
    else
        w.null_pointer();
    w.end_versioned(base);
    leaf_range(out, leaf);
    w.end_versioned(concrete);
    w.end_pointer(ptr);
    return tag;
}

uint32_t stream_branch(ObjectWriter& w, const BranchInfo& b, uint32_t count_tag)
{
    ByteWriter& out = w.out();
    size_t ptr;
    w.begin_pointer("TBranch", ptr);
    const size_t body = w.begin_versioned(13);
    w.tnamed(b.name, b.title, kBranchBits);
    w.att_fill(0, 1001);

    const int32_t write_basket = b.write_basket();
    const int32_t max_baskets = std::max(10, write_basket + 1);
    out.i32(b.compress);
    out.i32(b.basket_size);
    out.i32(b.entry_offset_len);
    out.i32(write_basket);
    out.i64(b.entries);  // fEntryNumber
    io_features(w);
    out.i32(0);  // fOffset
    out.i32(max_baskets);
    out.i32(0);  // fSplitLevel
    out.i64(b.entries);
    out.i64(0);  // fFirstEntry
    out.i64(b.tot_bytes);
    out.i64(b.zip_bytes);

    w.end_versioned(begin_obj_array(w, 0));  // fBranches
    const size_t leaves = begin_obj_array(w, 1);
    const uint32_t leaf_tag = stream_leaf(w, b.leaf, count_tag);
    w.end_versioned(leaves);
    // fBaskets: ROOT keeps a slot per basket up to the current one, emptied once on disk;
    // a branch that never had a basket on disk has none.
    const int32_t slots = write_basket == 0 ? 0 : write_basket + 1;
    const size_t baskets = begin_obj_array(w, slots);
    for (int32_t i = 0; i < slots; ++i) w.null_pointer();
    w.end_versioned(baskets);

    counted_array(out, b.basket_bytes, max_baskets);
    counted_array(out, b.basket_entry, max_baskets);
    counted_array(out, b.basket_seek, max_baskets);
    out.tstring("");  // fFileName
    w.end_versioned(body);
    w.end_pointer(ptr);
    return leaf_tag;
}

int count_branch_of(const TreeInfo& tree, size_t i)
{
    const BranchInfo& b = tree.branches[i];
    if (b.count_branch >= 0) return b.count_branch;
    if (b.leaf.count_leaf.empty()) return -1;
    for (size_t j = 0; j < tree.branches.size(); ++j)
        if (tree.branches[j].leaf.name == b.leaf.count_leaf) return static_cast<int>(j);
    throw RootError("TTree " + printable(tree.name) + ": branch " + printable(b.name) + ": count leaf " +
                    printable(b.leaf.count_leaf) + " not found");
}

}  // namespace

void stream_tree(ByteWriter& out, int keylen, const TreeInfo& tree)
{
    ObjectWriter w(out, keylen);
    const size_t body = w.begin_versioned(20);
    w.tnamed(tree.name, tree.title, kTreeBits);
    w.att_line(602, 1, 1);
    w.att_fill(0, 1001);
    w.att_marker(1, 1, 1.0f);

    out.i64(tree.entries);
    out.i64(tree.tot_bytes);
    out.i64(tree.zip_bytes);
    out.i64(0);  // fSavedBytes
    out.i64(0);  // fFlushedBytes
    out.f64(1.0);  // fWeight
    out.i32(0);  // fTimerInterval
    out.i32(25);  // fScanField
    out.i32(0);  // fUpdate
    out.i32(kDefaultEntryOffsetLen);
    out.i32(0);  // fNClusterRange
    out.i64(1000000000000);  // fMaxEntries
    out.i64(1000000000000);  // fMaxEntryLoop
    out.i64(0);  // fMaxVirtualSize
    out.i64(-300000000);  // fAutoSave
    out.i64(tree.auto_flush > 0 ? tree.auto_flush : kAutoFlushUnset);
    out.i64(1000000);  // fEstimate
    out.u8(0);  // fClusterRangeEnd: none
    out.u8(0);  // fClusterSize: none
    io_features(w);

    const size_t n = tree.branches.size();
    std::vector<uint32_t> leaf_tags(n, 0);
    const size_t branches = begin_obj_array(w, static_cast<int32_t>(n), kOwnerArrayBits);
    for (size_t i = 0; i < n; ++i) {
        const int counter = count_branch_of(tree, i);
        if (counter >= static_cast<int>(i))
            throw RootError("TTree " + printable(tree.name) + ": branch " + printable(tree.branches[i].name) +
                            ": its count branch must come before it");
        leaf_tags[i] = stream_branch(w, tree.branches[i], counter >= 0 ? leaf_tags[counter] : 0);
    }
    w.end_versioned(branches);
    const size_t leaves = begin_obj_array(w, static_cast<int32_t>(n));
    for (uint32_t tag : leaf_tags) w.reference(tag);
    w.end_versioned(leaves);

    w.null_pointer();  // fAliases
    out.i32(0);  // fIndexValues
    out.i32(0);  // fIndex
    w.null_pointer();  // fTreeIndex
    w.null_pointer();  // fFriends
    w.null_pointer();  // fUserInfo
    w.null_pointer();  // fBranchRef
    w.end_versioned(body);
}

}  // namespace rootio
