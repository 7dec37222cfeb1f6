// Writes the trees the interop test has jsroot read back: every leaf type as scalar, fixed
// array and count-indexed array (signed and unsigned counts, with an inner dimension), with
// extreme values, NaN, infinities and -0; a branch over many baskets; one file per codec;
// a sparse file past 2^31 bytes;
// and a tree without entries.
//
//   write-samples OUTDIR      prints the files written, one per line
#include <bit>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"
#include "stress_values.h"

namespace {

using rootio::LeafType;

constexpr int kEntries = 500;

struct TypeColumns {
    int scalar, fixed, counted, counted2d;
};

TypeColumns add_type(rootio::TreeWriter& tree, const std::string& suffix, LeafType type)
{
    return {tree.add_branch("s_" + suffix, type), tree.add_branch("a_" + suffix, type, {}, 3),
            tree.add_branch("v_" + suffix, type, "n"), tree.add_branch("w_" + suffix, type, "nu", 2)};
}

template <class T>
void fill_type(rootio::TreeWriter& tree, const TypeColumns& c, int entry, int32_t n, uint32_t nu)
{
    std::vector<uint8_t> bytes;
    uint64_t next = static_cast<uint64_t>(entry) * 17;
    auto put = [&](int branch, size_t count) {
        bytes.resize(count * sizeof(T));
        for (size_t i = 0; i < count; ++i) rootio::store_be<T>(bytes.data() + i * sizeof(T), stress_value<T>(next++ % 97));
        tree.set_entry_bytes(branch, bytes);
    };
    put(c.scalar, 1);
    put(c.fixed, 3);
    put(c.counted, static_cast<size_t>(n));
    put(c.counted2d, size_t{nu} * 2);
}

void write_shapes(const std::string& path, int setting, bool clustered)
{
    rootio::FileWriter file(path, setting);
    rootio::TreeWriter tree(file, "Events", "every leaf type and shape");
    if (clustered) tree.set_auto_flush(120);
    const int n = tree.add_branch("n", LeafType::Int32);
    const int nu = tree.add_branch("nu", LeafType::UInt32);
    const TypeColumns o = add_type(tree, "O", LeafType::Bool);
    const TypeColumns b = add_type(tree, "B", LeafType::Int8);
    const TypeColumns ub = add_type(tree, "b", LeafType::UInt8);
    const TypeColumns s = add_type(tree, "S", LeafType::Int16);
    const TypeColumns us = add_type(tree, "s", LeafType::UInt16);
    const TypeColumns i = add_type(tree, "I", LeafType::Int32);
    const TypeColumns ui = add_type(tree, "i", LeafType::UInt32);
    const TypeColumns l = add_type(tree, "L", LeafType::Int64);
    const TypeColumns ul = add_type(tree, "l", LeafType::UInt64);
    const TypeColumns f = add_type(tree, "F", LeafType::Float);
    const TypeColumns d = add_type(tree, "D", LeafType::Double);
    rootio::BranchInfo many;
    many.name = many.leaf.name = many.leaf.title = "many";
    many.title = "many/D";
    many.leaf.type = LeafType::Double;
    many.basket_size = 256;  // a basket every few entries
    const int m = tree.add_branch(many);

    for (int e = 0; e < kEntries; ++e) {
        const int32_t count = e % 5;
        const uint32_t count2 = static_cast<uint32_t>(e * 3 % 4);
        tree.set_value<int32_t>(n, count);
        tree.set_value<uint32_t>(nu, count2);
        fill_type<bool>(tree, o, e, count, count2);
        fill_type<int8_t>(tree, b, e, count, count2);
        fill_type<uint8_t>(tree, ub, e, count, count2);
        fill_type<int16_t>(tree, s, e, count, count2);
        fill_type<uint16_t>(tree, us, e, count, count2);
        fill_type<int32_t>(tree, i, e, count, count2);
        fill_type<uint32_t>(tree, ui, e, count, count2);
        fill_type<int64_t>(tree, l, e, count, count2);
        fill_type<uint64_t>(tree, ul, e, count, count2);
        fill_type<float>(tree, f, e, count, count2);
        fill_type<double>(tree, d, e, count, count2);
        tree.set_value<double>(m, e * 0.001 - 0.25);
        tree.fill();
    }
    tree.write();
    file.close();
}

// Sparse holes push the last cluster and the closing records past 2^31 bytes: the large
// layout (64-bit keys, directory, free list and header) without writing gigabytes.
void write_large(const std::string& path)
{
    rootio::FileWriter file(path, 505);
    rootio::TreeWriter tree(file, "Events", "past 2^31 bytes");
    tree.set_auto_flush(100);
    const int n = tree.add_branch("n", LeafType::UInt16);
    const int x = tree.add_branch("x", LeafType::Double, "n");
    const int id = tree.add_branch("id", LeafType::Int64);
    std::vector<double> xs;
    for (int e = 0; e < 300; ++e) {
        if (e == 100 || e == 200) file.leave_hole_for_testing(1100000000);
        xs.assign(static_cast<size_t>(e % 4), e * 0.125);
        tree.set_value<uint16_t>(n, static_cast<uint16_t>(e % 4));
        tree.set_values<double>(x, xs);
        tree.set_value<int64_t>(id, int64_t{e} << 40);
        tree.fill();
    }
    tree.write();
    file.close();
}

void write_empty(const std::string& path)
{
    rootio::FileWriter file(path, 101);
    rootio::TreeWriter tree(file, "Events", "no entries");
    tree.add_branch("n", LeafType::UInt8);
    tree.add_branch("x", LeafType::Float, "n");
    tree.add_branch("flag", LeafType::Bool);
    tree.write();
    file.close();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write-samples OUTDIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    try {
        for (int setting : {0, 101, 208, 404, 505}) {
            const std::string path = (dir / ("shapes-" + std::to_string(setting) + ".root")).string();
            write_shapes(path, setting, setting == 505);
            std::printf("%s\n", path.c_str());
        }
        const std::string large = (dir / "large.root").string();
        write_large(large);
        std::printf("%s\n", large.c_str());
        const std::string empty = (dir / "empty.root").string();
        write_empty(empty);
        std::printf("%s\n", empty.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "write-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
