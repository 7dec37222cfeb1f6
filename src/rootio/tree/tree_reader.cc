#include "rootio/tree/tree_reader.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>

#include "rootio/tree/class_layout.h"
#include "rootio/format/object_reader.h"

namespace rootio {

namespace {

constexpr int kMaxNesting = 16;  // sub-branches deeper than this are not a flat tree
// ROOT reads older versions with hand-written streamers, not member by member.
constexpr int kOldestTree = 5;
constexpr int kOldestBranch = 6;

struct ParsedLeaf {
    std::string class_name;
    LeafInfo info;
    bool is_unsigned = false;
    uint32_t count_tag = 0;  // tag of the count leaf, 0 for none
    int branch = -1;         // top-level branch listing this leaf
};

// Basic members read by layout: scalars as 64-bit integers, basic pointers as arrays.
struct Members {
    std::vector<std::pair<std::string_view, int64_t>> scalars;
    std::vector<std::pair<std::string_view, std::vector<int64_t>>> arrays;

    bool has(std::string_view name) const
    {
        for (const auto& [n, v] : scalars)
            if (n == name) return true;
        return false;
    }
    int64_t get(std::string_view name) const
    {
        for (const auto& [n, v] : scalars)
            if (n == name) return v;
        return 0;
    }
    const std::vector<int64_t>& array(std::string_view name) const
    {
        static const std::vector<int64_t> none;
        for (const auto& [n, v] : arrays)
            if (n == name) return v;
        return none;
    }
};

struct ParsedBranch {
    BranchInfo info;
    size_t sub_branches = 0;
    std::vector<uint32_t> leaf_tags;
    std::vector<std::pair<int, EmbeddedBasket>> embedded;  // fBaskets slot, basket
    std::vector<int> bufferless;                           // slots of embedded baskets without data
    int64_t recorded_entries = 0;  // entries its basket tables (its sub-branches' too) account for
};

class TreeRecordParser {
public:
    TreeRecordParser(const RootFile& file, ByteReader& in, std::string tree_context)
        : file_(file), in_(in), obj_(in), context_(std::move(tree_context))
    {
    }

    TreeInfo parse(std::string_view class_name)
    {
        // TNtuple and TNtupleD are trees with one more member (fNvar) after their TTree part.
        if (class_name != "TTree") {
            const ObjectFrame frame = obj_.begin(class_name);
            TreeInfo tree = parse_ttree();
            obj_.skip_rest(frame, class_name);
            return tree;
        }
        return parse_ttree();
    }

private:
    TreeInfo parse_ttree()
    {
        const ObjectFrame frame = obj_.begin("TTree");
        const ClassLayout& layout = layout_of("TTree", frame.version, kOldestTree);
        TreeInfo tree;
        std::vector<ParsedBranch> branches;
        Members members;
        ObjectReader::Named named;
        // Only the members up to the branch list are read; the rest is skipped.
        read_members(layout, "TTree", members, &named, [&](std::string_view member) {
            if (member == "fBranches") read_branch_list(branches);
            return member == "fBranches";
        });
        if (!members.has("fBranches")) corrupt("TTree", "its layout has no branch list");
        obj_.skip_rest(frame, "TTree");  // leaf list, aliases, indices, friends: not needed
        tree.name = std::move(named.name);
        tree.title = std::move(named.title);
        tree.entries = members.get("fEntries");
        tree.tot_bytes = members.get("fTotBytes");
        tree.zip_bytes = members.get("fZipBytes");
        tree.auto_flush = members.get("fAutoFlush");
        if (tree.entries < 0) fail(file_.path(), context_, "negative entry count");
        check_entries_recorded(tree.entries, branches);

        for (ParsedBranch& b : branches) finish_branch(b, tree.entries);
        tree.branches.reserve(branches.size());
        for (ParsedBranch& b : branches) tree.branches.push_back(std::move(b.info));
        resolve_counts(tree, branches);
        return tree;
    }

    void read_branch_list(std::vector<ParsedBranch>& branches)
    {
        each_slot("TTree branches", [&](int32_t, const PointerSlot& slot) {
            if (slot.kind != PointerSlot::Kind::New) return;
            ParsedBranch b = read_branch(slot, 0);
            for (uint32_t tag : b.leaf_tags) {
                auto it = leaves_.find(tag);
                if (it != leaves_.end() && it->second.branch < 0) it->second.branch = static_cast<int>(branches.size());
            }
            branches.push_back(std::move(b));
        });
    }

    [[noreturn]] void corrupt(const std::string& object, const std::string& what) const
    {
        fail(file_.path(), context_ + ": " + object, what);
    }

    // The layout of this class version: built in, or else from the file's StreamerInfo.
    const ClassLayout& layout_of(std::string_view class_name, int version, int oldest)
    {
        if (const ClassLayout* known = known_layout(class_name, version)) return *known;
        const std::string key = std::string(class_name) + ";" + std::to_string(version);
        auto it = stored_layouts_.find(key);
        if (it == stored_layouts_.end()) {
            ClassLayout layout;
            if (version >= oldest) layout = stored_layout(file_, class_name, version);
            it = stored_layouts_.emplace(key, std::move(layout)).first;
        }
        if (it->second.empty())
            fail(file_.path(), context_, std::string(class_name) + " class version " + std::to_string(version) +
                                             " is not supported (the file does not describe it)");
        return it->second;
    }

    // Reads members in layout order into `out`. Object members (the TObjArrays) are handed
    // to `on_object`, which reads them and returns true to stop there.
    template <class OnObject>
    void read_members(const ClassLayout& layout, const std::string& what, Members& out, ObjectReader::Named* named,
                      OnObject&& on_object)
    {
        using namespace member_type;
        for (const MemberLayout& m : layout) {
            if (m.type == kTNamed && named) {
                *named = obj_.tnamed();
            } else if (m.type == kTObject) {
                obj_.tobject();
            } else if (m.type == kBase || m.type == kTNamed || m.type == kAny) {
                // Base classes and embedded objects with a byte count (TAttFill, fIOFeatures).
                const ObjectFrame f = obj_.begin(m.name);
                obj_.skip_rest(f, what + " " + printable(m.name));
            } else if (basic_member_size(m.type) > 0) {
                out.scalars.emplace_back(m.name, read_scalar(m.type));
            } else if (m.type > kOffsetP && basic_member_size(m.type - kOffsetP) > 0) {
                out.arrays.emplace_back(m.name, read_pointer_array(m.type - kOffsetP, out.get(m.count_name),
                                                                   what + " " + printable(m.name)));
            } else if (m.type == kTString) {
                out.scalars.emplace_back(m.name, 0);
                in_.tstring_view();
            } else if (m.type == kObject) {
                out.scalars.emplace_back(m.name, 0);
                if (on_object(m.name)) return;
            } else {
                corrupt(what, "member " + printable(m.name) + " of type " + std::to_string(m.type) + " cannot be read");
            }
        }
    }

    // One basic value as a 64-bit integer (Stat_t entry counts of old versions are doubles).
    int64_t read_scalar(int32_t type)
    {
        using namespace member_type;
        switch (type) {
        case kChar: return in_.i8();
        case kUChar:
        case kBool: return in_.u8();
        case kShort: return in_.i16();
        case kUShort: return in_.u16();
        case kInt:
        case kCounter: return in_.i32();
        case kUInt:
        case kBits: return in_.u32();
        case kFloat: return static_cast<int64_t>(in_.f32());
        case kDouble: {
            const double d = in_.f64();
            return d >= -9.2e18 && d <= 9.2e18 ? static_cast<int64_t>(d) : -1;
        }
        default: return in_.i64();
        }
    }

    // Basic-pointer member: a flag byte, then `count` values when the flag is set.
    std::vector<int64_t> read_pointer_array(int32_t type, int64_t count, const std::string& what)
    {
        std::vector<int64_t> out;
        if (in_.u8() == 0) return out;
        const size_t size = static_cast<size_t>(basic_member_size(type));
        if (count < 0 || static_cast<uint64_t>(count) > in_.remaining() / size)
            corrupt(what, std::to_string(count) + " values cannot fit in the record");
        out.resize(static_cast<size_t>(count));
        for (int64_t& v : out) v = read_scalar(type);
        return out;
    }

    ParsedBranch read_branch(const PointerSlot& slot, int depth)
    {
        if (depth > kMaxNesting) corrupt("branch", "branches nested too deeply");
        ParsedBranch b;
        b.info.class_name = slot.class_name;
        const ObjectFrame frame = obj_.begin(slot.class_name);
        if (slot.class_name == "TBranch") {
            read_tbranch_body(frame, b, depth);
        } else if (slot.class_name.starts_with("TBranch")) {
            // Derived branches start with their TBranch part; its leaves must be registered
            // even though the branch is not read, as later objects refer back to them.
            const ObjectFrame base = obj_.begin("TBranch");
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
        const ClassLayout& layout = layout_of("TBranch", frame.version, kOldestBranch);
        const std::string what = "branch " + std::to_string(branch_count_);
        ++branch_count_;
        Members m;
        ObjectReader::Named named;
        read_members(layout, what, m, &named, [&](std::string_view member) {
            const std::string branch = "branch " + printable(named.name);
            if (member == "fBranches") read_sub_branches(b, branch + " sub-branches", depth);
            else if (member == "fLeaves") read_leaf_list(b, branch + " leaves", depth);
            else if (member == "fBaskets") read_basket_list(b, branch + " baskets");
            else skip_objarray(branch + " " + std::string(member));
            return false;
        });
        obj_.end(frame, "branch " + printable(named.name));
        info.name = std::move(named.name);
        info.title = std::move(named.title);
        const std::string branch_what = "branch " + printable(info.name);
        info.compress = static_cast<int32_t>(m.get("fCompress"));
        info.basket_size = static_cast<int32_t>(m.get("fBasketSize"));
        info.entry_offset_len = static_cast<int32_t>(m.get("fEntryOffsetLen"));
        info.entries = m.get("fEntries");
        info.tot_bytes = m.get("fTotBytes");
        info.zip_bytes = m.get("fZipBytes");
        const int64_t write_basket = m.get("fWriteBasket");
        const std::vector<int64_t>& bytes = m.array("fBasketBytes");
        const std::vector<int64_t>& entry = m.array("fBasketEntry");
        const std::vector<int64_t>& seek = m.array("fBasketSeek");
        if (info.entries < 0) corrupt(branch_what, "negative entry count");
        if (write_basket < 0 || static_cast<size_t>(write_basket) > std::min(bytes.size(), seek.size()))
            corrupt(branch_what, "basket table of " + std::to_string(std::min(bytes.size(), seek.size())) +
                                     " slots does not hold the " + std::to_string(write_basket) + " baskets written");

        const size_t wb = static_cast<size_t>(write_basket);
        info.basket_bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(wb));
        info.basket_seek.assign(seek.begin(), seek.begin() + static_cast<std::ptrdiff_t>(wb));
        info.basket_entry.assign(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(std::min(wb + 1, entry.size())));
        info.basket_entry.resize(std::max(info.basket_entry.size(), wb), 0);
        if (info.basket_entry.size() < wb + 1) info.basket_entry.push_back(info.entries);
        // A basket kept without its buffer is read from disk, as ROOT does for old files,
        // when the branch says where.
        std::erase_if(b.embedded, [&](const auto& e) {
            const size_t slot = static_cast<size_t>(e.first);
            return std::find(b.bufferless.begin(), b.bufferless.end(), e.first) != b.bufferless.end() &&
                   slot < wb && info.basket_seek[slot] > 0;
        });
        for (auto& [index, basket] : b.embedded) {
            if (static_cast<size_t>(index) >= entry.size())
                corrupt(branch_what, "embedded basket in slot " + std::to_string(index) + " has no entry number");
            basket.first_entry = entry[static_cast<size_t>(index)];
        }
        // Disk slots at the end whose baskets the record keeps leave the disk tables, so that
        // the embedded baskets simply follow the ones on disk, as in files ROOT closes.
        size_t on_disk = wb;
        auto kept_in_record = [&](size_t slot) {
            return std::any_of(b.embedded.begin(), b.embedded.end(),
                               [&](const auto& e) { return static_cast<size_t>(e.first) == slot; });
        };
        while (on_disk > 0 && kept_in_record(on_disk - 1)) --on_disk;
        info.basket_bytes.resize(on_disk);
        info.basket_seek.resize(on_disk);
        info.basket_entry.resize(on_disk + 1);
        if (on_disk > 0) b.recorded_entries = std::max(b.recorded_entries, info.basket_entry[on_disk]);
        for (const auto& [index, basket] : b.embedded)
            b.recorded_entries = std::max(b.recorded_entries, embedded_end(basket));
    }

    // The tree's entry count sizes every loop over it, so it must be one its baskets account
    // for: some branch (or a sub-branch of one) must record that many entries in its basket
    // tables. Branches may hold fewer (added after the first fills), so the most recorded by
    // any branch counts; a tree without branches holds no entries. Each basket's own entry
    // count is checked against its table when it is read.
    void check_entries_recorded(int64_t entries, const std::vector<ParsedBranch>& branches) const
    {
        int64_t recorded = 0;
        for (const ParsedBranch& b : branches) recorded = std::max(recorded, b.recorded_entries);
        if (entries <= recorded) return;
        const std::string claim = "claims " + std::to_string(entries) + " entries";
        if (branches.empty()) fail(file_.path(), context_, claim + " but has no branches");
        fail(file_.path(), context_, claim + ", but its branches' baskets hold " + std::to_string(recorded));
    }

    // Calls fn(index, slot) for each slot of a TObjArray, then checks the array's end.
    template <class Fn>
    void each_slot(const std::string& what, Fn&& fn)
    {
        ObjectFrame array;
        const int32_t n = obj_.objarray_begin(array, what);
        for (int32_t i = 0; i < n; ++i) fn(i, obj_.pointer(what));
        obj_.end(array, what);
    }

    void skip_objarray(const std::string& what)
    {
        each_slot(what, [&](int32_t, const PointerSlot& slot) {
            if (slot.kind == PointerSlot::Kind::New) obj_.skip_object(slot);
        });
    }

    void read_sub_branches(ParsedBranch& b, const std::string& what, int depth)
    {
        each_slot(what, [&](int32_t, const PointerSlot& slot) {
            if (slot.kind == PointerSlot::Kind::Null) return;
            ++b.sub_branches;
            if (slot.kind == PointerSlot::Kind::New)
                b.recorded_entries = std::max(b.recorded_entries, read_branch(slot, depth + 1).recorded_entries);
        });
    }

    void read_leaf_list(ParsedBranch& b, const std::string& what, int depth)
    {
        each_slot(what, [&](int32_t, const PointerSlot& slot) {
            if (slot.kind == PointerSlot::Kind::New) read_leaf(slot, depth);
            if (slot.kind != PointerSlot::Kind::Null) b.leaf_tags.push_back(slot.tag);
        });
    }

    void read_basket_list(ParsedBranch& b, const std::string& what)
    {
        each_slot(what, [&](int32_t i, const PointerSlot& slot) {
            if (slot.kind != PointerSlot::Kind::New) return;
            if (slot.class_name == "TBasket") {
                bool bufferless = false;
                b.embedded.emplace_back(i, read_embedded_basket(slot, what, i, bufferless));
                if (bufferless) b.bufferless.push_back(i);
            }
            obj_.skip_object(slot);
        });
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

    // A damaged basket does not make the tree unreadable: its damage is kept, and only
    // reading its branch fails. The byte count of the basket object says where it ends.
    EmbeddedBasket read_embedded_basket(const PointerSlot& slot, const std::string& what, int32_t index,
                                        bool& bufferless)
    {
        EmbeddedBasket basket;
        basket.slot = index;
        try {
            read_embedded_basket_body(slot, what, basket, bufferless);
        } catch (const RootError& e) {
            basket.damage = e.what();
            basket.entries = std::max(basket.entries, 0);
            basket.offsets.clear();
            basket.data.clear();
        }
        return basket;
    }

    void read_embedded_basket_body(const PointerSlot& slot, const std::string& what, EmbeddedBasket& basket,
                                   bool& bufferless)
    {
        const std::string basket_what = what + " embedded basket";
        const KeyHeader key = read_key_header(in_, false);
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
            // Version 1 stored the buffer as a counted array, later ones as fLast plain bytes.
            const int64_t stored = version <= 1 ? in_.i32() : basket.last;
            if (basket.last < basket.keylen || basket.keylen < 0 || stored < basket.last ||
                static_cast<uint64_t>(stored) > in_.remaining())
                corrupt(basket_what, "buffer of " + std::to_string(basket.last) + " bytes (key length " +
                                         std::to_string(basket.keylen) + ") does not fit the record");
            auto buffer = in_.bytes(static_cast<size_t>(stored));
            basket.data.assign(buffer.begin() + basket.keylen, buffer.begin() + basket.last);
        } else if (basket.entries > 0) {
            bufferless = true;
            corrupt(basket_what, "holds entries but no buffer");
        }
        if (in_.pos() > slot.end) corrupt(basket_what, "longer than its byte count");
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
    std::unordered_map<std::string, ClassLayout> stored_layouts_;  // "class;version"
    int branch_count_ = 0;
};

}  // namespace

bool is_tree_class(std::string_view class_name)
{
    return class_name == "TTree" || class_name == "TNtuple" || class_name == "TNtupleD";
}

TreeInfo read_tree(const RootFile& file, std::string_view tree_path)
{
    const std::optional<KeyHeader> key = file.find_path(tree_path);
    if (!key) fail(file.path(), "", "no object named '" + printable(tree_path) + "'");
    return read_tree(file, *key, tree_path);
}

TreeInfo read_tree(const RootFile& file, const KeyHeader& key, std::string_view tree_path)
{
    const std::string context = "tree " + printable(tree_path);
    if (!is_tree_class(key.class_name))
        fail(file.path(), context, "is a " + printable(key.class_name) + ", not a TTree");
    const std::vector<uint8_t> record = file.read_object(key);
    const std::string reader_context = file.path() + ": " + context;
    ByteReader in(record, reader_context, static_cast<size_t>(key.keylen));
    TreeRecordParser parser(file, in, context);
    TreeInfo tree = parser.parse(key.class_name);
    file.drop_opening_bytes();
    return tree;
}

}  // namespace rootio
