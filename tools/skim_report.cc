// skim-report [-o PREFIX] [INPUT...]
//
// Runs the skim's selection over the inputs (default: example_RunIISummer20UL18.root in
// the working folder) and writes what it saw: PREFIX.root with the cut-flow and the
// distributions as TH1D histograms, and PREFIX.html, a page showing the cut-flow table and
// the histograms drawn by jsroot, readable offline. PREFIX defaults to "report".
//
// The page inlines jsroot's single-file build, looked up at SKIM_JSROOT_SCRIPT if set,
// else where the build was told (scripts/setup.sh installs it there).
//
// Errors: one line on standard error naming the file (and the entry, for a read inside the
// event loop), exit status 1, and neither output left behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "report_page.h"
#include "rootio/error.h"
#include "rootio/file_writer.h"
#include "rootio/histogram_writer.h"
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
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage
                      << "Runs the selection over INPUT (default example_RunIISummer20UL18.root) and writes\n"
                         "PREFIX.root (cut-flow and distributions as TH1D) and PREFIX.html (the same, drawn\n"
                         "by jsroot, offline). PREFIX defaults to \"report\".\n";
            std::exit(0);
        }
        if (a == "-o") {
            if (i + 1 >= argc) throw std::invalid_argument("-o needs a value");
            o.prefix = argv[++i];
            if (o.prefix.empty()) throw std::invalid_argument("-o needs a non-empty prefix");
        } else if (a.size() > 1 && a[0] == '-') {
            throw std::invalid_argument("unknown option " + a);
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.inputs.empty()) o.inputs.emplace_back("example_RunIISummer20UL18.root");
    return o;
}

std::string read_text_file(const std::string& path, const std::string& what)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(what + " " + path + ": cannot be read (bash scripts/setup.sh installs it)");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string jsroot_script_path()
{
    const char* env = std::getenv("SKIM_JSROOT_SCRIPT");
    return env && *env ? env : SKIM_JSROOT_SCRIPT;
}

// Written beside the target and renamed over it, so that a failed run leaves no page that
// looks complete.
void write_file_atomically(const std::string& path, const std::string& content)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(tmp, ignored);
            throw std::runtime_error(path + ": cannot be written");
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw std::runtime_error(path + ": cannot be written");
    }
}

void write_histograms(const std::string& path, const SelectionReport& report)
{
    rootio::FileWriter file(path);
    rootio::write_histogram(file, report.cut_flow());
    for (const Distribution& d : report.distributions()) {
        rootio::write_histogram(file, d.all);
        rootio::write_histogram(file, d.selected);
    }
    file.close();
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
        std::fprintf(stderr, "skim-report: %s\n%s", e.what(), kUsage);
        return 1;
    }
    const std::string root_path = options.prefix + ".root";
    const std::string html_path = options.prefix + ".html";
    bool wrote_root = false;
    try {
        // Everything the run needs is checked before the event loop.
        const std::string jsroot = read_text_file(jsroot_script_path(), "jsroot script");
        std::vector<std::unique_ptr<TFile>> files;
        for (const std::string& input : options.inputs) {
            files.push_back(std::make_unique<TFile>(input.c_str()));
            files.back()->Get("Events");
        }

        SelectionReport report;
        for (size_t i = 0; i < files.size(); ++i) {
            auto* tree = static_cast<TTree*>(files[i]->Get("Events"));
            nt.Init(tree);
            current_file_name = options.inputs[i];
            const auto entries = static_cast<unsigned int>(tree->GetEntriesFast());
            for (unsigned int event = 0; event < entries; ++event) {
                current_entry = event;
                nt.GetEntry(event);
                report.add_current_event();
            }
            current_entry = -1;
            files[i].reset();
        }

        write_histograms(root_path, report);
        wrote_root = true;
        const std::string root_bytes = read_text_file(root_path, "report file");
        const std::span<const uint8_t> root_span(reinterpret_cast<const uint8_t*>(root_bytes.data()),
                                                 root_bytes.size());
        write_file_atomically(html_path,
                              render_report_page({options.inputs, report,
                                                  std::filesystem::path(root_path).filename().string(), root_span,
                                                  jsroot}));
        const auto counts = report.events_after_stage();
        std::printf("skim-report: %lld events, %lld selected; wrote %s and %s\n",
                    static_cast<long long>(counts.front()), static_cast<long long>(counts.back()),
                    root_path.c_str(), html_path.c_str());
        return 0;
    } catch (const std::out_of_range& e) {
        std::fprintf(stderr, "skim-report: %s: entry %lld: %s\n", current_file_name.c_str(), current_entry,
                     e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skim-report: %s\n", e.what());
    }
    // Histograms without their page are half a report.
    std::error_code ignored;
    if (wrote_root) std::filesystem::remove(root_path, ignored);
    return 1;
}
