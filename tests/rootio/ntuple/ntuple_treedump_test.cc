// treedump on an RNTuple as a user runs it: the field listing, entries chosen by --first,
// --count and --branch, and one-line errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "rootio/handmade_file.h"
#include "testdata.h"

namespace {

struct Outcome {
    int exit_code = -1;
    std::string out, err;
};

std::string slurp(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

Outcome treedump(const std::vector<std::string>& args)
{
    handmade::TempDir dir;
    std::string cmd = (std::filesystem::path(SKIM_BUILD_DIR) / "treedump").string();
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " > " + (dir / "out").string() + " 2> " + (dir / "err").string();
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"), slurp(dir / "err")};
}

TEST(NtupleTreedump, ListsFieldsAndDumpsChosenEntries)
{
    REQUIRE_TESTDATA(path, "rntuple/test_int_vfloat_tlv_vtlv_rntuple_v1-0-0-0.root");
    const std::string file = path.string();
    EXPECT_EQ(treedump({file, "ntuple"}).out,
              "entries 5\none_integers std::int32_t\ntwo_v_floats std::vector<float>\nthree_LV LV\n"
              "four_v_LVs std::vector<LV>\n");
    // Field order, each once, however often and in whatever order asked for.
    const Outcome r = treedump({file, "ntuple", "--json", "--first", "3", "--count", "5", "--branch", "two_v_floats",
                                "--branch", "one_integers", "--branch", "two_v_floats"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "{\"one_integers\":6,\"two_v_floats\":[0,-1]}\n{\"one_integers\":5,\"two_v_floats\":[-2]}\n");
}

TEST(NtupleTreedump, UnknownFieldIsOneLineError)
{
    REQUIRE_TESTDATA(path, "rntuple/test_int_vfloat_tlv_vtlv_rntuple_v1-0-0-0.root");
    const Outcome r = treedump({path.string(), "ntuple", "--json", "--branch", "nope"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "treedump: " + path.string() + ": RNTuple ntuple: no field named 'nope'\n");
}

}  // namespace
