#include "rootio/tree_reader.h"

#include <map>
#include <memory>
#include <unordered_map>

#include "rootio/object_reader.h"

namespace rootio {

namespace {

constexpr int kMaxNesting = 16;  // sub-branches deeper than this are not a flat tree

struct ParsedLeaf {
    std::string class_name;
    LeafInfo info;
    bool is_unsigned = false;
    uint32_t count_tag = 0;  // tag of the count leaf, 0 for none
    int branch = -1;         // top-level branch listing this leaf
};

struct ParsedBranch {
    BranchInfo info;
    int16_t version = 0;
    size_t sub_branches = 0;
    std::vector<uint32_t> leaf_tags;
    std::vector<std::pair<int, EmbeddedBasket>> embedded;  // fBaskets slot, basket
};

class TreeRecordParser {
public:
    TreeRecordParser(const RootFile& file, ByteReader& in, std::string tree_context)
        : file_(file), in_(in), obj_(in), context_(std::move(tree_context))
    {
    }

    TreeInfo parse()
    {
        const ObjectFrame frame = obj_.begin("TTree");
        if (frame.version != 19 && frame.version != 20)
            fail(file_.path(), context_, "TTree class version " + std::to_string(frame.version) +
                                             " is not supported (19 and 20 are)");
        TreeInfo tree;
        auto named = obj_.tnamed();
        tree.name = std::move(named.name);
        tree.title = std::move(named.title);
        skip_object("TAttLine");
        skip_object("TAttFill");
        skip_object("TAttMarker");
        tree.entries = in_.i64();
        tree.tot_bytes = in_.i64();
        tree.zip_bytes = in_.i64();
        in_.i64();  // fSavedBytes
        in_.i64();  // fFlushedBytes
        in_.f64();  // fWeight
        in_.i32();  // fTimerInterval
        in_.i32();  // fScanField
        in_.i32();  // fUpdate
        in_.i32();  // fDefaultEntryOffsetLen
        const int32_t ncluster = in_.i32();
        in_.i64();  // fMaxEntries
        in_.i64();  // fMaxEntryLoop
        in_.i64();  // fMaxVirtualSize
        in_.i64();  // fAutoSave
        tree.auto_flush = in_.i64();
        in_.i64();  // fEstimate
        skip_basic_array(ncluster, 8, "fClusterRangeEnd");
        skip_basic_array(ncluster, 8, "fClusterSize");
        if (frame.version >= 20) skip_object("fIOFeatures");
        if (tree.entries < 0) fail(file_.path(), context_, "negative entry count");

        ObjectFrame array;
        const int32_t n = obj_.objarray_begin(array, "TTree branches");
        std::vector<ParsedBranch> branches;
        for (int32_t i = 0; i < n; ++i) {
            const PointerSlot slot = obj_.pointer("TTree branches");
            if (slot.kind != PointerSlot::Kind::New) continue;
            ParsedBranch b = read_branch(slot, 0);
            for (uint32_t tag : b.leaf_tags) {
                auto it = leaves_.find(tag);
                if (it != leaves_.end() && it->second.branch < 0) it->second.branch = static_cast<int>(branches.size());
            }
            branches.push_back(std::move(b));
        }
        obj_.end(array, "TTree branches");
        obj_.skip_rest(frame, "TTree");  // leaf list, aliases, indices, friends: not needed

        for (ParsedBranch& b : branches) finish_branch(b, tree.entries);
        tree.branches.reserve(branches.size());
        for (ParsedBranch& b : branches) tree.branches.push_back(std::move(b.info));
        resolve_counts(tree, branches);
        return tree;
    }

private:
    [[noreturn]] void corrupt(const std::string& object, const std::string& what) const
    {
        fail(file_.path(), context_ + ": " + object, what);
    }

    void skip_object(std::string_view what)
    {
        const ObjectFrame f = obj_.begin(what);
        obj_.skip_rest(f, what);
    }

    // Basic-pointer member: a flag byte, then `count` values when the flag is set.
    void skip_basic_array(int32_t count, size_t element, std::string_view what)
    {
        if (in_.u8() == 0) return;
        if (count < 0 || static_cast<size_t>(count) > in_.remaining() / element)
            corrupt(std::string(what), std::to_string(count) + " values cannot fit in the record");
        in_.skip(static_cast<size_t>(count) * element);
    }

    template <class T>
    std::vector<T> read_basic_array(int32_t count, std::string_view what)
    {
        std::vector<T> out;
        if (in_.u8() == 0) {
            out.assign(static_cast<size_t>(count), T{});
            return out;
        }
        if (static_cast<size_t>(count) > in_.remaining() / sizeof(T))
            corrupt(std::string(what), std::to_string(count) + " values cannot fit in the record");
        out.resize(static_cast<size_t>(count));
        for (T& v : out) v = in_.read<T>();
        return out;
    }

    ParsedBranch read_branch(const PointerSlot& slot, int depth)
    {
        if (depth > kMaxNesting) corrupt("branch", "branches nested too deeply");
        ParsedBranch b;
        b.info.class_name = slot.class_name;
        const ObjectFrame frame = obj_.begin(slot.class_name);
        if (slot.class_name == "TBranch") {
            b.version = frame.version;
            read_tbranch_body(frame, b, depth);
        } else if (slot.class_name.starts_with("TBranch")) {
            // Derived branches start with their TBranch part; its leaves must be registered
            // even though the branch is not read, as later objects refer back to them.
            const ObjectFrame base = obj_.begin("TBranch");
            b.version = base.version;
            read_tbranch_body(base, b, depth);
            obj_.skip_rest(frame, slot.class_name);
        } else {
            obj_.skip_rest(frame, slot.class_name);
        }
        obj_.skip_object(slot);
        return b;
    }

    void read_tbranch_body(const ObjectFrame& frame, ParsedBranch& b, int depth)
    {
        BranchInfo& info = b.info;
        auto named = obj_.tnamed();
        info.name = std::move(named.name);
        info.title = std::move(named.title);
        if (frame.version != 12 && frame.version != 13) {
            obj_.skip_rest(frame, "TBranch");
            return;
        }
        const std::string what = "branch " + printable(info.name);
        skip_object("TAttFill");
        info.compress = in_.i32();
        info.basket_size = in_.i32();
        info.entry_offset_len = in_.i32();
        const int32_t write_basket = in_.i32();
        in_.i64();  // fEntryNumber
        if (frame.version >= 13) skip_object("fIOFeatures");
        in_.i32();  // fOffset
        const int32_t max_baskets = in_.i32();
        in_.i32();  // fSplitLevel
        info.entries = in_.i64();
        in_.i64();  // fFirstEntry
        info.tot_bytes = in_.i64();
        info.zip_bytes = in_.i64();
        if (max_baskets < 0 || write_basket < 0 || write_basket > max_baskets ||
            static_cast<size_t>(max_baskets) > in_.remaining() / 20)
            corrupt(what, "basket table of " + std::to_string(max_baskets) + " slots (" +
                              std::to_string(write_basket) + " written) does not fit the record");
        if (info.entries < 0) corrupt(what, "negative entry count");

        ObjectFrame array;
        int32_t n = obj_.objarray_begin(array, what + " sub-branches");
        for (int32_t i = 0; i < n; ++i) {
            const PointerSlot slot = obj_.pointer(what + " sub-branches");
            if (slot.kind == PointerSlot::Kind::Null) continue;
            ++b.sub_branches;
            if (slot.kind == PointerSlot::Kind::New) read_branch(slot, depth + 1);
        }
        obj_.end(array, what + " sub-branches");

        n = obj_.objarray_begin(array, what + " leaves");
        for (int32_t i = 0; i < n; ++i) {
            const PointerSlot slot = obj_.pointer(what + " leaves");
            if (slot.kind == PointerSlot::Kind::New) {
                read_leaf(slot, depth);
                b.leaf_tags.push_back(slot.tag);
            } else if (slot.kind == PointerSlot::Kind::Reference) {
                b.leaf_tags.push_back(slot.tag);
            }
        }
        obj_.end(array, what + " leaves");

        n = obj_.objarray_begin(array, what + " baskets");
        for (int32_t i = 0; i < n; ++i) {
            const PointerSlot slot = obj_.pointer(what + " baskets");
            if (slot.kind != PointerSlot::Kind::New) continue;
            if (slot.class_name == "TBasket") b.embedded.emplace_back(i, read_embedded_basket(slot, what));
            obj_.skip_object(slot);
        }
        obj_.end(array, what + " baskets");

        auto bytes = read_basic_array<int32_t>(max_baskets, what + " fBasketBytes");
        auto entry = read_basic_array<int64_t>(max_baskets, what + " fBasketEntry");
        auto seek = read_basic_array<int64_t>(max_baskets, what + " fBasketSeek");
        in_.tstring();  // fFileName
        obj_.end(frame, what);

        const size_t wb = static_cast<size_t>(write_basket);
        info.basket_bytes.assign(bytes.begin(), bytes.begin() + wb);
        info.basket_seek.assign(seek.begin(), seek.begin() + wb);
        info.basket_entry.assign(entry.begin(), entry.begin() + std::min(wb + 1, entry.size()));
        if (info.basket_entry.size() < wb + 1) info.basket_entry.push_back(info.entries);
        for (auto& [index, basket] : b.embedded) {
            if (static_cast<size_t>(index) >= entry.size())
                corrupt(what, "embedded basket in slot " + std::to_string(index) + " has no entry number");
            basket.first_entry = entry[static_cast<size_t>(index)];
        }
    }

    void read_leaf(const PointerSlot& slot, int depth)
    {
        if (depth > kMaxNesting) corrupt("leaf", "leaves nested too deeply");
        ParsedLeaf leaf;
        leaf.class_name = slot.class_name;
        const ObjectFrame frame = obj_.begin(slot.class_name);
        if (slot.class_name.starts_with("TLeaf")) {
            const ObjectFrame base = obj_.begin("TLeaf");
            auto named = obj_.tnamed();
            leaf.info.name = std::move(named.name);
            leaf.info.title = std::move(named.title);
            leaf.info.len = in_.i32();
            in_.i32();  // fLenType
            in_.i32();  // fOffset
            leaf.info.is_range = in_.u8() != 0;
            leaf.is_unsigned = in_.u8() != 0;
            const PointerSlot count = obj_.pointer("leaf " + printable(leaf.info.name) + " count");
            if (count.kind == PointerSlot::Kind::New) {
                read_leaf(count, depth + 1);
                leaf.count_tag = count.tag;
            } else if (count.kind == PointerSlot::Kind::Reference) {
                leaf.count_tag = count.tag;
            }
            obj_.skip_rest(base, "TLeaf");
            if (auto type = leaf_type_from_class(slot.class_name, leaf.is_unsigned)) {
                leaf.info.type = *type;
                in_.skip(static_cast<size_t>(leaf_type_size(*type)));  // fMinimum
                leaf.info.count_maximum = read_integer(*type);         // fMaximum
            }
        }
        obj_.skip_rest(frame, slot.class_name);
        obj_.skip_object(slot);
        leaves_[slot.tag] = std::move(leaf);
    }

    int64_t read_integer(LeafType type)
    {
        switch (type) {
        case LeafType::Bool:
        case LeafType::UInt8: return in_.u8();
        case LeafType::Int8: return in_.i8();
        case LeafType::Int16: return in_.i16();
        case LeafType::UInt16: return in_.u16();
        case LeafType::Int32: return in_.i32();
        case LeafType::UInt32: return in_.u32();
        case LeafType::Int64:
        case LeafType::UInt64: return in_.i64();
        case LeafType::Float: in_.skip(4); return 0;
        case LeafType::Double: in_.skip(8); return 0;
        }
        return 0;
    }

    EmbeddedBasket read_embedded_basket(const PointerSlot& slot, const std::string& what)
    {
        const std::string basket_what = what + " embedded basket";
        const KeyHeader key = read_key_header(in_, false);
        EmbeddedBasket basket;
        basket.keylen = key.keylen;
        const int16_t version = in_.i16();
        in_.i32();  // fBufferSize
        int32_t nev_buf_size = in_.i32();
        if (nev_buf_size < 0) in_.u8();  // fIOBits
        basket.entries = in_.i32();
        basket.last = in_.i32();
        int flag = in_.u8();
        if (basket.entries < 0) corrupt(basket_what, "negative entry count");
        if (flag >= 80) corrupt(basket_what, "generated entry offsets in an embedded basket are not supported");
        if (flag != 0 && flag % 10 != 2) {
            // An empty basket stores no offset array at all, not an empty one.
            if (basket.entries > 0) {
                const int32_t n = in_.i32();
                if (n < 0 || static_cast<size_t>(n) > in_.remaining() / 4)
                    corrupt(basket_what, std::to_string(n) + " entry offsets cannot fit in the record");
                if (n < basket.entries)
                    corrupt(basket_what,
                            std::to_string(n) + " entry offsets for " + std::to_string(basket.entries) + " entries");
                basket.offsets.resize(static_cast<size_t>(n));
                for (int32_t& off : basket.offsets) {
                    off = in_.i32();
                    if (flag > 20 && flag < 40) off &= ~0xFF000000;
                }
                basket.offsets.resize(static_cast<size_t>(basket.entries));
            }
            if (flag > 40) {
                const int32_t nd = in_.i32();
                if (nd < 0 || static_cast<size_t>(nd) > in_.remaining() / 4)
                    corrupt(basket_what, "displacement array does not fit the record");
                in_.skip(static_cast<size_t>(nd) * 4);
            }
        }
        if (flag == 1 || flag > 10) {
            if (version <= 1) corrupt(basket_what, "basket version " + std::to_string(version) + " is not supported");
            if (basket.last < basket.keylen || basket.keylen < 0 || static_cast<size_t>(basket.last) > in_.remaining())
                corrupt(basket_what, "buffer of " + std::to_string(basket.last) + " bytes (key length " +
                                         std::to_string(basket.keylen) + ") does not fit the record");
            auto buffer = in_.bytes(static_cast<size_t>(basket.last));
            basket.data.assign(buffer.begin() + basket.keylen, buffer.end());
        } else if (basket.entries > 0) {
            corrupt(basket_what, "holds entries but no buffer");
        }
        if (in_.pos() > slot.end) corrupt(basket_what, "longer than its byte count");
        return basket;
    }

    // Decides which branches the engine reads and links array leaves to their counts.
    void finish_branch(ParsedBranch& b, int64_t tree_entries)
    {
        BranchInfo& info = b.info;
        for (auto& [index, basket] : b.embedded) info.embedded.push_back(std::move(basket));
        if (info.class_name != "TBranch") {
            info.unsupported = printable(info.class_name);
            return;
        }
        if (b.version != 12 && b.version != 13) {
            info.unsupported = "TBranch version " + std::to_string(b.version);
            return;
        }
        if (b.sub_branches > 0) {
            info.unsupported = "sub-branches";
            return;
        }
        if (b.leaf_tags.size() != 1) {
            info.unsupported = std::to_string(b.leaf_tags.size()) + " leaves";
            return;
        }
        auto it = leaves_.find(b.leaf_tags[0]);
        if (it == leaves_.end()) {
            info.unsupported = "leaf not found";
            return;
        }
        const ParsedLeaf& leaf = it->second;
        if (!leaf_type_from_class(leaf.class_name, leaf.is_unsigned)) {
            info.unsupported = "leaf class " + printable(leaf.class_name);
            return;
        }
        info.leaf = leaf.info;
        // An entry's bytes are counted in 32 bits, as ROOT counts them.
        if (info.leaf.len < 1 || int64_t{info.leaf.len} * leaf_type_size(info.leaf.type) > INT32_MAX) {
            info.unsupported = "leaf length " + std::to_string(info.leaf.len);
            return;
        }
        (void)tree_entries;
    }

    void resolve_counts(TreeInfo& tree, const std::vector<ParsedBranch>& parsed)
    {
        for (size_t i = 0; i < tree.branches.size(); ++i) {
            BranchInfo& info = tree.branches[i];
            if (!info.is_supported()) continue;
            const ParsedLeaf& leaf = leaves_.at(parsed[i].leaf_tags[0]);
            if (leaf.count_tag == 0) continue;
            auto it = leaves_.find(leaf.count_tag);
            if (it == leaves_.end()) {
                info.unsupported = "count leaf not found";
                continue;
            }
            const ParsedLeaf& count = it->second;
            info.leaf.count_leaf = count.info.name;
            int cb = count.branch;
            if (cb < 0) cb = tree.find_branch(count.info.name);
            if (cb < 0 || static_cast<size_t>(cb) == i) {
                info.unsupported = "count leaf " + printable(count.info.name) + " has no branch";
                continue;
            }
            info.count_branch = cb;
        }
        // A count must itself be a readable integer scalar.
        for (BranchInfo& info : tree.branches) {
            if (!info.is_supported() || info.count_branch < 0) continue;
            const BranchInfo& count = tree.branches[static_cast<size_t>(info.count_branch)];
            if (!count.is_supported() || !leaf_type_is_integer(count.leaf.type) || count.leaf.type == LeafType::Bool ||
                count.leaf.len != 1 || count.count_branch >= 0)
                info.unsupported = "count branch " + printable(count.name) + " is not an integer scalar";
        }
    }

    const RootFile& file_;
    ByteReader& in_;
    ObjectReader obj_;
    std::string context_;
    std::unordered_map<uint32_t, ParsedLeaf> leaves_;  // by object tag
};

}  // namespace

TreeInfo read_tree(const RootFile& file, std::string_view tree_name)
{
    const std::string context = "tree " + printable(tree_name);
    const KeyHeader* key = file.find_key(tree_name);
    if (!key) fail(file.path(), "", "no object named '" + printable(tree_name) + "'");
    if (key->class_name != "TTree")
        fail(file.path(), context, "is a " + printable(key->class_name) + ", not a TTree");
    const std::vector<uint8_t> record = file.read_object(*key);
    const std::string reader_context = file.path() + ": " + context;
    ByteReader in(record, reader_context, static_cast<size_t>(key->keylen));
    TreeRecordParser parser(file, in, context);
    return parser.parse();
}

}  // namespace rootio
