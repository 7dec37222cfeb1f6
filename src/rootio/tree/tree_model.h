#pragma once
// What the engine knows of a flat TTree: its branches, their single leaf, and where each
// branch's baskets are. Filled by the reader from a file, or built by hand / cloned for
// the writer. Plain data: no file handles, no decoding.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rootio/format/leaf_type.h"

namespace rootio {

struct LeafInfo {
    std::string name;          // without dimensions: "Electron_pt"
    std::string title;         // with dimensions: "Electron_pt[nElectron]", "arr[3]", "x"
    LeafType type = LeafType::Int32;
    int32_t len = 1;           // product of the fixed dimensions (3 for arr[3])
    bool is_range = false;     // this leaf is the count of other leaves
    std::string count_leaf;    // name of the count leaf for x[n], empty otherwise
    int64_t count_maximum = 0; // for a count leaf: the largest count stored (fMaximum)
};

// A basket stored inside the tree record instead of in a key of its own. As in ROOT, it
// stands in for the basket of the same number on disk (whose seek is then 0).
struct EmbeddedBasket {
    int32_t slot = -1;              // basket number; -1: after the baskets on disk
    int64_t first_entry = 0;
    int32_t entries = 0;
    int32_t keylen = 0;             // entry offsets are relative to the key header start
    int32_t last = 0;               // key-relative end of the entry data
    std::vector<int32_t> offsets;   // key-relative entry starts (empty for fixed-size entries)
    std::vector<uint8_t> data;      // entry data, i.e. buffer bytes [keylen, last)
    std::string damage;             // why the stored basket is unusable; empty when it is fine
};

// The entry after an embedded basket's last one; INT64_MAX when a corrupt first entry
// leaves no room for its entries (the branch's reader refuses such a basket).
inline int64_t embedded_end(const EmbeddedBasket& basket)
{
    return basket.first_entry > INT64_MAX - basket.entries ? INT64_MAX : basket.first_entry + basket.entries;
}

struct BranchInfo {
    std::string name;
    std::string title;                 // leaf list, e.g. "Electron_pt[nElectron]/F"
    std::string class_name = "TBranch";
    // Empty when the branch is a plain TBranch with one basic-type leaf; otherwise why the
    // engine cannot read it (object, string, nested branches ...). Such branches are listed
    // but never read.
    std::string unsupported;
    LeafInfo leaf;
    int count_branch = -1;             // index in TreeInfo::branches of the count branch, or -1

    int32_t compress = 101;
    int32_t basket_size = 32000;
    int32_t entry_offset_len = 0;      // > 0 when entries vary in size
    int64_t entries = 0;
    int64_t tot_bytes = 0;
    int64_t zip_bytes = 0;

    // Baskets on disk: basket i holds entries [basket_entry[i], basket_entry[i+1]) and sits
    // at basket_seek[i] with basket_bytes[i] bytes. basket_entry has write_basket()+1 slots.
    std::vector<int32_t> basket_bytes;
    std::vector<int64_t> basket_entry;
    std::vector<int64_t> basket_seek;
    std::vector<EmbeddedBasket> embedded;

    int32_t write_basket() const { return static_cast<int32_t>(basket_seek.size()); }
    bool is_supported() const { return unsupported.empty(); }
    int element_size() const { return leaf_type_size(leaf.type); }
};

struct TreeInfo {
    std::string name;
    std::string title;
    int64_t entries = 0;
    int64_t tot_bytes = 0;
    int64_t zip_bytes = 0;
    int64_t auto_flush = 0;
    std::vector<BranchInfo> branches;

    // Index of the branch with this name, or -1.
    int find_branch(std::string_view branch_name) const
    {
        for (size_t i = 0; i < branches.size(); ++i)
            if (branches[i].name == branch_name) return static_cast<int>(i);
        return -1;
    }
};

}  // namespace rootio
