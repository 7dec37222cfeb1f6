#include "rootio/tree/tree_merger.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "rootio/format/error.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/merge_inputs.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/basket_record.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_record_writer.h"
#include "rootio/tree/tree_structure.h"

namespace rootio {

namespace {

// Neighbouring baskets are read and written in runs of up to this size: small enough that a
// run is still in the processor's cache when it is written out (larger runs were slower).
constexpr int64_t kReadRun = int64_t{128} << 10;
constexpr int64_t kMaxGap = int64_t{64} << 10;  // a gap this small is read over rather than skipped
constexpr int64_t kTopDirectory = 100;          // fSeekPdir of every basket key
constexpr size_t kSeekKeyAt = 18;               // fSeekKey in a key header, then fSeekPdir
constexpr int16_t kBasketVersion = 3;

struct BasketRef {
    int64_t seek;
    int32_t bytes;
    int branch;
    int index;
};

// The output tree as inputs are appended to it: the first input's structure with basket
// tables that grow input by input.
class MergedTree {
public:
    MergedTree(FileWriter& out, const TreeInfo& first) : out_(out), tree_(first)
    {
        tree_.entries = tree_.tot_bytes = tree_.zip_bytes = 0;
        for (BranchInfo& b : tree_.branches) {
            b.entries = b.tot_bytes = b.zip_bytes = 0;
            b.leaf.count_maximum = 0;
            b.basket_bytes.clear();
            b.basket_seek.clear();
            b.basket_entry.assign(1, 0);
            b.embedded.clear();
        }
    }

    void append(const RootFile& file, const TreeInfo& in)
    {
        const int64_t base = tree_.entries;
        contexts_.clear();
        for (const BranchInfo& b : in.branches)
            contexts_.push_back(file.path() + ": tree " + printable(in.name) + ": branch " +
                                printable(b.name));
        copy_disk_baskets(file, in, base);
        for (size_t i = 0; i < in.branches.size(); ++i) {
            const BranchInfo& from = in.branches[i];
            BranchInfo& to = tree_.branches[i];
            for (const EmbeddedBasket& e : from.embedded) write_embedded(to, from, e, base, i);
            if (to.basket_entry.back() != base + in.entries)
                fail(contexts_[i], "",
                     "baskets hold " + std::to_string(to.basket_entry.back() - base) +
                         " entries, the tree has " + std::to_string(in.entries));
            to.entries += in.entries;
            to.leaf.count_maximum = std::max(to.leaf.count_maximum, from.leaf.count_maximum);
        }
        // A cluster size carries over only while every input's clusters line up with it.
        if (base == 0)
            tree_.auto_flush = in.auto_flush;
        else if (in.auto_flush != tree_.auto_flush || tree_.auto_flush <= 0 || base % tree_.auto_flush != 0)
            tree_.auto_flush = 0;
        tree_.entries += in.entries;
    }

    void write()
    {
        for (const BranchInfo& b : tree_.branches) out_.note_class(leaf_class_name(b.leaf.type));
        out_.write_object("TTree", tree_.name, tree_.title,
                          [this](ByteWriter& w, int keylen) { stream_tree(w, keylen, tree_); });
    }

    const MergeCounts& counts() const { return counts_; }
    int64_t entries() const { return tree_.entries; }

private:
    void copy_disk_baskets(const RootFile& file, const TreeInfo& in, int64_t base)
    {
        refs_.clear();
        first_slot_.assign(in.branches.size(), 0);
        for (size_t i = 0; i < in.branches.size(); ++i) {
            const BranchInfo& from = in.branches[i];
            BranchInfo& to = tree_.branches[i];
            first_slot_[i] = to.basket_seek.size();
            if (from.basket_entry.empty() || from.basket_entry.front() != 0)
                fail(contexts_[i], "", "basket table does not start at entry 0");
            for (int32_t k = 0; k < from.write_basket(); ++k) {
                const int64_t first = from.basket_entry[static_cast<size_t>(k)];
                const int64_t next = from.basket_entry[static_cast<size_t>(k) + 1];
                if (next < first)
                    fail(contexts_[i], "", "basket table goes backwards at basket " + std::to_string(k));
                // Read in runs sized by the table: a record it places outside the file
                // would size a run of any length.
                const int64_t seek = from.basket_seek[static_cast<size_t>(k)];
                const int32_t bytes = from.basket_bytes[static_cast<size_t>(k)];
                if (!record_in_file(file, seek, bytes))
                    fail(contexts_[i], "", "basket " + std::to_string(k) + " at byte " + std::to_string(seek) +
                                               " of " + std::to_string(bytes) + " bytes lies outside the file");
                refs_.push_back({from.basket_seek[static_cast<size_t>(k)],
                                 from.basket_bytes[static_cast<size_t>(k)], static_cast<int>(i), k});
                to.basket_bytes.push_back(from.basket_bytes[static_cast<size_t>(k)]);
                to.basket_seek.push_back(0);  // set once copied
                to.basket_entry.back() = base + first;
                to.basket_entry.push_back(base + next);
            }
        }
        // In file order, so that both files are read and written front to back.
        std::sort(refs_.begin(), refs_.end(),
                  [](const BasketRef& a, const BasketRef& b) { return a.seek < b.seek; });
        for (size_t i = 0; i < refs_.size();) {
            const int64_t start = refs_[i].seek;
            int64_t end = start + refs_[i].bytes;
            size_t j = i + 1;
            for (; j < refs_.size(); ++j) {
                const BasketRef& r = refs_[j];
                if (r.seek < end)
                    fail(contexts_[static_cast<size_t>(r.branch)], "",
                         "basket " + std::to_string(r.index) + " overlaps another basket");
                if (r.seek - end > kMaxGap || r.seek + r.bytes - start > kReadRun) break;
                end = r.seek + r.bytes;
            }
            run_.resize(static_cast<size_t>(end - start));
            file.read_at(start, run_, contexts_[static_cast<size_t>(refs_[i].branch)]);
            place_run(in, i, j, start);
            i = j;
        }
    }

    // Baskets refs_[first, last) read into run_ (which starts at input byte `start`): those
    // back to back in the input stay back to back in the output and go out in one write,
    // each key naming the seek it will have.
    void place_run(const TreeInfo& in, size_t first, size_t last, int64_t start)
    {
        int64_t from = start, to = start;  // input bytes not yet written
        auto write_pending = [&] {
            if (to > from)
                out_.append_record_copy(std::span<const uint8_t>(run_).subspan(
                    static_cast<size_t>(from - start), static_cast<size_t>(to - from)));
        };
        int64_t out_at = out_.end();
        for (size_t i = first; i < last; ++i) {
            const BasketRef& r = refs_[i];
            if (r.seek != to) {
                write_pending();
                from = r.seek;
                out_at = out_.end();
            }
            check_and_place(std::span<uint8_t>(run_).subspan(static_cast<size_t>(r.seek - start),
                                                             static_cast<size_t>(r.bytes)),
                            r, in, out_at);
            out_at += r.bytes;
            to = r.seek + r.bytes;
        }
        write_pending();
    }

    // Checks that the record is the basket the table points at, then sets its key's seeks
    // for its place `seek` in the output; nothing else changes.
    void check_and_place(std::span<uint8_t> record, const BasketRef& r, const TreeInfo& in, int64_t seek)
    {
        const std::string& context = contexts_[static_cast<size_t>(r.branch)];
        const BranchInfo& from = in.branches[static_cast<size_t>(r.branch)];
        auto bad = [&](const std::string& what) {
            fail(context, "",
                 "basket " + std::to_string(r.index) + " at byte " + std::to_string(r.seek) + ": " + what);
        };
        ByteReader reader(record, context);
        read_key_header(reader, key_, true);
        if (key_.class_name != "TBasket" || key_.name != from.name) bad("is not a basket of this branch");
        if (key_.nbytes != r.bytes)
            bad("key says " + std::to_string(key_.nbytes) + " bytes, the table " + std::to_string(r.bytes));
        reader.i16();                       // basket version
        reader.i32();                       // fBufferSize
        if (reader.i32() < 0) reader.u8();  // fNevBufSize, then fIOBits when negative
        const int32_t entries = reader.i32();
        const int64_t expected = from.basket_entry[static_cast<size_t>(r.index) + 1] -
                                 from.basket_entry[static_cast<size_t>(r.index)];
        if (entries != expected)
            bad("holds " + std::to_string(entries) + " entries, the table says " + std::to_string(expected));
        if (key_.is_compressed())
            check_compressed_layout(record.subspan(static_cast<size_t>(key_.keylen)), key_.objlen, context);

        if (key_.version > 1000) {
            store_be<int64_t>(record.data() + kSeekKeyAt, seek);
            store_be<int64_t>(record.data() + kSeekKeyAt + 8, kTopDirectory);
        } else {
            // The key's length is part of every entry offset in the basket: it cannot grow.
            if (seek + r.bytes > kStartBigFile)
                bad("its 32-bit key cannot be placed beyond 2 GB in the output");
            store_be<int32_t>(record.data() + kSeekKeyAt, static_cast<int32_t>(seek));
            store_be<int32_t>(record.data() + kSeekKeyAt + 4, static_cast<int32_t>(kTopDirectory));
        }
        BranchInfo& to = tree_.branches[static_cast<size_t>(r.branch)];
        to.basket_seek[first_slot_[static_cast<size_t>(r.branch)] + static_cast<size_t>(r.index)] = seek;
        account(to, int64_t{key_.objlen} + key_.keylen, key_.nbytes);
        counts_.baskets_copied++;
        counts_.bytes_copied += r.bytes;
    }

    // A basket kept in the input's tree record becomes a basket record of its own: its entry
    // offsets move with the new key length, and it is compressed with the branch's setting.
    void write_embedded(BranchInfo& to, const BranchInfo& from, const EmbeddedBasket& e, int64_t base,
                        size_t branch)
    {
        if (!e.damage.empty()) throw RootError(e.damage);
        if (e.entries == 0) return;
        if (e.first_entry != to.basket_entry.back() - base)
            fail(contexts_[branch], "",
                 "embedded basket starts at entry " + std::to_string(e.first_entry) +
                     ", the baskets before it end at " + std::to_string(to.basket_entry.back() - base));
        const bool variable = from.entry_offset_len > 0 || !e.offsets.empty();
        const int16_t keylen = FileWriter::basket_key_length(from.name, tree_.name);
        const int32_t last = checked_last(int64_t{keylen} + static_cast<int64_t>(e.data.size()), branch);
        payload_.assign(e.data.begin(), e.data.end());
        if (variable) {
            ByteWriter w(payload_);
            w.i32(e.entries + 1);
            for (int32_t k = 0; k < e.entries; ++k)
                w.i32(e.offsets[static_cast<size_t>(k)] - e.keylen + keylen);
            w.i32(0);
        }
        header_.clear();
        ByteWriter h(header_);
        h.i16(kBasketVersion);
        h.i32(std::max(from.basket_size, last));                                        // fBufferSize
        h.i32(variable ? from.entry_offset_len : from.leaf.len * from.element_size());  // fNevBufSize
        h.i32(e.entries);
        h.i32(last);
        h.u8(0);
        const auto written = out_.write_basket(from.name, tree_.name, static_cast<int16_t>(to.write_basket()),
                                               header_, payload_, compressors_.get(to.compress));
        to.basket_bytes.push_back(written.nbytes);
        to.basket_seek.push_back(written.seek);
        to.basket_entry.push_back(to.basket_entry.back() + e.entries);
        account(to, int64_t{written.objlen} + written.keylen, written.nbytes);
    }

    int32_t checked_last(int64_t last, size_t branch) const
    {
        if (last > INT32_MAX) fail(contexts_[branch], "", "embedded basket too large for a basket record");
        return static_cast<int32_t>(last);
    }

    void account(BranchInfo& b, int64_t tot, int64_t zip)
    {
        b.tot_bytes += tot;
        b.zip_bytes += zip;
        tree_.tot_bytes += tot;
        tree_.zip_bytes += zip;
    }

    FileWriter& out_;
    TreeInfo tree_;
    MergeCounts counts_;
    std::vector<std::string> contexts_;  // "FILE: tree T: branch B" of the input being copied
    std::vector<BasketRef> refs_;
    std::vector<size_t> first_slot_;
    ByteBuffer run_;
    KeyHeader key_;
    std::vector<uint8_t> payload_, header_;
    CompressorSet compressors_;
};

// Memory a tree's model takes, roughly: names, leaf and the basket tables.
int64_t approximate_size(const TreeInfo& tree)
{
    int64_t bytes = 0;
    for (const BranchInfo& b : tree.branches) {
        bytes += 512 + int64_t{b.write_basket()} * 24;
        for (const EmbeddedBasket& e : b.embedded)
            bytes += static_cast<int64_t>(e.data.size() + 4 * e.offsets.size());
    }
    return bytes;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

MergeCounts merge_trees(const std::string& output, std::span<const std::string> inputs,
                        std::string_view tree_name, int64_t kept_trees_bytes)
{
    MergeInputs opened(inputs);
    return merge_trees(output, opened, tree_name, kept_trees_bytes);
}

MergeCounts merge_trees(const std::string& output, MergeInputs& inputs, std::string_view tree_name,
                        int64_t kept_trees_bytes)
{
    if (inputs.size() == 0) fail(output, "", "no input files to merge");
    struct stat out_sb {};
    const bool output_exists = ::stat(output.c_str(), &out_sb) == 0;

    // First pass: every input readable and of the first one's structure. The trees read
    // are kept for the copy up to a memory budget; past it they are read again (and checked
    // again), so that thousands of inputs fit in memory.
    std::vector<TreeInfo> kept;
    int64_t kept_bytes = 0;
    int compression = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const RootFile& file = inputs.for_check(i);
        struct stat sb {};
        if (output_exists && ::stat(inputs.path(i).c_str(), &sb) == 0 && same_file(sb, out_sb))
            fail(inputs.path(i), "", "is also the output");
        TreeInfo tree = read_tree(file, tree_name);
        if (i == 0) compression = file.compression();
        check_same_structure(i == 0 ? tree : kept.front(), inputs.path(0), tree, inputs.path(i));
        kept_bytes += approximate_size(tree);
        if (i == 0 || kept_bytes <= kept_trees_bytes) kept.push_back(std::move(tree));
    }

    FileWriter out(output, compression);
    MergedTree merged(out, kept.front());
    for (size_t i = 0; i < inputs.size(); ++i) {
        // A file opened anew may have changed since the check: its tree is read again.
        const bool reopened = !inputs.kept(i);
        const std::unique_ptr<RootFile> file = inputs.for_copy(i);
        if (i < kept.size() && !reopened) {
            merged.append(*file, kept[i]);
            if (i > 0) kept[i] = TreeInfo{};
            continue;
        }
        const TreeInfo tree = read_tree(*file, tree_name);
        check_same_structure(kept.front(), inputs.path(0), tree, inputs.path(i));
        merged.append(*file, tree);
    }
    merged.write();
    out.close();
    MergeCounts counts = merged.counts();
    counts.entries = merged.entries();
    return counts;
}

}  // namespace rootio
