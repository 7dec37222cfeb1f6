// skim-report [-o PREFIX] [INPUT...]
//
// Runs the skim's selection over the inputs, named as the skim takes them (paths,
// wildcard patterns, URLs, @LIST files; default: example_RunIISummer20UL18.root in the
// working folder), and writes what it saw: PREFIX.root with the cut-flow and the
// distributions as TH1D histograms, and PREFIX.html, a page showing the cut-flow table and
// the histograms drawn by jsroot, readable offline. PREFIX defaults to "report".
//
// The page inlines jsroot's single-file build, looked up at SKIM_JSROOT_SCRIPT if set,
// else where the build was told (scripts/setup.sh installs it there).
//
// Errors: a command line that cannot be run gets one line and exit status 2; any other
// error one line naming the file (and the entry, for a read inside the event loop), exit
// status 1, and no report file left from this run.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Heron.h"
#include "cli/program.h"
#include "TFile.h"
#include "TTree.h"
#include "command_line.h"
#include "input_check.h"
#include "input_list.h"
#include "report_page.h"
#include "rootio/format/error.h"
#include "rootio/file/file_writer.h"
#include "rootio/hist/histogram_writer.h"
#include "rootio/io/output_file.h"
#include "selection_report.h"

#ifndef SKIM_JSROOT_SCRIPT
#define SKIM_JSROOT_SCRIPT ""
#endif

namespace {

constexpr const char* kUsage = "usage: skim-report [-o PREFIX] [INPUT...]\n";

struct Options {
    std::string prefix = "report";
    std::vector<std::string> inputs;
};

Options parse_args(int argc, char** argv)
{
    Options o;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (cli::is_help(a))
            cli::show_help("skim-report",
                           std::string(kUsage) +
                               "Runs the skim's selection over INPUT (paths, wildcard patterns, URLs, @LIST files,\n"
                               "as skim takes them; default " + skim::kDefaultInput +
                               ") and writes PREFIX.root\n"
                               "(cut-flow and distributions as TH1D) and PREFIX.html (the same, drawn by jsroot;\n"
                               "opens offline). PREFIX defaults to \"report\".\n");
        if (a == "-o") {
            if (i + 1 >= argc) throw std::invalid_argument("-o needs a value");
            o.prefix = argv[++i];
            if (o.prefix.empty()) throw std::invalid_argument("-o needs a non-empty prefix");
        } else if (a.size() > 1 && a[0] == '-') {
            throw std::invalid_argument("unknown option " + a);
        } else {
            arguments.push_back(a);
        }
    }
    if (arguments.empty()) arguments.emplace_back(skim::kDefaultInput);
    o.inputs = skim::expand_inputs(arguments);
    return o;
}

std::string read_whole_file(const std::string& path, const std::string& what)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) throw std::runtime_error(path + ": cannot be read (" + what + ")");
    return bytes;
}

std::string jsroot_script_path()
{
    const char* env = std::getenv("SKIM_JSROOT_SCRIPT");
    return env && *env ? env : SKIM_JSROOT_SCRIPT;
}

// The page, complete under its temporary name; committed together with the histograms.
void write_page(rootio::OutputFile& out, const std::string& path, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t n = ::write(out.fd(), content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw std::runtime_error(path + ": cannot be written: " + std::strerror(n < 0 ? errno : ENOSPC));
        content.remove_prefix(static_cast<size_t>(n));
    }
    out.finish();
}

void write_histograms(rootio::FileWriter& file, const SelectionReport& report)
{
    rootio::write_histogram(file, report.cut_flow());
    for (const Distribution& d : report.distributions()) {
        rootio::write_histogram(file, d.all);
        rootio::write_histogram(file, d.selected);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string current_file_name;
    long long current_entry = -1;
    Options options;
    try {
        options = parse_args(argc, argv);
    } catch (const std::exception& e) {
        cli::usage_error("skim-report", e.what(), kUsage);
    }
    const std::string root_path = options.prefix + ".root";
    const std::string html_path = options.prefix + ".html";
    try {
        // Everything the run needs is checked before the event loop: each input holds the
        // tree with every branch the selection's reader needs, and the page's script is there.
        for (const std::string& input : options.inputs) {
            TFile file(input.c_str());
            auto* tree = static_cast<TTree*>(file.Get("Events"));
            skim::check_reader_branches(input, *tree->GetListOfBranches());
        }
        const std::string jsroot_path = jsroot_script_path();
        if (!std::filesystem::is_regular_file(jsroot_path))
            throw std::runtime_error(jsroot_path +
                                     ": no jsroot script there (bash scripts/setup.sh installs it)");
        const std::string jsroot = read_whole_file(jsroot_path, "jsroot script");

        SelectionReport report;
        for (const std::string& input : options.inputs) {
            TFile file(input.c_str());
            auto* tree = static_cast<TTree*>(file.Get("Events"));
            nt.Init(tree);
            current_file_name = input;
            const auto entries = static_cast<unsigned int>(tree->GetEntriesFast());
            for (unsigned int event = 0; event < entries; ++event) {
                current_entry = event;
                nt.GetEntry(event);
                report.add_current_event();
            }
            current_entry = -1;
            nt.Init(nullptr);
        }

        // Both files are written under temporary names and moved into place as one: a run
        // that fails or is ended by a signal changes neither.
        rootio::FileWriter histograms(root_path);
        write_histograms(histograms, report);
        rootio::OutputFile& root_out = histograms.close_uncommitted();
        const std::string root_bytes = read_whole_file(root_out.temp_path(), "the report just written");
        const std::span<const uint8_t> root_span(reinterpret_cast<const uint8_t*>(root_bytes.data()),
                                                 root_bytes.size());
        rootio::OutputFile page(html_path);
        write_page(page, html_path,
                   render_report_page({options.inputs, report, std::filesystem::path(root_path).filename().string(),
                                       root_span, jsroot}));
        rootio::OutputFile* const both[] = {&root_out, &page};
        rootio::commit_together(both);
        const auto counts = report.events_after_stage();
        std::printf("skim-report: %lld events, %lld selected; wrote %s and %s\n",
                    static_cast<long long>(counts.front()), static_cast<long long>(counts.back()),
                    root_path.c_str(), html_path.c_str());
        return cli::standard_output_status("skim-report");
    } catch (const std::out_of_range& e) {
        cli::print_error("skim-report",
                         current_file_name + ": entry " + std::to_string(current_entry) + ": " + e.what());
    } catch (const std::exception& e) {
        cli::print_error("skim-report", e.what());
    }
    return 1;
}
