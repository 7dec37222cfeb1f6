// Writes small ROOT files into a folder as starting inputs for the fuzzers: every basic type
// as a scalar, a fixed array and a counted array, several baskets per branch, one file per
// codec. Small files let the fuzzer's mutations land on structure rather than on bulk data.
//   make_seeds FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"

namespace {

using rootio::LeafType;

template <class T>
void fill_typed(rootio::TreeWriter& tree, int branch, int64_t entry, size_t count)
{
    std::vector<T> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<T>(entry * 3 - static_cast<int64_t>(i) * 7);
    tree.set_values<T>(branch, values);
}

void write_tree(rootio::FileWriter& file, const std::string& name, int entries)
{
    rootio::TreeWriter tree(file, name, "fuzzing seed");
    tree.set_auto_flush(4);  // several baskets per branch
    const int n = tree.add_branch("n", LeafType::UInt32);
    struct Typed {
        LeafType type;
        int scalar, fixed, counted;
    };
    std::vector<Typed> typed;
    for (LeafType t : {LeafType::Bool, LeafType::Int8, LeafType::UInt8, LeafType::Int16, LeafType::UInt16,
                       LeafType::Int32, LeafType::UInt32, LeafType::Int64, LeafType::UInt64, LeafType::Float,
                       LeafType::Double}) {
        const std::string letter(1, rootio::leaf_type_letter(t));
        typed.push_back({t, tree.add_branch("s" + letter, t), tree.add_branch("a" + letter, t, {}, 3),
                         tree.add_branch("c" + letter, t, "n")});
    }
    for (int e = 0; e < entries; ++e) {
        const uint32_t count = static_cast<uint32_t>(e % 5);
        tree.set_value<uint32_t>(n, count);
        for (const Typed& t : typed) {
            const std::pair<int, size_t> shapes[] = {{t.scalar, 1}, {t.fixed, 3}, {t.counted, count}};
            for (auto [branch, size] : shapes) {
                switch (t.type) {
                case LeafType::Bool:
                case LeafType::UInt8: fill_typed<uint8_t>(tree, branch, e, size); break;
                case LeafType::Int8: fill_typed<int8_t>(tree, branch, e, size); break;
                case LeafType::Int16: fill_typed<int16_t>(tree, branch, e, size); break;
                case LeafType::UInt16: fill_typed<uint16_t>(tree, branch, e, size); break;
                case LeafType::Int32: fill_typed<int32_t>(tree, branch, e, size); break;
                case LeafType::UInt32: fill_typed<uint32_t>(tree, branch, e, size); break;
                case LeafType::Int64: fill_typed<int64_t>(tree, branch, e, size); break;
                case LeafType::UInt64: fill_typed<uint64_t>(tree, branch, e, size); break;
                case LeafType::Float: fill_typed<float>(tree, branch, e, size); break;
                case LeafType::Double: fill_typed<double>(tree, branch, e, size); break;
                }
            }
        }
        tree.fill();
    }
    tree.write();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 1;
    }
    const std::string folder = argv[1];
    try {
        for (int setting : {0, 101, 201, 404, 505}) {
            rootio::FileWriter file(folder + "/seed-" + std::to_string(setting) + ".root", setting);
            write_tree(file, "Events", 10);
            if (setting == 0) write_tree(file, "Other", 3);
            file.close();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
