#include "rootio/tree/branch_reader.h"

#include <algorithm>

namespace rootio {

namespace {
constexpr uint8_t kGenerateOffsetMap = 1;  // fIOBits: offsets rebuilt from the count branch
constexpr int kGeneratedOffsetsFlag = 80;

// A key-relative entry offset as an index into the entry data; a corrupt offset far below the
// key length becomes -1 (rejected by check_offsets) instead of overflowing.
int32_t data_relative(int32_t key_relative, int32_t keylen)
{
    return static_cast<int32_t>(std::max<int64_t>(int64_t{key_relative} - keylen, -1));
}
}  // namespace

BranchReader::BranchReader(const RootFile& file, const TreeInfo& tree, int branch_index)
    : file_(&file), tree_(&tree), index_(branch_index)
{
    if (branch_index < 0 || static_cast<size_t>(branch_index) >= tree.branches.size())
        fail(file.path(), "tree " + printable(tree.name), "no branch number " + std::to_string(branch_index));
    branch_ = &tree.branches[static_cast<size_t>(branch_index)];
    context_ = "branch " + printable(branch_->name) + " of tree " + printable(tree.name);
    reader_context_ = basket_context(file, tree, *branch_);
    if (!branch_->is_supported())
        fail(file.path(), context_, "cannot be read: " + printable(branch_->unsupported, kErrorMessageLimit));

    const BranchInfo& b = *branch_;
    const size_t on_disk = static_cast<size_t>(b.write_basket());
    if (b.basket_bytes.size() != on_disk || b.basket_entry.size() != on_disk + 1)
        fail(file.path(), context_, "basket tables disagree in length");
    seg_first_.reserve(on_disk + b.embedded.size());
    seg_end_.reserve(on_disk + b.embedded.size());
    seg_basket_.reserve(on_disk + b.embedded.size());
    // Baskets in number order; one kept in the tree record replaces the disk basket of its number.
    size_t next_embedded = 0;
    auto add_embedded_up_to = [&](int64_t slot) {
        for (; next_embedded < b.embedded.size(); ++next_embedded) {
            const EmbeddedBasket& e = b.embedded[next_embedded];
            if (e.slot < 0 ? slot != INT64_MAX : e.slot > slot) break;
            if (embedded_end(e) == INT64_MAX)
                fail(file.path(), context_, "embedded basket " + std::to_string(next_embedded) + " starts at entry " +
                                                std::to_string(e.first_entry) + ", leaving no room for its " +
                                                std::to_string(e.entries) + " entries");
            seg_first_.push_back(e.first_entry);
            seg_end_.push_back(embedded_end(e));
            seg_basket_.push_back(-1 - static_cast<int>(next_embedded));
        }
    };
    for (size_t i = 0; i < on_disk; ++i) {
        const size_t before = seg_basket_.size();
        add_embedded_up_to(static_cast<int64_t>(i));
        const bool replaced = seg_basket_.size() > before && b.embedded[next_embedded - 1].slot == static_cast<int32_t>(i);
        if (replaced) continue;
        seg_first_.push_back(b.basket_entry[i]);
        seg_end_.push_back(b.basket_entry[i + 1]);
        seg_basket_.push_back(static_cast<int>(i));
    }
    add_embedded_up_to(INT64_MAX);
    for (size_t i = 0; i < seg_first_.size(); ++i) {
        const bool ordered = seg_first_[i] >= 0 && seg_end_[i] >= seg_first_[i] &&
                             (i == 0 || seg_first_[i] >= seg_end_[i - 1]);
        if (!ordered)
            fail(file.path(), context_, "basket " + std::to_string(i) + " holds entries [" +
                                            std::to_string(seg_first_[i]) + ", " + std::to_string(seg_end_[i]) +
                                            "), out of order");
    }
}

int BranchReader::segment_for(int64_t entry) const
{
    const auto it = std::upper_bound(seg_first_.begin(), seg_first_.end(), entry);
    const auto index = static_cast<int>(it - seg_first_.begin()) - 1;
    if (index < 0 || entry >= seg_end_[static_cast<size_t>(index)]) return -1;
    return index;
}

int BranchReader::disk_basket_for(int64_t entry) const
{
    const int index = segment_for(entry);
    return index < 0 ? -1 : std::max(-1, seg_basket_[static_cast<size_t>(index)]);
}

std::span<const uint8_t> BranchReader::entry_bytes(int64_t entry)
{
    if (entry < first_ || entry >= end_) load_basket_for(entry);
    const size_t k = static_cast<size_t>(entry - first_);
    if (variable_) return data_.subspan(static_cast<size_t>(offsets_[k]), static_cast<size_t>(offsets_[k + 1] - offsets_[k]));
    return data_.subspan(k * static_cast<size_t>(fixed_size_), static_cast<size_t>(fixed_size_));
}

void BranchReader::load_basket_for(int64_t entry)
{
    if (entry < 0 || entry >= branch_->entries)
        fail(file_->path(), context_, "entry " + std::to_string(entry) + " is out of range (" +
                                          std::to_string(branch_->entries) + " entries)");
    const int count = static_cast<int>(seg_first_.size());
    int index = basket_ + 1;
    if (index >= count || entry < seg_first_[static_cast<size_t>(index)] || entry >= seg_end_[static_cast<size_t>(index)]) {
        index = segment_for(entry);
        if (index < 0) fail(file_->path(), context_, "no basket holds entry " + std::to_string(entry));
    }
    // Forget the old basket first: a failed load must not leave stale data reachable.
    first_ = end_ = 0;
    basket_ = -1;
    const int number = seg_basket_[static_cast<size_t>(index)];
    try {
        if (number >= 0) {
            if (cache_) cache_->advance(entry);
            if (!cache_ || !cache_->take(index_, number, record_)) read_disk_basket(number, index);
            use_disk_basket(index);
        } else {
            load_embedded_basket(branch_->embedded[static_cast<size_t>(-1 - number)]);
        }
    } catch (const RootError& e) {
        throw RootError(std::string(e.what()) + " (basket " + std::to_string(index) + ", entry " +
                        std::to_string(entry) + ")");
    }
    basket_ = index;
    if (cache_) cache_->loaded(index_, number);
    first_ = seg_first_[static_cast<size_t>(index)];
    end_ = seg_end_[static_cast<size_t>(index)];
}

void BranchReader::fail_basket(const std::string& what) const { throw RootError(reader_context_ + ": " + what); }

void BranchReader::read_disk_basket(int number, int index)
{
    const BranchInfo& b = *branch_;
    const int32_t nbytes = b.basket_bytes[static_cast<size_t>(number)];
    const int64_t seek = b.basket_seek[static_cast<size_t>(number)];
    if (!record_in_file(*file_, seek, nbytes))
        fail_basket("basket record at " + std::to_string(seek) + " of " + std::to_string(nbytes) +
                    " bytes lies outside the file");
    record_.raw.resize(static_cast<size_t>(nbytes));
    file_->read_at(seek, record_.raw, context_);
    decode_basket_record(record_, seg_end_[static_cast<size_t>(index)] - seg_first_[static_cast<size_t>(index)],
                         file_->decompressor(), reader_context_);
}

// The decoded record -> entry data and where each entry starts.
void BranchReader::use_disk_basket(int index)
{
    const BranchInfo& b = *branch_;
    const KeyHeader& key = record_.key;
    const int32_t entries = record_.entries;
    const int32_t last = record_.last;
    const std::span<const uint8_t> payload = record_.object;
    // A basket's key names the branch it was written for: a table pointing at another
    // branch's basket is damage even when that basket has the entry count asked for. (The
    // key's tree name is not compared: baskets keep the name their tree had when they were
    // made, so a tree renamed after filling, or cloned under a new name, keeps the old one.)
    if (key.name != b.name)
        fail_basket("basket record belongs to branch " + printable(key.name, kErrorMessageLimit));
    if (last < key.keylen || last - key.keylen > key.objlen)
        fail_basket("end of entry data " + std::to_string(last) + " lies outside the basket (key length " +
                    std::to_string(key.keylen) + ", object length " + std::to_string(key.objlen) + ")");
    const size_t data_size = static_cast<size_t>(last - key.keylen);
    data_ = payload.first(data_size);

    if (b.entry_offset_len <= 0) {
        variable_ = false;
        fixed_size_ = record_.entry_size;
        const int64_t want = static_cast<int64_t>(b.leaf.len) * b.element_size();
        if (fixed_size_ != want)
            fail_basket("entries of " + std::to_string(fixed_size_) + " bytes, the leaf needs " + std::to_string(want));
        if (static_cast<int64_t>(entries) * fixed_size_ > static_cast<int64_t>(data_size))
            fail_basket(std::to_string(entries) + " entries of " + std::to_string(fixed_size_) +
                        " bytes do not fit in " + std::to_string(data_size) + " bytes of data");
        // Only baskets of entries that vary in size carry an entry-offset array after the data.
        if (data_size != payload.size())
            fail_basket("basket of fixed-size entries carries " + std::to_string(payload.size() - data_size) +
                        " bytes after its data, as a basket of entries that vary in size does");
        return;
    }

    variable_ = true;
    if (record_.flag >= kGeneratedOffsetsFlag) {
        generate_offsets(seg_first_[static_cast<size_t>(index)], entries);
    } else {
        if (data_size == payload.size() && entries > 0)
            fail_basket("basket holds no entry-offset array, but the branch's entries vary in size");
        ByteReader table(payload.subspan(data_size), reader_context_, static_cast<size_t>(last));
        const int32_t n = table.i32();
        if (n < entries || static_cast<size_t>(n) > table.remaining() / 4)
            fail_basket("entry-offset array of " + std::to_string(n) + " slots for " + std::to_string(entries) +
                        " entries does not fit the basket");
        offsets_.resize(static_cast<size_t>(entries) + 1);
        for (int32_t k = 0; k < entries; ++k) offsets_[static_cast<size_t>(k)] = table.i32();
        if (record_.io_bits & kGenerateOffsetMap) {
            // Stored as entry sizes (slot k holds the size of entry k-1; they compress
            // better); rebuild the starts.
            int64_t start = key.keylen;
            for (int32_t k = 0; k < entries; ++k) {
                if (k > 0) start += offsets_[static_cast<size_t>(k)];
                offsets_[static_cast<size_t>(k)] = static_cast<int32_t>(std::clamp<int64_t>(start, INT32_MIN, INT32_MAX));
            }
        }
        for (int32_t k = 0; k < entries; ++k) {
            int32_t& off = offsets_[static_cast<size_t>(k)];
            off = data_relative(off, key.keylen);
        }
        offsets_[static_cast<size_t>(entries)] = static_cast<int32_t>(data_size);
    }
    check_offsets(entries, data_size);
}

void BranchReader::load_embedded_basket(const EmbeddedBasket& e)
{
    if (!e.damage.empty()) throw RootError(e.damage);
    const BranchInfo& b = *branch_;
    data_ = e.data;
    const int32_t entries = e.entries;
    if (e.offsets.empty()) {
        if (b.entry_offset_len > 0 && entries > 0) fail_basket("embedded basket has no entry offsets");
        variable_ = false;
        const int64_t entry_size = int64_t{b.leaf.len} * b.element_size();
        if (entry_size > INT32_MAX || entries * entry_size > static_cast<int64_t>(data_.size()))
            fail_basket("embedded basket is shorter than its entries");
        fixed_size_ = static_cast<int32_t>(entry_size);
        return;
    }
    if (e.offsets.size() < static_cast<size_t>(entries)) fail_basket("embedded basket lacks entry offsets");
    variable_ = true;
    offsets_.resize(static_cast<size_t>(entries) + 1);
    for (int32_t k = 0; k < entries; ++k)
        offsets_[static_cast<size_t>(k)] = data_relative(e.offsets[static_cast<size_t>(k)], e.keylen);
    offsets_[static_cast<size_t>(entries)] = static_cast<int32_t>(data_.size());
    check_offsets(entries, data_.size());
}

void BranchReader::check_offsets(int32_t entries, size_t data_size)
{
    // An entry of a count-indexed leaf holds whole elements of `len` values each; any other
    // leaf has exactly one element, however its basket locates the entries.
    const BranchInfo& b = *branch_;
    const int64_t element = int64_t{b.leaf.len} * b.element_size();
    const bool counted = b.count_branch >= 0;
    for (int32_t k = 0; k < entries; ++k) {
        const int32_t start = offsets_[static_cast<size_t>(k)];
        const int32_t stop = offsets_[static_cast<size_t>(k) + 1];
        if (start < 0 || stop < start || static_cast<size_t>(stop) > data_size)
            fail_basket("entry offset " + std::to_string(start) + ".." + std::to_string(stop) + " of entry " +
                        std::to_string(k) + " lies outside " + std::to_string(data_size) + " bytes of data");
        const std::string size = std::to_string(element) + "-byte element";
        if (counted && (stop - start) % element != 0)
            fail_basket("entry " + std::to_string(k) + " has " + std::to_string(stop - start) +
                        " bytes, not a whole number of " + size + "s");
        if (!counted && stop - start != element)
            fail_basket("entry " + std::to_string(k) + " has " + std::to_string(stop - start) + " bytes, not the one " +
                        size + " of a leaf without a count");
    }
}

void BranchReader::generate_offsets(int64_t first, int32_t entries)
{
    const BranchInfo& b = *branch_;
    if (b.count_branch < 0) fail_basket("basket without entry offsets on a branch without a count");
    if (!count_reader_) count_reader_ = std::make_unique<BranchReader>(*file_, *tree_, b.count_branch);
    // Grown entry by entry: the entry count is only as good as the counts behind it.
    offsets_.clear();
    int64_t at = 0;
    const int64_t per_count = static_cast<int64_t>(b.leaf.len) * b.element_size();
    for (int32_t k = 0; k < entries; ++k) {
        offsets_.push_back(static_cast<int32_t>(at));
        const auto c = count_reader_->entry_bytes(first + k);
        int64_t n = 0;
        switch (c.size()) {
        case 1: n = c[0]; break;
        case 2: n = load_be<uint16_t>(c.data()); break;
        case 4: n = load_be<uint32_t>(c.data()); break;
        case 8: n = static_cast<int64_t>(std::min<uint64_t>(load_be<uint64_t>(c.data()), INT32_MAX)); break;
        default: fail_basket("count entry of unexpected size");
        }
        if (n > 0 && per_count > (INT32_MAX - at) / n) fail_basket("counts exceed the basket");
        at += n * per_count;
    }
    offsets_.push_back(static_cast<int32_t>(at));
}

}  // namespace rootio
