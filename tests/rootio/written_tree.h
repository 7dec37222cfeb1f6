#pragma once
// Helpers for tests that write trees and read them back: values that stress every leaf
// type, their big-endian bytes, branch specs of every shape, and a reopen that first walks
// the file's records (file_structure.h) and then compares every entry's bytes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "rootio/file_structure.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_model.h"
#include "rootio/tree/tree_reader.h"

namespace written_tree {

using rootio::BranchInfo;
using rootio::BranchReader;
using rootio::LeafType;
using rootio::RootFile;
using rootio::TreeInfo;

using Bytes = std::vector<uint8_t>;

template <class T>
constexpr LeafType leaf_type_of()
{
    if constexpr (std::is_same_v<T, bool>) return LeafType::Bool;
    if constexpr (std::is_same_v<T, int8_t>) return LeafType::Int8;
    if constexpr (std::is_same_v<T, uint8_t>) return LeafType::UInt8;
    if constexpr (std::is_same_v<T, int16_t>) return LeafType::Int16;
    if constexpr (std::is_same_v<T, uint16_t>) return LeafType::UInt16;
    if constexpr (std::is_same_v<T, int32_t>) return LeafType::Int32;
    if constexpr (std::is_same_v<T, uint32_t>) return LeafType::UInt32;
    if constexpr (std::is_same_v<T, int64_t>) return LeafType::Int64;
    if constexpr (std::is_same_v<T, uint64_t>) return LeafType::UInt64;
    if constexpr (std::is_same_v<T, float>) return LeafType::Float;
    if constexpr (std::is_same_v<T, double>) return LeafType::Double;
}

// Values that break careless code: extremes, zero and its negative, NaNs with payload and
// sign, infinities, denormals; then pseudo-random values of every bit pattern.
template <class T>
std::vector<T> stress_values(size_t n, uint32_t seed)
{
    std::vector<T> v;
    if constexpr (std::is_same_v<T, bool>) {
        v = {false, true, true};
    } else if constexpr (std::is_integral_v<T>) {
        using L = std::numeric_limits<T>;
        v = {L::min(), L::max(), T(0), T(1), T(L::min() + 1), T(L::max() - 1), T(-1)};
    } else {
        using L = std::numeric_limits<T>;
        using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        constexpr U sign = U{1} << (sizeof(T) * 8 - 1);
        const U quiet_nan_payload = std::bit_cast<U>(L::quiet_NaN()) | 1;
        v = {-T(0), T(0), L::infinity(), -L::infinity(), L::quiet_NaN(), std::bit_cast<T>(quiet_nan_payload),
             std::bit_cast<T>(quiet_nan_payload | sign), L::denorm_min(), -L::denorm_min(), L::min(), L::max(),
             L::lowest(), L::epsilon()};
    }
    std::mt19937_64 rng(seed);
    while (v.size() < n) {
        const uint64_t r = rng();
        if constexpr (std::is_same_v<T, bool>) {
            v.push_back((r & 1) != 0);
        } else if constexpr (std::is_integral_v<T>) {
            v.push_back(static_cast<T>(r));
        } else {
            using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
            T x = std::bit_cast<T>(static_cast<U>(r));
            if (std::isnan(x)) x = T(r % 1000) / T(7);  // NaNs are covered above, bit by bit
            v.push_back(x);
        }
    }
    v.resize(n);
    return v;
}

// A run of values, contiguous for every T (std::vector<bool> is not).
template <class T>
class Run {
public:
    explicit Run(size_t n) : data_(std::make_unique<T[]>(n)), size_(n) {}
    T& operator[](size_t i) { return data_[i]; }
    std::span<const T> span() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<T[]> data_;
    size_t size_;
};

template <class T>
Bytes to_be(std::span<const T> values)
{
    Bytes out(values.size() * sizeof(T));
    for (size_t i = 0; i < values.size(); ++i) rootio::store_be<T>(out.data() + i * sizeof(T), values[i]);
    return out;
}

// Bitwise equality: NaN payloads and the sign of zero count.
template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b)
{
    if (a.size() != b.size()) return false;
    if constexpr (std::is_same_v<T, bool>) return a == b;
    else return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// A branch of the given shape: scalar, fixed array `[len]`, or `[count][len]`.
inline BranchInfo branch_spec(const std::string& name, LeafType type, const std::string& count = {}, int32_t len = 1,
                       int32_t basket_size = 32000)
{
    BranchInfo b;
    b.name = name;
    b.leaf.name = name;
    b.leaf.type = type;
    b.leaf.len = len;
    b.leaf.count_leaf = count;
    b.leaf.title = name + (count.empty() ? "" : "[" + count + "]") + (len > 1 ? "[" + std::to_string(len) + "]" : "");
    b.title = b.leaf.title + "/" + rootio::leaf_type_letter(type);
    b.basket_size = basket_size;
    return b;
}

struct Reopened {
    std::unique_ptr<RootFile> file;
    TreeInfo tree;
};

// Checks the file's layout, then opens its tree.
inline Reopened reopen(const std::string& path, const std::string& tree = "Events")
{
    file_structure::check(path);
    Reopened r;
    r.file = RootFile::open(path);
    r.tree = rootio::read_tree(*r.file, tree);
    return r;
}

// Every entry's bytes of every branch: bytes[branch][entry].
using Columns = std::vector<std::vector<Bytes>>;

inline void expect_columns(const Reopened& r, const Columns& expected)
{
    ASSERT_EQ(r.tree.branches.size(), expected.size());
    for (size_t b = 0; b < expected.size(); ++b) {
        BranchReader reader(*r.file, r.tree, static_cast<int>(b));
        ASSERT_EQ(r.tree.branches[b].entries, static_cast<int64_t>(expected[b].size()));
        for (size_t e = 0; e < expected[b].size(); ++e) {
            const auto got = reader.entry_bytes(static_cast<int64_t>(e));
            ASSERT_TRUE(std::equal(got.begin(), got.end(), expected[b][e].begin(), expected[b][e].end()))
                << "branch " << r.tree.branches[b].name << " entry " << e;
        }
    }
}


}  // namespace written_tree
