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

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class InputList : public ::testing::Test {
protected:
    InputList()
    {
        for (const char* name : {"b.root", "a.root", "a10.root", "ab.root", "sub/x.root"}) {
            fs::create_directories(fs::path(path(name)).parent_path());
            std::ofstream(path(name)) << "x";
        }
    }
    Names expand(const Names& arguments) const { return skim::expand_inputs(arguments); }
    std::string path(const std::string& name) const { return dir.file(name); }

    testutil::ScratchDir dir;
};

TEST_F(InputList, PatternsExpandInNameOrderInTheirPlaceAmongOtherInputs)
{
    const std::string url = "root://localhost:1094//store/a*.root";
    EXPECT_EQ(expand({path("sub/x.root"), path("a*.root"), url, path("?b.root"), "missing.root"}),
              (Names{path("sub/x.root"), path("a.root"), path("a10.root"), path("ab.root"), url,
                     path("ab.root"), "missing.root"}));
}

TEST_F(InputList, ListFilesSkipBlankAndCommentLinesAndExpandEachLine)
{
    std::ofstream(path("inputs.txt")) << "# dataset\n\n  " << path("b.root") << "  \r\n"
                                      << "\t# " << path("a.root") << "\n"
                                      << path("a1*.root") << "\n"
                                      << "@" << path("more.txt") << "\n";
    std::ofstream(path("more.txt")) << "root://h//f.root\n";
    EXPECT_EQ(expand({"@" + path("inputs.txt"), path("b.root")}),
              (Names{path("b.root"), path("a10.root"), "root://h//f.root", path("b.root")}));
}

TEST(CommandLineParse, OptionsMayComeAnywhereAndDashDashEndsThem)
{
    const skim::CommandLine none = skim::parse_command_line({});
    EXPECT_EQ(none.inputs, Names{"example_RunIISummer20UL18.root"});
    EXPECT_EQ(none.output, "output.root");
    std::vector<const char*> args = {"a.root", "-o", "out.root", "--", "-o", "-"};
    const skim::CommandLine line = skim::parse_command_line(args);
    EXPECT_EQ(line.inputs, (Names{"a.root", "-o", "-"}));
    EXPECT_EQ(line.output, "out.root");
    args = {"--output=o.root", "a.root"};
    EXPECT_EQ(skim::parse_command_line(args).output, "o.root");
}

// The program itself: usage errors and help touch nothing in the folder.
class SkimUsage : public ::testing::Test {
protected:
    skimtest::RunResult run(const Names& arguments) const
    {
        return skimtest::run_program(skimtest::skim_program(), dir.path().string(), {}, arguments);
    }
    void expect_usage_error(const Names& arguments, const std::string& line) const
    {
        const skimtest::RunResult r = run(arguments);
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.err, "skim: " + line + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
            << "only self.txt";
    }
    testutil::ScratchDir dir;
};

TEST_F(SkimUsage, BadUsageIsOneLineAndExitStatusTwo)
{
    std::ofstream(dir.file("self.txt")) << "@self.txt\n";
    expect_usage_error({"--frobnicate", "a.root"}, "unknown option '--frobnicate' (see skim --help)");
    expect_usage_error({"a.root", "-o"}, "option -o needs a file name");
    expect_usage_error({"-o", "x.root", "-o", "y.root", "a.root"}, "option -o given twice");
    expect_usage_error({"-o", "root://h//x.root", "a.root"},
                       "the output must be a local file: root://h//x.root");
    expect_usage_error({"--format", "csv", "a.root"}, "option --format takes ttree or rntuple, not 'csv'");
    expect_usage_error({"--format=ttree", "--format", "rntuple", "a.root"}, "option --format given twice");
    expect_usage_error({"-o", "out.root"}, "no input given (see skim --help)");
    expect_usage_error({"@lists/none.txt"},
                       "lists/none.txt: cannot read the input list: No such file or directory");
    expect_usage_error({"@self.txt"}, "self.txt: input lists nested more than 8 deep");
    expect_usage_error({"-o", "out.root", "data/*.root"}, "data/*.root: matches no file");
}

TEST_F(SkimUsage, HelpGoesToStandardOutput)
{
    std::ofstream(dir.file("self.txt")) << "";
    const skimtest::RunResult r = run({"a.root", "--help"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, skim::usage_text());
    EXPECT_EQ(r.out.rfind("Usage: skim [-o OUTPUT] INPUT...\n", 0), 0u);
}

}  // namespace
