// Names and classes read from a file reach error messages escaped (\xNN) and cut to a
// bounded length: a hostile file cannot put control bytes or escape sequences on the
// terminal, nor stretch or cut the message. Every error is one printable line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "framework/scratch_dir.h"
#include "programs/child_process.h"
#include "rootio/file/file_writer.h"
#include "testdata.h"

namespace {

using namespace programs;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kEvilName = "evil\n\x1b[2J\r";
const std::string kEvilClass = "TH1D\x1b]0;owned\x07";

bool one_printable_line(const std::string& text)
{
    return !text.empty() && text.back() == '\n' &&
           std::all_of(text.begin(), text.end() - 1, [](char c) { return c >= 0x20 && c < 0x7f; });
}

// A file holding one object of the given class and name (an empty body: only the key is read).
void write_named_object(const fs::path& path, const std::string& class_name, const std::string& name)
{
    rootio::FileWriter file(path.string(), 0);
    file.write_object(class_name, name, "", [](rootio::ByteWriter&, int) {});
    file.close();
}

TEST(HostileNames, ControlBytesInNamesAndClassesAreEscaped)
{
    testutil::ScratchDir dir;
    write_named_object(dir.file("evil.root"), kEvilClass, kEvilName);
    const Outcome dump = run(built("treedump"), {"evil.root", kEvilName}, dir.path());
    EXPECT_EQ(dump.exit_status, 1);
    EXPECT_EQ(dump.err,
              "treedump: evil.root: tree evil\\x0a\\x1b[2J\\x0d: is a TH1D\\x1b]0;owned\\x07, not a TTree\n");

    // The skim, given an Events object of that class.
    write_named_object(dir.file("example_RunIISummer20UL18.root"), kEvilClass, "Events");
    const Outcome skim = run(built("skim"), {}, dir.path());
    EXPECT_EQ(skim.exit_status, 1);
    EXPECT_TRUE(one_printable_line(skim.err)) << skim.err;
    EXPECT_THAT(skim.err, HasSubstr("TH1D\\x1b]0;owned\\x07"));

    // A name of any length is cut, and says so.
    write_named_object(dir.file("long.root"), std::string(5000, 'C'), "long");
    const Outcome cut = run(built("treedump"), {"long.root", "long"}, dir.path());
    EXPECT_EQ(cut.exit_status, 1);
    EXPECT_TRUE(one_printable_line(cut.err)) << cut.err;
    EXPECT_THAT(cut.err, HasSubstr("...(cut, 5000 bytes)"));
    EXPECT_LT(cut.err.size(), 300u);
}

// A bent name length in the tree record's own key header makes that name swallow the bytes
// after it, compressed data included. The reader takes keys from the keys list, as ROOT
// does, and never reads that copy: the tree reads exactly as from the intact file.
TEST(HostileNames, BentNameInARecordHeaderIsNotRead)
{
    REQUIRE_TESTDATA(source, "uproot-small-flat-tree.root");
    testutil::ScratchDir dir;
    std::ifstream in(source, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.at(8834), '\x04') << "the name length of the tree's key moved";
    std::ofstream(dir.file("intact.root"), std::ios::binary) << bytes;
    bytes[8834] = '\x80';
    std::ofstream(dir.file("bent.root"), std::ios::binary) << bytes;

    const Outcome intact = run(built("treedump"), {"intact.root", "tree", "--json"}, dir.path());
    const Outcome bent = run(built("treedump"), {"bent.root", "tree", "--json"}, dir.path());
    ASSERT_EQ(intact.exit_status, 0) << intact.err;
    EXPECT_EQ(bent.exit_status, 0) << bent.err;
    EXPECT_EQ(bent.out, intact.out);
}

}  // namespace
