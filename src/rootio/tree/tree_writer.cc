#include "rootio/tree/tree_writer.h"

#include <algorithm>

#include "rootio/format/error.h"
#include "rootio/tree/tree_record_writer.h"

namespace rootio {

namespace {

constexpr int16_t kBasketVersion = 3;
constexpr int32_t kDefaultEntryOffsetLen = 1000;
constexpr size_t kInitialBaskets = 10;  // ROOT's initial fMaxBaskets
// Basket keys carry the branch and tree names in a header of at most 32767 bytes.
constexpr size_t kMaxKeyNames = 32000;
// One entry of a fixed-size branch must fit a basket record (< 2 GiB) with room to spare.
constexpr int64_t kMaxFixedEntryBytes = int64_t{1} << 30;

// Reads a count value (a scalar of an integer type) from its big-endian bytes.
int64_t count_value(LeafType type, const uint8_t* p)
{
    switch (type) {
    case LeafType::Bool:
    case LeafType::UInt8: return load_be<uint8_t>(p);
    case LeafType::Int8: return load_be<int8_t>(p);
    case LeafType::Int16: return load_be<int16_t>(p);
    case LeafType::UInt16: return load_be<uint16_t>(p);
    case LeafType::Int32: return load_be<int32_t>(p);
    case LeafType::UInt32: return load_be<uint32_t>(p);
    case LeafType::Int64: return load_be<int64_t>(p);
    case LeafType::UInt64: {
        const uint64_t v = load_be<uint64_t>(p);
        return v > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(v);
    }
    default: return -1;
    }
}

}  // namespace

// One branch's basket being filled: entry bytes back to back, and for entries of varying
// size their key-relative starts.
struct BranchBuffer {
    std::vector<uint8_t> data;
    std::vector<int32_t> offsets;
    int32_t entries = 0;          // in the current basket
    int64_t first_entry = 0;      // of the current basket
    size_t entry_start = 0;       // where this entry's bytes begin in data
    bool given = false;           // this entry's bytes were set
    bool variable = false;        // entries vary in size (count-indexed)
    int16_t keylen = 0;
    int32_t fixed_bytes = 0;      // bytes per entry when not variable
};

struct TreeWriter::State final : FileWriter::BasketOwner {
    FileWriter* file;
    TreeInfo info;
    int compression;
    std::vector<BranchBuffer> buffers;
    std::vector<uint8_t> header;  // 19 basket bytes, reused
    int64_t baskets_queued = 0;   // handed to the file and not yet written

    State(FileWriter& f, int setting) : file(&f), compression(setting) { Compressor::check_setting(setting); }

    [[noreturn]] void fail_branch(const BranchInfo& b, std::string_view what) const
    {
        fail(file->path(), "tree " + printable(info.name) + ": branch " + printable(b.name), what);
    }

    // The basket goes to the file, which compresses it (maybe on another thread) and
    // reports where it went through basket_written(); the entry ranges are known now.
    void flush(size_t i)
    {
        BranchBuffer& buf = buffers[i];
        BranchInfo& b = info.branches[i];
        if (buf.entries == 0) return;
        const size_t data_len = buf.data.size();
        const int32_t last = static_cast<int32_t>(buf.keylen + data_len);
        // The entry-offset array follows the data: n = entries + 1, the last slot 0.
        if (buf.variable) {
            ByteWriter w(buf.data);
            w.i32(buf.entries + 1);
            for (int32_t off : buf.offsets) w.i32(off);
            w.i32(0);
        }
        header.clear();
        ByteWriter h(header);
        h.i16(kBasketVersion);
        h.i32(std::max(b.basket_size, last));                          // fBufferSize
        h.i32(buf.variable ? b.entry_offset_len : buf.fixed_bytes);    // fNevBufSize
        h.i32(buf.entries);
        h.i32(last);
        h.u8(0);
        // The basket's number is its cycle; earlier baskets may still be on their way.
        const auto cycle = static_cast<int16_t>(b.basket_entry.size() - 1);
        b.basket_entry.back() = buf.first_entry;
        b.basket_entry.push_back(buf.first_entry + buf.entries);
        ++baskets_queued;
        file->queue_basket(*this, static_cast<int>(i), b.name, info.name, cycle, header, buf.data, compression);

        buf.first_entry += buf.entries;
        buf.entries = 0;
        buf.data.clear();
        buf.offsets.clear();
        buf.entry_start = 0;
    }

    void basket_written(int tag, const FileWriter::BasketWritten& written) override
    {
        BranchInfo& b = info.branches[static_cast<size_t>(tag)];
        b.basket_bytes.push_back(written.nbytes);
        b.basket_seek.push_back(written.seek);
        const int64_t tot = int64_t{written.objlen} + written.keylen;
        b.tot_bytes += tot;
        b.zip_bytes += written.nbytes;
        info.tot_bytes += tot;
        info.zip_bytes += written.nbytes;
        --baskets_queued;
    }
};

TreeWriter::TreeWriter(FileWriter& file, std::string name, std::string title, int compression)
    : state_(std::make_unique<State>(file, compression < 0 ? file.compression() : compression))
{
    state_->info.name = std::move(name);
    state_->info.title = std::move(title);
}

TreeWriter::~TreeWriter()
{
    // The file would otherwise report baskets to a tree that is gone; written now, they sit
    // where the sequential path put them.
    if (state_->baskets_queued == 0) return;
    try {
        state_->file->flush_baskets();
    } catch (const std::exception&) {  // the file is discarded; its owner reports that
    }
}

const TreeInfo& TreeWriter::info() const { return state_->info; }
size_t TreeWriter::branch_count() const { return state_->info.branches.size(); }
int64_t TreeWriter::entries() const { return state_->info.entries; }

void TreeWriter::set_auto_flush(int64_t entries) { state_->info.auto_flush = std::max<int64_t>(entries, 0); }

int TreeWriter::add_branch(const BranchInfo& source)
{
    State& st = *state_;
    if (!source.is_supported()) st.fail_branch(source, "cannot be written: " + source.unsupported);
    if (st.info.entries > 0) st.fail_branch(source, "added after entries were filled");
    if (st.info.find_branch(source.name) >= 0) st.fail_branch(source, "added twice");
    if (source.leaf.len < 1) st.fail_branch(source, "fixed length must be at least 1");
    if (int64_t{source.leaf.len} * leaf_type_size(source.leaf.type) > kMaxFixedEntryBytes)
        st.fail_branch(source, "fixed length " + std::to_string(source.leaf.len) + " is too large");
    if (source.name.size() + st.info.name.size() > kMaxKeyNames) st.fail_branch(source, "name too long for a basket key");

    BranchInfo b;
    b.name = source.name;
    b.title = source.title;
    b.leaf = source.leaf;
    b.leaf.count_maximum = 0;
    b.compress = st.compression;
    b.basket_size = source.basket_size > 0 ? source.basket_size : 32000;
    // Room for the first baskets up front: the tables then grow only in a long tree.
    b.basket_bytes.reserve(kInitialBaskets);
    b.basket_seek.reserve(kInitialBaskets);
    b.basket_entry.reserve(kInitialBaskets + 1);
    b.basket_entry.push_back(0);

    int counter = -1;
    if (!source.leaf.count_leaf.empty()) {
        for (size_t j = 0; j < st.info.branches.size(); ++j)
            if (st.info.branches[j].leaf.name == source.leaf.count_leaf) counter = static_cast<int>(j);
        if (counter < 0) st.fail_branch(source, "count leaf " + source.leaf.count_leaf + " must be added before it");
        BranchInfo& c = st.info.branches[counter];
        if (!leaf_type_is_integer(c.leaf.type) || c.leaf.type == LeafType::Bool || c.leaf.len != 1 ||
            !c.leaf.count_leaf.empty())
            st.fail_branch(source, "count leaf " + c.leaf.name + " is not an integer scalar");
        c.leaf.is_range = true;
    }
    b.count_branch = counter;
    b.entry_offset_len = counter >= 0 ? (source.entry_offset_len > 0 ? source.entry_offset_len : kDefaultEntryOffsetLen) : 0;

    BranchBuffer buf;
    buf.variable = counter >= 0;
    buf.keylen = FileWriter::basket_key_length(b.name, st.info.name);
    buf.fixed_bytes = b.leaf.len * leaf_type_size(b.leaf.type);
    buf.data.reserve(static_cast<size_t>(b.basket_size) + 64);
    if (buf.variable) buf.offsets.reserve(static_cast<size_t>(b.basket_size) / 4 + 1);

    st.info.branches.push_back(std::move(b));
    st.buffers.push_back(std::move(buf));
    return static_cast<int>(st.info.branches.size() - 1);
}

int TreeWriter::add_branch(const std::string& name, LeafType type, const std::string& count_branch, int32_t len)
{
    BranchInfo shape;
    shape.name = name;
    shape.leaf.name = name;
    shape.leaf.type = type;
    shape.leaf.len = len;
    std::string dims;
    if (!count_branch.empty()) {
        const int c = state_->info.find_branch(count_branch);
        if (c < 0) fail(state_->file->path(), "tree " + printable(state_->info.name) + ": branch " + printable(name),
                        "count branch " + printable(count_branch) + " must be added before it");
        shape.leaf.count_leaf = state_->info.branches[c].leaf.name;
        dims.append("[").append(shape.leaf.count_leaf).append("]");
    }
    if (len > 1) dims.append("[").append(std::to_string(len)).append("]");
    shape.leaf.title = name;
    shape.leaf.title.append(dims);
    shape.title = shape.leaf.title;
    shape.title += '/';
    shape.title += leaf_type_letter(type);
    return add_branch(shape);
}

void TreeWriter::set_entry_bytes(int branch, std::span<const uint8_t> be)
{
    State& st = *state_;
    if (branch < 0 || static_cast<size_t>(branch) >= st.buffers.size())
        fail(st.file->path(), "tree " + printable(st.info.name), "no branch number " + std::to_string(branch));
    BranchBuffer& buf = st.buffers[static_cast<size_t>(branch)];
    buf.data.resize(buf.entry_start);  // a second call for the same entry replaces the first
    buf.data.insert(buf.data.end(), be.begin(), be.end());
    buf.given = true;
}

void TreeWriter::fill()
{
    State& st = *state_;
    const int64_t entry = st.info.entries;
    auto reject = [&](size_t i, const std::string& what) {
        // Leave the writer as it was before this entry.
        for (auto& buf : st.buffers) {
            buf.data.resize(buf.entry_start);
            buf.given = false;
        }
        const BranchInfo& b = st.info.branches[i];
        throw EntryRejected(st.file->path() + ": tree " + printable(st.info.name) + ": branch " +
                                printable(b.name) + ": entry " + std::to_string(entry) + ": " + what,
                            static_cast<int>(i), what);
    };

    for (size_t i = 0; i < st.buffers.size(); ++i) {
        const BranchBuffer& buf = st.buffers[i];
        const BranchInfo& b = st.info.branches[i];
        if (!buf.given) reject(i, "no value given");
        const size_t bytes = buf.data.size() - buf.entry_start;
        if (b.count_branch < 0) {
            if (bytes != static_cast<size_t>(buf.fixed_bytes))
                reject(i, std::to_string(bytes) + " bytes given, " + std::to_string(buf.fixed_bytes) + " expected");
            continue;
        }
        const BranchBuffer& cbuf = st.buffers[static_cast<size_t>(b.count_branch)];
        const BranchInfo& cb = st.info.branches[static_cast<size_t>(b.count_branch)];
        const int64_t count = count_value(cb.leaf.type, cbuf.data.data() + cbuf.entry_start);
        if (count < 0) reject(i, "count " + cb.name + " is negative");
        const uint64_t expected = static_cast<uint64_t>(count) * static_cast<uint64_t>(buf.fixed_bytes);
        if (bytes != expected)
            reject(i, std::to_string(bytes / leaf_type_size(b.leaf.type)) + " elements given, but " + cb.name + " = " +
                          std::to_string(count) + (b.leaf.len > 1 ? " x " + std::to_string(b.leaf.len) : "") +
                          " elements expected");
    }

    for (size_t i = 0; i < st.buffers.size(); ++i) {
        BranchBuffer& buf = st.buffers[i];
        BranchInfo& b = st.info.branches[i];
        const int32_t nbytes = static_cast<int32_t>(buf.data.size() - buf.entry_start);
        if (b.leaf.is_range)
            b.leaf.count_maximum = std::max(b.leaf.count_maximum, count_value(b.leaf.type, buf.data.data() + buf.entry_start));
        if (buf.variable) buf.offsets.push_back(static_cast<int32_t>(buf.keylen + buf.entry_start));
        ++buf.entries;
        ++b.entries;
        buf.entry_start = buf.data.size();
        buf.given = false;
        // ROOT's rule (TBranch::Fill): flush when the buffer, twice the offset table and
        // one more entry like this one would not fit the basket size.
        const int64_t lnew = buf.keylen + static_cast<int64_t>(buf.data.size());
        const int64_t nsize = buf.variable ? int64_t{buf.entries} * 4 : 0;
        if (lnew + 2 * nsize + nbytes >= b.basket_size) st.flush(i);
    }
    ++st.info.entries;
    if (st.info.auto_flush > 0 && st.info.entries % st.info.auto_flush == 0)
        for (size_t i = 0; i < st.buffers.size(); ++i) st.flush(i);
}

void TreeWriter::write()
{
    State& st = *state_;
    for (size_t i = 0; i < st.buffers.size(); ++i) st.flush(i);
    st.file->flush_baskets();  // the tree record lists every basket's place
    for (const BranchInfo& b : st.info.branches) st.file->note_class(leaf_class_name(b.leaf.type));
    st.file->write_object("TTree", st.info.name, st.info.title,
                          [&st](ByteWriter& out, int keylen) { stream_tree(out, keylen, st.info); });
}

}  // namespace rootio
