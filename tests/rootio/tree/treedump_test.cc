// The treedump program as a user runs it: exact text for keys, branches and JSON entries,
// and a one-line error with a non-zero exit for every kind of bad input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "rootio/handmade_file.h"
#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;
using rootio::LeafType;

namespace {

struct Outcome {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs the built treedump with `args`; stdout goes to `stdout_path` when one is given.
Outcome treedump(const std::vector<std::string>& args, const std::string& stdout_path = "")
{
    const std::filesystem::path program = std::filesystem::path(SKIM_BUILD_DIR) / "treedump";
    if (!std::filesystem::exists(program)) throw std::runtime_error("build the treedump target first: " + program.string());
    handmade::TempDir dir;
    const auto out = dir / "out";
    const auto err = dir / "err";
    std::string cmd = quoted(program.string());
    for (const std::string& a : args) cmd.append(" ").append(quoted(a));
    cmd.append(" > ").append(quoted(stdout_path.empty() ? out.string() : stdout_path));
    cmd.append(" 2> ").append(quoted(err.string()));
    const int status = std::system(cmd.c_str());
    Outcome r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (stdout_path.empty()) r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// A failure reports itself in one line on stderr and nothing on stdout.
void expect_one_line_error(const Outcome& r, const std::string& file, const std::string& what)
{
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, StartsWith("treedump: " + file + ": "));
    EXPECT_THAT(r.err, HasSubstr(what));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace

TEST(Treedump, ListsKeysInFileOrderWithClassAndCycle)
{
    handmade::TempDir dir;
    const auto path = dir / "keys.root";
    const std::vector<uint8_t> body = {1, 2, 3};
    handmade::write(path, handmade::build({{"TNamed", "h", 2, body}, {"TH1F", "hist", 1, body}, {"TNamed", "h", 1, body}}));
    const Outcome r = treedump({path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "h TNamed 2\nhist TH1F 1\nh TNamed 1\n");
    EXPECT_EQ(r.err, "");

    REQUIRE_TESTDATA(ref, "collider-sample-ttbar.root");
    EXPECT_EQ(treedump({ref.string()}).out, "Events TTree 1\n");
}

TEST(Treedump, ListsKeysOfSubdirectoriesAsPathsAndReadsTreesByPath)
{
    REQUIRE_TESTDATA(path, "older-and-other-writers/uproot-issue64.root");
    const Outcome keys = treedump({path.string()});
    EXPECT_EQ(keys.exit_code, 0) << keys.err;
    EXPECT_THAT(keys.out, StartsWith("G4VERSION_TAG TNamed 1\nMC_TAG TNamed 1\nMCVERSION_TAG TNamed 1\n"
                                     "macros TDirectoryFile 1\nmacros/run_optPhot_S1.mac TNamed 1\n"
                                     "events TDirectoryFile 1\nevents/nbevents TParameter<int> 1\n"
                                     "events/events TTree 1\nG4RUNTIME TParameter<double> 1\n"
                                     "detector TDirectory 1\ndetector/materials TDirectory 1\n"
                                     "detector/materials/G4_AIR TDirectory 1\n"));
    const Outcome tree = treedump({path.string(), "events/events", "--json", "--count", "1", "--branch", "eventid"});
    EXPECT_EQ(tree.exit_code, 0) << tree.err;
    EXPECT_EQ(tree.out, "{\"eventid\":0}\n");
    expect_one_line_error(treedump({path.string(), "events/nothing"}), path.string(), "no object named 'events/nothing'");
}

TEST(Treedump, ListsBranchesWithTypeLetterCountAndFixedLength)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    const Outcome r = treedump({path.string(), "sample"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Every basic type as a scalar, a fixed array [3] and an array counted by n; the string
    // branch is listed but not readable.
    std::string expected = "entries 30\nn I -\nb O -\nab O - [3]\nAb O n\n";
    for (const char* t : {"i1 B", "u1 b", "i2 S", "u2 s", "i4 I", "u4 i", "i8 L", "u8 l", "f4 F", "f8 D"}) {
        const std::string name(t, 2);
        const std::string letter(t + 3);
        expected += name + " " + letter + " -\n";
        expected += "a" + name + " " + letter + " - [3]\n";
        expected += "A" + name + " " + letter + " n\n";
    }
    expected += "str unsupported: leaf class TLeafC\n";
    EXPECT_EQ(r.out, expected);
}

TEST(Treedump, JsonSelectsEntriesAndBranches)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    const std::string file = path.string();
    // Values as jsroot reads them. Branches come in tree order whatever order they are asked
    // for in; arrays stay arrays even when a count makes them empty.
    Outcome r = treedump({file, "sample", "--json", "--first", "2", "--count", "2", "--branch", "Af8", "--branch", "u8",
                      "--branch", "n", "--branch", "Ai8", "--branch", "b", "--branch", "ab"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"n\":2,\"b\":true,\"ab\":[false,true,false],\"Ai8\":[-15,-13],\"u8\":2,\"Af8\":[-15,-13.9]}\n"
              "{\"n\":3,\"b\":false,\"ab\":[true,false,true],\"Ai8\":[-15,-13,-11],\"u8\":3,\"Af8\":[-15,-13.9,-12.8]}\n");

    r = treedump({file, "sample", "--json", "--count", "1", "--branch", "Af4", "--branch", "af4"});
    EXPECT_EQ(r.out, "{\"af4\":[-13.9,-12.9,-11.9],\"Af4\":[]}\n");

    // The range is clipped to the tree; an empty range prints nothing. A branch asked for twice
    // is printed once.
    r = treedump({file, "sample", "--json", "--first", "29", "--count", "5", "--branch", "i4", "--branch", "i4"});
    EXPECT_EQ(r.out, "{\"i4\":14}\n");
    // A count up to the largest number is no overflow: it runs to the end.
    r = treedump({file, "sample", "--json", "--first", "29", "--count", "9223372036854775807", "--branch", "i4"});
    EXPECT_EQ(r.out, "{\"i4\":14}\n");
    r = treedump({file, "sample", "--json", "--first", "30", "--branch", "i4"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    r = treedump({file, "sample", "--json", "--count", "0"});
    EXPECT_EQ(r.out, "");

    // Without --branch every readable branch is printed, every entry.
    r = treedump({file, "sample", "--json"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 30);
    EXPECT_THAT(r.out, StartsWith("{\"n\":0,\"b\":true,"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("\"str\"")));
}

TEST(Treedump, JsonNumbersAreExactAndShortest)
{
    handmade::TempDir dir;
    const std::string path = (dir / "values.root").string();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> doubles = {0.1, -0.0, 1e21, 5e-324, 1.7976931348623157e308, nan, inf, -inf, 123456.789};
    const std::vector<float> floats = {0.1f, -0.0f, 1e21f, 1e-45f, 3.4028235e38f, std::nanf(""), HUGE_VALF,
                                       -HUGE_VALF, 16777216.0f};
    const std::vector<int64_t> longs = {9007199254740993, INT64_MIN, INT64_MAX, -1, 0, 1, 2, 3, 4};
    const std::vector<uint64_t> ulongs = {UINT64_MAX, 9007199254740993, 0, 1, 2, 3, 4, 5, 6};
    {
        rootio::FileWriter file(path, 101);
        rootio::TreeWriter tree(file, "t", "special values");
        const int d = tree.add_branch("d", LeafType::Double);
        const int f = tree.add_branch("f", LeafType::Float);
        const int l = tree.add_branch("l", LeafType::Int64);
        const int ul = tree.add_branch("ul", LeafType::UInt64);
        for (size_t i = 0; i < doubles.size(); ++i) {
            tree.set_value(d, doubles[i]);
            tree.set_value(f, floats[i]);
            tree.set_value(l, longs[i]);
            tree.set_value(ul, ulongs[i]);
            tree.fill();
        }
        tree.write();
        file.close();
    }
    const Outcome r = treedump({path, "t", "--json", "--count", "8"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"d\":0.1,\"f\":0.1,\"l\":9007199254740993,\"ul\":18446744073709551615}\n"
              "{\"d\":-0,\"f\":-0,\"l\":-9223372036854775808,\"ul\":9007199254740993}\n"
              "{\"d\":1e+21,\"f\":1e+21,\"l\":9223372036854775807,\"ul\":0}\n"
              "{\"d\":5e-324,\"f\":1e-45,\"l\":-1,\"ul\":1}\n"
              "{\"d\":1.7976931348623157e+308,\"f\":3.4028235e+38,\"l\":0,\"ul\":2}\n"
              "{\"d\":\"nan\",\"f\":\"nan\",\"l\":1,\"ul\":3}\n"
              "{\"d\":\"inf\",\"f\":\"inf\",\"l\":2,\"ul\":4}\n"
              "{\"d\":\"-inf\",\"f\":\"-inf\",\"l\":3,\"ul\":5}\n");
    // Fixed notation when it is no longer than scientific.
    EXPECT_EQ(treedump({path, "t", "--json", "--first", "8", "--branch", "d", "--branch", "f"}).out,
              "{\"d\":123456.789,\"f\":16777216}\n");
}

TEST(Treedump, BadInputIsOneLineOnStderrAndAFailingExit)
{
    handmade::TempDir dir;
    const std::string missing = (dir / "missing.root").string();
    expect_one_line_error(treedump({missing}), missing, "cannot open");

    const std::string text = (dir / "text.root").string();
    std::ofstream(text) << "just some words, long enough to be mistaken for a header by a careless reader\n";
    expect_one_line_error(treedump({text, "Events"}), text, "not a ROOT file");

    REQUIRE_TESTDATA(path, "uproot-HZZ-zlib.root");
    const std::string file = path.string();
    expect_one_line_error(treedump({file, "Events"}), file, "no object named 'Events'");
    expect_one_line_error(treedump({file, "events", "--json", "--branch", "NJet", "--branch", "Jet_Pz", "--branch", "nope"}),
                          file, "no branch named 'nope'");

    // Usage mistakes name the problem and show the usage.
    const Outcome usage = treedump({file, "events", "--json", "--count", "-1"});
    EXPECT_NE(usage.exit_code, 0);
    EXPECT_THAT(usage.err, StartsWith("treedump: --count needs a non-negative number, got '-1'\nusage: "));
}

TEST(Treedump, FailsWhenTheOutputCannotBeWritten)
{
    REQUIRE_TESTDATA(path, "uproot-HZZ-zlib.root");
    const Outcome r = treedump({path.string(), "events", "--json"}, "/dev/full");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_THAT(r.err, StartsWith("treedump: standard output: write error"));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// Names from the file reach the terminal escaped in every listing, as in error messages;
// JSON keys stay valid JSON and read back exactly (the scheme is in the README).
TEST(Treedump, ListingsShowNamesFromTheFileEscaped)
{
    handmade::TempDir dir;
    const std::string path = (dir / "names.root").string();
    {
        rootio::FileWriter file(path, 0);
        rootio::TreeWriter tree(file, "t", "");
        tree.set_value(tree.add_branch("n\x07", LeafType::UInt32), uint32_t{1});
        tree.set_value(tree.add_branch("a\x1b", LeafType::Float, "n\x07"), 1.5f);
        for (const std::string name : {"e\x1b[2J", "b\xff\xc3", "\xc3\xa9", "q\"\\", "c\xc2\x9b\x7f"})
            tree.set_value(tree.add_branch(name, LeafType::Int32), int32_t{7});
        tree.fill();
        tree.write();
        file.write_object("T\x1b[2J", "k\x1b", "", [](rootio::ByteWriter&, int) {});
        file.close();
    }
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{path}, "t TTree 1\nk\\x1b T\\x1b[2J 1\n"},
        {{path, "t"},
         "entries 1\nn\\x07 i -\na\\x1b F n\\x07\ne\\x1b[2J I -\nb\\xff\\xc3 I -\n\\xc3\\xa9 I -\nq\"\\ I -\n"
         "c\\xc2\\x9b\\x7f I -\n"},
        {{path, "t", "--json"},
         "{\"n\\u0007\":1,\"a\\u001b\":[1.5],\"e\\u001b[2J\":7,\"b\\\\xff\\\\xc3\":7,\"\xc3\xa9\":7,"
         "\"q\\\"\\\\x5c\":7,\"c\\u009b\\u007f\":7}\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = treedump(c.args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

// An RNTuple as a user dumps it: the field listing, entries chosen by --first, --count and
// --branch (field order, each once, however asked for), and a one-line error.
TEST(Treedump, DumpsAnRNTuple)
{
    REQUIRE_TESTDATA(path, "rntuple/test_int_vfloat_tlv_vtlv_rntuple_v1-0-0-0.root");
    const std::string file = path.string();
    EXPECT_EQ(treedump({file, "ntuple"}).out,
              "entries 5\none_integers std::int32_t\ntwo_v_floats std::vector<float>\nthree_LV LV\n"
              "four_v_LVs std::vector<LV>\n");
    const Outcome r = treedump({file, "ntuple", "--json", "--first", "3", "--count", "5", "--branch", "two_v_floats",
                                "--branch", "one_integers", "--branch", "two_v_floats"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "{\"one_integers\":6,\"two_v_floats\":[0,-1]}\n{\"one_integers\":5,\"two_v_floats\":[-2]}\n");
    const Outcome bad = treedump({file, "ntuple", "--json", "--branch", "nope"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "treedump: " + file + ": RNTuple ntuple: no field named 'nope'\n");
}
