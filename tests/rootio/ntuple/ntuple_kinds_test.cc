// Every field kind and column encoding of the format, each in a handmade RNTuple, read back
// as treedump prints it: the values the encoders put in, entry by entry.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "../../../tools/ntuple_dump.h"
#include "rootio/ntuple/handmade_ntuple.h"

namespace {

using namespace handmade;
using CT = ColumnType;
using R = FieldRole;

// Each top-level field of every entry as JSON, one line per entry.
std::string dump(const Ntuple& n)
{
    TempDir dir;
    const std::string path = (dir / "nt.root").string();
    write(path, build_ntuple_file(n));
    auto file = rootio::RootFile::open(path);
    auto reader = rootio::ntuple::NtupleReader::open(*file, "nt");
    const auto& d = reader->descriptor();
    rootio::ntuple::EntryReader entries(*reader, d.top_level);
    std::string out;
    treedump::JsonSink sink(out);
    for (uint64_t e = 0; e < d.entries; ++e) {
        sink.reset();
        out += '{';
        for (size_t k = 0; k < d.top_level.size(); ++k) {
            sink.member(d.fields[d.top_level[k]].name);
            entries.read(e, k, sink);
        }
        out += "}\n";
    }
    return out;
}

NField top(std::string name, std::string type, uint32_t id, R role = R::Leaf)
{
    return NField{std::move(name), std::move(type), id, role};
}
NField sub(std::string name, std::string type, uint32_t parent, R role = R::Leaf)
{
    return NField{std::move(name), std::move(type), parent, role};
}
template <class T>
NColumn col(CT type, uint16_t bits, uint32_t field, std::vector<uint8_t> page, const std::vector<T>& values)
{
    return NColumn{type, bits, field, std::move(page), static_cast<uint32_t>(values.size())};
}

struct Case {
    const char* label;
    Ntuple ntuple;
    const char* expected;
};

uint16_t half(float f)  // exact for the values used here
{
    if (f == 1.0f) return 0x3C00;
    if (f == -2.5f) return 0xC100;
    return 0x7BFF;  // 65504
}

std::vector<Case> cases()
{
    const std::vector<int32_t> i32 = {1, -2, 3};
    const std::vector<int16_t> i16 = {-1, 300, -32768};
    const std::vector<uint16_t> u16 = {1, 65535, 256};
    const std::vector<int64_t> i64 = {std::numeric_limits<int64_t>::min(), -1, 1234567890123456789};
    const std::vector<uint64_t> u64 = {std::numeric_limits<uint64_t>::max(), 0, 1};
    const std::vector<int8_t> i8 = {-128, 0, 127};
    const std::vector<double> f64 = {0.1, -1e300, std::numeric_limits<double>::infinity()};
    const std::vector<float> f32 = {0.5f, 1.1f, -0.0f};
    const std::vector<uint16_t> f16 = {half(1.0f), half(-2.5f), half(65504)};
    const std::vector<uint32_t> off32 = {2, 2, 3};
    const std::vector<uint64_t> off64 = {2, 2, 3};
    const std::vector<float> vals = {1, 2, 3};
    const std::vector<int32_t> ivals = {7, 8, 9};
    std::vector<Case> c;
    c.push_back({"Int32", {{top("x", "std::int32_t", 0)}, {col(CT::Int32, 32, 0, le_page(i32), i32)}, {}, 3},
                 "{\"x\":1}\n{\"x\":-2}\n{\"x\":3}\n"});
    c.push_back({"SplitInt16 (zigzag)",
                 {{top("x", "std::int16_t", 0)}, {col(CT::SplitInt16, 16, 0, split_page(zigzag(i16)), i16)}, {}, 3},
                 "{\"x\":-1}\n{\"x\":300}\n{\"x\":-32768}\n"});
    c.push_back({"SplitUInt16", {{top("x", "std::uint16_t", 0)}, {col(CT::SplitUInt16, 16, 0, split_page(u16), u16)}, {}, 3},
                 "{\"x\":1}\n{\"x\":65535}\n{\"x\":256}\n"});
    c.push_back({"SplitInt64 (zigzag)",
                 {{top("x", "std::int64_t", 0)}, {col(CT::SplitInt64, 64, 0, split_page(zigzag(i64)), i64)}, {}, 3},
                 "{\"x\":-9223372036854775808}\n{\"x\":-1}\n{\"x\":1234567890123456789}\n"});
    c.push_back({"UInt64", {{top("x", "std::uint64_t", 0)}, {col(CT::UInt64, 64, 0, le_page(u64), u64)}, {}, 3},
                 "{\"x\":18446744073709551615}\n{\"x\":0}\n{\"x\":1}\n"});
    c.push_back({"Int8", {{top("x", "std::int8_t", 0)}, {col(CT::Int8, 8, 0, le_page(i8), i8)}, {}, 3},
                 "{\"x\":-128}\n{\"x\":0}\n{\"x\":127}\n"});
    c.push_back({"Bit", {{top("x", "bool", 0)}, {col(CT::Bit, 1, 0, bit_page({1, 0, 1}, 1), i32)}, {}, 3},
                 "{\"x\":true}\n{\"x\":false}\n{\"x\":true}\n"});
    c.push_back({"SplitReal64", {{top("x", "double", 0)}, {col(CT::SplitReal64, 64, 0, split_page(f64), f64)}, {}, 3},
                 "{\"x\":0.1}\n{\"x\":-1e+300}\n{\"x\":\"inf\"}\n"});
    c.push_back({"Real16", {{top("x", "float", 0)}, {col(CT::Real16, 16, 0, le_page(f16), f16)}, {}, 3},
                 "{\"x\":1}\n{\"x\":-2.5}\n{\"x\":65504}\n"});
    c.push_back({"SplitReal32 as double (Double32_t)",
                 {{top("x", "double", 0)}, {col(CT::SplitReal32, 32, 0, split_page(f32), f32)}, {}, 3},
                 "{\"x\":0.5}\n{\"x\":1.100000023841858}\n{\"x\":-0}\n"});
    c.push_back({"Real32Trunc (12 bits)",
                 {{top("x", "float", 0)}, {col(CT::Real32Trunc, 12, 0, bit_page({0x3F8, 0xC02, 0x404}, 12), i32)}, {}, 3},
                 "{\"x\":1}\n{\"x\":-2.5}\n{\"x\":3}\n"});
    {
        NColumn q = col(CT::Real32Quant, 10, 0, bit_page({0, 1023, 512}, 10), i32);
        q.flags = 0x02, q.min = -1, q.max = 1;
        c.push_back({"Real32Quant (10 bits over [-1, 1])", {{top("x", "float", 0)}, {q}, {}, 3},
                     "{\"x\":-1}\n{\"x\":1}\n{\"x\":0.0009775171}\n"});
    }
    c.push_back({"std::vector<float>, Index32",
                 {{top("v", "std::vector<float>", 0, R::Collection), sub("_0", "float", 0)},
                  {col(CT::Index32, 32, 0, le_page(off32), off32), col(CT::Real32, 32, 1, le_page(vals), vals)}, {}, 3},
                 "{\"v\":[1,2]}\n{\"v\":[]}\n{\"v\":[3]}\n"});
    c.push_back({"std::set<std::int32_t>, SplitIndex32 (delta)",
                 {{top("s", "std::set<std::int32_t>", 0, R::Collection), sub("_0", "std::int32_t", 0)},
                  {col(CT::SplitIndex32, 32, 0, split_page(delta(off32)), off32),
                   col(CT::SplitInt32, 32, 1, split_page(zigzag(ivals)), ivals)}, {}, 3},
                 "{\"s\":[7,8]}\n{\"s\":[]}\n{\"s\":[9]}\n"});
    c.push_back({"std::string, Index64",
                 {{top("s", "std::string", 0)},
                  {col(CT::Index64, 64, 0, le_page(off64), off64),
                   col(CT::Char, 8, 0, std::vector<uint8_t>{'a', '"', 'c'}, std::vector<char>{'a', '"', 'c'})}, {}, 3},
                 "{\"s\":\"a\\\"\"}\n{\"s\":\"\"}\n{\"s\":\"c\"}\n"});
    {
        const std::vector<uint64_t> opt = {1, 1, 2};
        c.push_back({"std::optional<std::int32_t>",
                     {{top("o", "std::optional<std::int32_t>", 0, R::Collection), sub("_0", "std::int32_t", 0)},
                      {col(CT::SplitIndex64, 64, 0, split_page(delta(opt)), opt), col(CT::Int32, 32, 1, le_page(ivals), ivals)},
                      {}, 3},
                     "{\"o\":7}\n{\"o\":null}\n{\"o\":8}\n"});
    }
    {
        NField bits = top("b", "std::bitset<3>", 0);
        bits.flags = 0x01, bits.array_size = 3;
        c.push_back({"std::bitset<3>",
                     {{bits}, {col(CT::Bit, 1, 0, bit_page({1, 0, 0, 0, 1, 1, 0, 0, 0}, 1), std::vector<int>(9))}, {}, 3},
                     "{\"b\":[true,false,false]}\n{\"b\":[false,true,true]}\n{\"b\":[false,false,false]}\n"});
        NField arr = top("a", "std::array<std::int16_t,2>", 0);
        arr.flags = 0x01, arr.array_size = 2;
        const std::vector<int16_t> six = {1, 2, 3, 4, 5, 6};
        c.push_back({"std::array<std::int16_t,2>",
                     {{arr, sub("_0", "std::int16_t", 0)}, {col(CT::Int16, 16, 1, le_page(six), six)}, {}, 3},
                     "{\"a\":[1,2]}\n{\"a\":[3,4]}\n{\"a\":[5,6]}\n"});
    }
    {
        const std::vector<uint64_t> one_each = {1, 2, 2};
        const std::vector<uint64_t> str_off = {1, 3};
        c.push_back({"std::map<std::int32_t,std::string>",
                     {{top("m", "std::map<std::int32_t,std::string>", 0, R::Collection),
                       sub("_0", "std::pair<std::int32_t,std::string>", 0, R::Record), sub("_0", "std::int32_t", 1),
                       sub("_1", "std::string", 1)},
                      {col(CT::Index64, 64, 0, le_page(one_each), one_each), col(CT::Int32, 32, 2, le_page(std::vector<int32_t>{7, 8}), std::vector<int>(2)),
                       col(CT::Index64, 64, 3, le_page(str_off), str_off),
                       col(CT::Char, 8, 3, std::vector<uint8_t>{'a', 'b', 'c'}, std::vector<int>(3))},
                      {}, 3},
                     "{\"m\":[{\"first\":7,\"second\":\"a\"}]}\n{\"m\":[{\"first\":8,\"second\":\"bc\"}]}\n{\"m\":[]}\n"});
    }
    c.push_back({"std::atomic<std::int32_t> and a class",
                 {{top("at", "std::atomic<std::int32_t>", 0), sub("_0", "std::int32_t", 0), top("c", "Point", 2, R::Record),
                   sub(":_0", "Base", 2, R::Record), sub("y", "float", 2)},
                  {col(CT::Int32, 32, 1, le_page(ivals), ivals), col(CT::Real32, 32, 4, le_page(vals), vals)}, {}, 3},
                 "{\"at\":7,\"c\":{\":_0\":{},\"y\":1}}\n{\"at\":8,\"c\":{\":_0\":{},\"y\":2}}\n"
                 "{\"at\":9,\"c\":{\":_0\":{},\"y\":3}}\n"});
    {
        // (index, tag) per entry: the int32 alternative's element 0, the float's element 0, invalid.
        std::vector<uint8_t> sw;
        for (auto [index, tag] : {std::pair<uint64_t, uint32_t>{0, 1}, {0, 2}, {0, 0}}) {
            const auto i = le_page(std::vector<uint64_t>{index});
            const auto t = le_page(std::vector<uint32_t>{tag});
            sw.insert(sw.end(), i.begin(), i.end());
            sw.insert(sw.end(), t.begin(), t.end());
        }
        c.push_back({"std::variant<std::int32_t,float>",
                     {{top("v", "std::variant<std::int32_t,float>", 0, R::Variant), sub("_0", "std::int32_t", 0),
                       sub("_1", "float", 0)},
                      {col(CT::Switch, 96, 0, sw, i32), col(CT::Int32, 32, 1, le_page(std::vector<int32_t>{5}), std::vector<int>(1)),
                       col(CT::Real32, 32, 2, le_page(std::vector<float>{2.5f}), std::vector<int>(1))},
                      {}, 3},
                     "{\"v\":5}\n{\"v\":2.5}\n{\"v\":null}\n"});
    }
    {
        // The importer's layout: an untyped collection of records, a projected RVec of its
        // member and a projected count.
        NField proj = top("X_a", "ROOT::VecOps::RVec<float>", 3, R::Collection);
        proj.flags = 0x02, proj.source = 0;
        NField proj_item = sub("_0", "float", 3);
        proj_item.flags = 0x02, proj_item.source = 2;
        NField count = top("nX", "ROOT::RNTupleCardinality<std::uint32_t>", 5);
        count.flags = 0x02, count.source = 0;
        c.push_back({"untyped collection, projected RVec and cardinality",
                     {{top("_collection0", "", 0, R::Collection), sub("_0", "", 0, R::Record), sub("X_a", "float", 1), proj,
                       proj_item, count},
                      {col(CT::SplitIndex64, 64, 0, split_page(delta(off64)), off64),
                       col(CT::SplitReal32, 32, 2, split_page(vals), vals)},
                      {{0, 3}, {1, 4}, {0, 5}},
                      3},
                     "{\"_collection0\":[{\"X_a\":1},{\"X_a\":2}],\"X_a\":[1,2],\"nX\":2}\n"
                     "{\"_collection0\":[],\"X_a\":[],\"nX\":0}\n{\"_collection0\":[{\"X_a\":3}],\"X_a\":[3],\"nX\":1}\n"});
    }
    {
        // Added after two entries: the first two read as zeros.
        NColumn late = col(CT::Int32, 32, 0, le_page(std::vector<int32_t>{4, 5}), std::vector<int>(2));
        late.flags = 0x01, late.first_element = 2, late.cluster_first = 2;
        c.push_back({"deferred column", {{top("x", "std::int32_t", 0)}, {late}, {}, 4},
                     "{\"x\":0}\n{\"x\":0}\n{\"x\":4}\n{\"x\":5}\n"});
    }
    {
        NColumn primary = col(CT::Real32, 32, 0, {}, std::vector<int>{});
        primary.suppressed = true;
        NColumn secondary = col(CT::SplitReal32, 32, 0, split_page(vals), vals);
        secondary.representation = 1;
        c.push_back({"second representation", {{top("x", "float", 0)}, {primary, secondary}, {}, 3},
                     "{\"x\":1}\n{\"x\":2}\n{\"x\":3}\n"});
    }
    {
        Ntuple large{{top("x", "std::int32_t", 0)}, {col(CT::Int32, 32, 0, le_page(i32), i32)}, {}, 3};
        large.large_locators = true;
        large.page_checksums = false;
        c.push_back({"large locators, no page checksums", large, "{\"x\":1}\n{\"x\":-2}\n{\"x\":3}\n"});
    }
    return c;
}

TEST(NtupleKinds, EachKindReadsBackAsWritten)
{
    for (const Case& c : cases()) EXPECT_EQ(dump(c.ntuple), c.expected) << c.label;
}

}  // namespace
