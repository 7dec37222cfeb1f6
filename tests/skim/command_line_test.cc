// The command line: how INPUT arguments expand into the chain's files, and what the
// program does with usage it cannot run (one line, exit status 2, nothing written).
#include "command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "input_list.h"
#include "skim/run_program.h"

namespace {

using skim::CommandLine;
using skim::UsageError;
namespace fs = std::filesystem;

class InputList : public ::testing::Test {
protected:
    InputList()
    {
        for (const char* name : {"b.root", "a.root", "a10.root", "c.txt", "ab.root"}) touch(dir.file(name));
        fs::create_directory(dir.file("sub"));
        touch(dir.file("sub/x.root"));
    }
    static void touch(const std::string& path) { std::ofstream(path) << "x"; }
    std::vector<std::string> expand(std::vector<std::string> arguments) const
    {
        return skim::expand_inputs(arguments);
    }
    std::string path(const std::string& name) const { return dir.file(name); }

    testutil::ScratchDir dir;
};

TEST_F(InputList, PatternsExpandInNameOrderInTheirPlaceAmongOtherInputs)
{
    const std::string url = "root://localhost:1094//store/a*.root";
    EXPECT_EQ(expand({path("sub/x.root"), path("a*.root"), url, path("?b.root"), "missing.root"}),
              (std::vector<std::string>{path("sub/x.root"), path("a.root"), path("a10.root"), path("ab.root"),
                                        url, path("ab.root"), "missing.root"}));
}

TEST_F(InputList, PatternWithoutMatchIsAUsageError)
{
    EXPECT_THROW(expand({path("a.root"), path("z*.root")}), UsageError);
    EXPECT_THROW(expand({path("nofolder/*.root")}), UsageError);
    try {
        expand({path("*.dat")});
    } catch (const UsageError& e) {
        EXPECT_EQ(std::string(e.what()), path("*.dat") + ": matches no file");
    }
}

TEST_F(InputList, ListFilesSkipBlankAndCommentLinesAndExpandEachLine)
{
    std::ofstream(path("inputs.txt")) << "# dataset\n\n  " << path("b.root") << "  \r\n"
                                      << "\t# " << path("a.root") << "\n"
                                      << path("a1*.root") << "\n"
                                      << "@" << path("more.txt") << "\n";
    std::ofstream(path("more.txt")) << "root://h//f.root\n";
    EXPECT_EQ(
        expand({"@" + path("inputs.txt"), path("c.txt")}),
        (std::vector<std::string>{path("b.root"), path("a10.root"), "root://h//f.root", path("c.txt")}));
}

TEST_F(InputList, ListThatCannotBeReadOrNamesItselfIsAUsageError)
{
    try {
        expand({"@" + path("none.txt")});
        ADD_FAILURE() << "no error";
    } catch (const UsageError& e) {
        EXPECT_EQ(std::string(e.what()),
                  path("none.txt") + ": cannot read the input list: No such file or directory");
    }
    EXPECT_THROW(expand({"@" + path("sub")}), UsageError);
    std::ofstream(path("self.txt")) << "@" << path("self.txt") << "\n";
    EXPECT_THROW(expand({"@" + path("self.txt")}), UsageError);
}

CommandLine parse(std::vector<const char*> arguments)
{
    return skim::parse_command_line(arguments);
}

TEST(CommandLineParse, OptionsAndInputs)
{
    const CommandLine none = parse({});
    EXPECT_EQ(none.inputs, std::vector<std::string>{"example_RunIISummer20UL18.root"});
    EXPECT_EQ(none.output, "output.root");

    EXPECT_EQ(parse({"a.root", "-o", "out.root", "b.root"}).inputs,
              (std::vector<std::string>{"a.root", "b.root"}));
    EXPECT_EQ(parse({"a.root", "-o", "out.root"}).output, "out.root");
    EXPECT_EQ(parse({"-oout.root", "a.root"}).output, "out.root");
    EXPECT_EQ(parse({"--output=o.root", "a.root"}).output, "o.root");
    EXPECT_EQ(parse({"--", "-o", "-"}).inputs, (std::vector<std::string>{"-o", "-"}));
    EXPECT_TRUE(parse({"a.root", "--help"}).help);
    EXPECT_TRUE(parse({"-h", "-x"}).help);

    EXPECT_THROW(parse({"-x", "a.root"}), UsageError);
    EXPECT_THROW(parse({"a.root", "-o"}), UsageError);
    EXPECT_THROW(parse({"-o", "", "a.root"}), UsageError);
    EXPECT_THROW(parse({"-o", "x.root", "-o", "y.root", "a.root"}), UsageError);
    EXPECT_THROW(parse({"-o", "x.root"}), UsageError);
    EXPECT_THROW(parse({"-o", "root://host//out.root", "a.root"}), UsageError);
}

// The program itself: usage errors and help touch nothing in the folder.
class SkimUsage : public ::testing::Test {
protected:
    skimtest::RunResult run(const std::vector<std::string>& arguments) const
    {
        return skimtest::run_program(skimtest::skim_program(), dir.path().string(), {}, arguments);
    }
    void expect_usage_error(const std::vector<std::string>& arguments, const std::string& line) const
    {
        const skimtest::RunResult r = run(arguments);
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.err, "skim: " + line + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 0);
    }
    testutil::ScratchDir dir;
};

TEST_F(SkimUsage, BadUsageIsOneLineAndExitStatusTwo)
{
    expect_usage_error({"--frobnicate", "a.root"}, "unknown option '--frobnicate' (see skim --help)");
    expect_usage_error({"a.root", "-o"}, "option -o needs a file name");
    expect_usage_error({"-o", "out.root"}, "no input given (see skim --help)");
    expect_usage_error({"@lists/none.txt"},
                       "lists/none.txt: cannot read the input list: No such file or directory");
    expect_usage_error({"-o", "out.root", "data/*.root"}, "data/*.root: matches no file");
}

TEST_F(SkimUsage, HelpGoesToStandardOutput)
{
    const skimtest::RunResult r = run({"--help"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, skim::usage_text());
    EXPECT_EQ(r.out.rfind("Usage: skim [-o OUTPUT] INPUT...\n", 0), 0u);
}

}  // namespace
