// Writes the RNTuples the interop test has jsroot read back: every fundamental type,
// std::string and std::vector of each, with the values readers get wrong; one file per
// compression setting; page and cluster sizes small enough to put boundaries everywhere.
//
//   write-ntuple-samples OUTDIR      prints the files written, one per line
//
// Beside each FILE.root: FILE.expected, the values written, one JSON object per entry in
// treedump's form, and FILE.types, NAME=LETTER per field (T for a string).
#include <bit>
#include <cstdio>
#include <exception>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <fstream>

#include "json_values.h"
#include "rootio/file/file_writer.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "stress_values.h"

namespace {

using rootio::LeafType;
using rootio::ntuple::NTupleWriter;

// In the order fill() below sets them.
constexpr LeafType types_written[] = {LeafType::Bool,   LeafType::Int8,   LeafType::UInt8, LeafType::Int16,
                                      LeafType::UInt16, LeafType::Int32,  LeafType::UInt32, LeafType::Int64,
                                      LeafType::UInt64, LeafType::Float,  LeafType::Double};

struct Layout {
    std::string name;
    int compression;
    size_t page_bytes, cluster_bytes;
    int entries;
};

// The entry's value of the scalar and of the vector field of type T, set and noted.
template <class T>
void fill_type(NTupleWriter& w, NTupleWriter::Slot scalar, NTupleWriter::Slot vector, int entry, size_t k,
               const std::string& tag, std::string& json)
{
    std::vector<T> values{stress_value<T>(static_cast<uint64_t>(entry))};
    for (int j = 0; j < entry % 7; ++j) values.push_back(stress_value<T>(static_cast<uint64_t>(entry * 7 + j)));
    std::vector<uint8_t> be(values.size() * sizeof(T));
    for (size_t i = 0; i < values.size(); ++i) rootio::store_be<T>(be.data() + i * sizeof(T), values[i]);
    w.set_values_be(scalar, std::span<const uint8_t>(be).first(sizeof(T)));
    if constexpr (std::is_same_v<T, bool>) {
        const std::vector<uint8_t> bytes(values.begin() + 1, values.end());
        w.set_values<uint8_t>(vector, bytes);
    } else {
        w.set_values<T>(vector, std::span<const T>(values).subspan(1));
    }
    const rootio::LeafType type = types_written[k];
    treedump::append_key(json, "s_" + tag);
    treedump::append_value(json, type, false, std::span<const uint8_t>(be).first(sizeof(T)));
    json += ',';
    treedump::append_key(json, "v_" + tag);
    treedump::append_value(json, type, true, std::span<const uint8_t>(be).subspan(sizeof(T)));
    json += ',';
}

void write_one(const std::string& path, const Layout& layout)
{
    rootio::FileWriter file(path, layout.compression);
    rootio::ntuple::WriteOptions options;
    options.page_bytes = layout.page_bytes;
    options.cluster_bytes = layout.cluster_bytes;
    NTupleWriter w(file, "Events", options);
    std::vector<std::pair<NTupleWriter::Slot, NTupleWriter::Slot>> slots;
    std::vector<std::string> tags;
    std::ofstream types(path.substr(0, path.size() - 5) + ".types");
    for (LeafType t : types_written) {
        const std::string tag = std::string(rootio::leaf_type_is_unsigned(t) ? "u" : "") + rootio::leaf_type_letter(t);
        tags.push_back(tag);
        const auto scalar = w.add_fundamental("s_" + tag, t);
        slots.emplace_back(scalar, w.add_vector("v_" + tag, t));
        types << "s_" << tag << '=' << rootio::leaf_type_letter(t) << "\nv_" << tag << '=' << rootio::leaf_type_letter(t)
              << '\n';
    }
    const auto text = w.add_string("text");
    types << "text=T\n";
    std::ofstream expected(path.substr(0, path.size() - 5) + ".expected");
    std::string json;
    for (int e = 0; e < layout.entries; ++e) {
        json.assign(1, '{');
        size_t k = 0;
        auto next = [&](auto value) {
            fill_type<decltype(value)>(w, slots[k].first, slots[k].second, e, k, tags[k], json);
            ++k;
        };
        next(bool{}), next(int8_t{}), next(uint8_t{}), next(int16_t{}), next(uint16_t{}), next(int32_t{});
        next(uint32_t{}), next(int64_t{}), next(uint64_t{}), next(float{}), next(double{});
        const std::string value = e % 5 == 0 ? std::string() : "entry " + std::to_string(e) + std::string(e % 13, '*');
        w.set_string(text, value);
        treedump::append_key(json, "text");
        json += '"';
        json += value;
        json += "\"}\n";
        expected << json;
        w.fill();
    }
    w.write();
    file.close();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write-ntuple-samples OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    // name, compression, page bytes, cluster bytes, entries
    const Layout layouts[] = {
        {"ntuple-zlib", 101, 64 << 10, 100 << 20, 500},
        {"ntuple-lzma", 207, 64 << 10, 100 << 20, 500},
        {"ntuple-lz4", 404, 64 << 10, 100 << 20, 500},
        {"ntuple-zstd", 505, 64 << 10, 100 << 20, 500},
        {"ntuple-none", 0, 64 << 10, 100 << 20, 500},
        // Pages of a few elements (a page ends inside an entry's vector), clusters of a few
        // entries, so that every column crosses page and cluster boundaries many times.
        {"ntuple-small-pages", 505, 24, 100 << 20, 300},
        {"ntuple-small-clusters", 101, 64 << 10, 700, 300},
        {"ntuple-small-both", 0, 16, 300, 300},
        {"ntuple-one-entry", 505, 64 << 10, 100 << 20, 1},
    };
    try {
        for (const Layout& l : layouts) {
            const std::string path = dir + "/" + l.name + ".root";
            write_one(path, l);
            std::printf("%s\n", path.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "write-ntuple-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
