// The report's cut-flow and distributions, on hand-made events that stop at each stage, its
// last count against the skim program's own selection, and its files on an RNTuple input
// against those of the tree it was converted from.
#include "selection_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "report_page.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"
#include "tree_to_ntuple.h"

namespace {

using namespace skimtest;

// One event per way out of the selection, in stage order, then two that pass.
std::vector<Event> one_event_per_stage()
{
    std::vector<Event> events(7);
    for (uint64_t i = 0; i < events.size(); ++i) events[i] = passing_event(i);
    events[0].electrons.clear();     // no lepton
    events[1].electrons[0].pt = 30;  // a veto lepton that is not tight
    events[2].jets.pop_back();       // one clean jet
    events[3].fatjets[0].mass = 40;  // no qualifying fat jet
    events[4].met_pt = 100;          // S_T = 50 + 500 + 100
    events[6].fatjets[0].msoftdrop = 95;
    events[6].fatjets[0].pt = 600;
    return events;
}

SelectionReport report_over(const std::string& path, std::vector<SelectionStep>* steps = nullptr)
{
    TFile file(path.c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    nt.Init(tree);
    SelectionReport report;
    for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
        nt.GetEntry(event);
        const SelectionStep step = report.add_current_event();
        if (steps) steps->push_back(step);
    }
    nt.Init(nullptr);
    return report;
}

const Distribution& distribution(const SelectionReport& report, const std::string& name)
{
    for (const Distribution& d : report.distributions())
        if (d.all.name() == name + "_all") return d;
    throw std::runtime_error("no distribution " + name);
}

double content_at(const rootio::Histogram1D& h, double x)
{
    return h.contents()[static_cast<size_t>(h.find_bin(x))];
}

TEST(SelectionReport, EachEventStopsAtItsStageAndTheCutFlowCountsWhoIsStillIn)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file("stages.root"), one_event_per_stage());
    std::vector<SelectionStep> steps;
    const SelectionReport report = report_over(dir.file("stages.root"), &steps);

    using S = SelectionStep;
    EXPECT_EQ(steps, (std::vector<S>{S::OneVetoLepton, S::OneTightLepton, S::TwoCleanJets, S::FatJetCandidate,
                                     S::ScalarSum, S::Passed, S::Passed}));
    const std::vector<int64_t> after(report.events_after_stage().begin(), report.events_after_stage().end());
    EXPECT_EQ(after, (std::vector<int64_t>{7, 6, 5, 4, 3, 2}));

    // The labelled histogram holds the same counts, one bin per stage.
    const rootio::Histogram1D& flow = report.cut_flow();
    ASSERT_EQ(flow.nbins(), 6);
    ASSERT_EQ(flow.bin_labels.size(), 6u);
    for (size_t stage = 0; stage < after.size(); ++stage)
        EXPECT_EQ(flow.contents()[stage + 1], static_cast<double>(after[stage])) << flow.bin_labels[stage];
    EXPECT_EQ(flow.bin_labels.back(), "S_{T} #geq 800 GeV");
}

TEST(SelectionReport, AllEventsHistogramsTakeTheEventsThatHaveTheQuantity)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file("stages.root"), one_event_per_stage());
    const SelectionReport report = report_over(dir.file("stages.root"));

    // Missing pt exists for every event; the lepton once the lepton stage passed; the
    // candidate once a fat jet qualified; the sum only where it was computed.
    EXPECT_EQ(distribution(report, "met_pt").all.entries(), 7);
    EXPECT_EQ(distribution(report, "lep_pt").all.entries(), 5);
    EXPECT_EQ(distribution(report, "n_clean_jets").all.entries(), 5);
    EXPECT_EQ(distribution(report, "fatjet_pt").all.entries(), 3);
    EXPECT_EQ(distribution(report, "st").all.entries(), 3);
    for (const Distribution& d : report.distributions()) EXPECT_EQ(d.selected.entries(), 2) << d.all.name();

    // Values as measured: the candidate's soft-drop mass from its own index, the sum in
    // single precision, the jet count of the event that had one clean jet.
    const Distribution& msd = distribution(report, "fatjet_msoftdrop");
    EXPECT_EQ(content_at(msd.selected, 110), 1);
    EXPECT_EQ(content_at(msd.selected, 95), 1);
    EXPECT_EQ(content_at(distribution(report, "st").all, 650), 1);
    EXPECT_EQ(content_at(distribution(report, "st").selected, 950), 1);
    EXPECT_EQ(content_at(distribution(report, "st").selected, 1050), 1);
    EXPECT_EQ(content_at(distribution(report, "n_clean_jets").all, 1), 1);
    // The score of Xbb 0.9 and QCD 0.1, widened from single precision, lies just below 0.9.
    const double score = double{0.9f} / (double{0.9f} + double{0.1f});
    EXPECT_LT(score, 0.9);
    EXPECT_EQ(content_at(distribution(report, "fatjet_xbb").selected, score), 2);
    EXPECT_EQ(content_at(distribution(report, "fatjet_xbb").selected, 0.9), 0);
    EXPECT_NE(distribution(report, "lep_pt").all.x_title.find("one tight lepton"), std::string::npos);
    EXPECT_EQ(distribution(report, "met_pt").all.x_title, "missing p_{T} [GeV]");
}

TEST(SelectionReport, ACandidateWithoutAScoreCountsInTheSumButHasNoCandidateValues)
{
    testutil::ScratchDir dir;
    Event e = passing_event(1);
    e.fatjets[0].xbb = 0;  // score 0/0: qualifies, never becomes the candidate
    e.fatjets[0].qcd = 0;
    e.met_pt = 760;  // S_T = 50 + 0 + 760
    write_event_file(dir.file("noscore.root"), {e});
    const SelectionReport report = report_over(dir.file("noscore.root"));

    EXPECT_EQ(report.events_after_stage().back(), 1);
    EXPECT_EQ(distribution(report, "fatjet_pt").all.entries(), 0);
    EXPECT_EQ(content_at(distribution(report, "st").selected, 810), 1);
}

TEST(SelectionReport, LastStageCountsTheEventsTheSkimSelects)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file("example_RunIISummer20UL18.root"), EventGenerator(23).events(3000));
    const RunResult run = run_program(skim_program(), dir.path().string());
    ASSERT_EQ(run.exit_status, 0) << run.err;

    TFile output(dir.file("output.root").c_str());
    const auto selected = static_cast<TTree*>(output.Get("Events"))->GetEntries();
    const SelectionReport report = report_over(dir.file("example_RunIISummer20UL18.root"));
    EXPECT_GT(selected, 0);
    EXPECT_EQ(report.events_after_stage().back(), selected);
    EXPECT_EQ(report.events_after_stage().front(), 3000);
}

TEST(SkimReport, AnUnreadableInputIsOneLineAndLeavesNoReport)
{
    testutil::ScratchDir dir;
    {
        std::ofstream truncated(dir.file("example_RunIISummer20UL18.root"), std::ios::binary);
        truncated << "root";
    }
    const RunResult run = run_program(std::string(SKIM_BUILD_DIR) + "/skim-report", dir.path().string());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("example_RunIISummer20UL18.root"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("report.root")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("report.html")));
}

TEST(SkimReport, AnRNTupleInputGivesTheReportOfTheTreeItWasConvertedFrom)
{
    testutil::ScratchDir dir;
    for (const char* folder : {"tree", "rntuple"}) std::filesystem::create_directory(dir.file(folder));
    write_event_file(dir.file("tree/events.root"), EventGenerator(23).events(3000));
    convert::tree_to_ntuple(dir.file("tree/events.root"), dir.file("rntuple/events.root"), "Events");
    auto report_in = [&](const std::string& folder) {
        const RunResult run = run_program(std::string(SKIM_BUILD_DIR) + "/skim-report", dir.file(folder),
                                          [] { ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1); }, {"events.root"});
        EXPECT_EQ(run.exit_status, 0) << run.err;
        std::string files = run.out;
        for (const char* name : {"/report.root", "/report.html"}) {
            std::ifstream in(dir.file(folder) + name, std::ios::binary);
            files += std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    };
    const std::string tree = report_in("tree");
    EXPECT_GT(tree.size(), 10000u);
    // The same counts, histograms and page, byte for byte.
    EXPECT_TRUE(report_in("rntuple") == tree) << "the RNTuple's report differs from the tree's";
}

TEST(ReportPage, TableHoldsCountsAndBothFractionsAndTheFileIsInlineIntact)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file("stages.root"), one_event_per_stage());
    const SelectionReport report = report_over(dir.file("stages.root"));
    const std::vector<std::string> inputs{"a<b>.root"};
    const std::vector<uint8_t> file_bytes{0, 1, 2, 250, 251, 252, 253};
    const std::string html = render_report_page({inputs, report, "r.root", file_bytes, "var JSROOT = {};"});

    // 3 of the 4 events at the candidate stage pass the sum: 2 of 3 is 66.67 %, of all 28.57 %.
    EXPECT_NE(
        html.find("<tr><td>S<sub>T</sub> &ge; 800 GeV</td><td>2</td><td>66.67 %</td><td>28.57 %</td></tr>"),
        std::string::npos);
    EXPECT_NE(html.find("a&lt;b&gt;.root"), std::string::npos);
    EXPECT_NE(html.find("'" + base64(file_bytes) + "'"), std::string::npos);
    EXPECT_THROW(render_report_page({inputs, report, "r.root", file_bytes, "x = '</SCRIPT>';"}),
                 std::runtime_error);

    EXPECT_EQ(base64(std::vector<uint8_t>{}), "");
    EXPECT_EQ(base64(std::vector<uint8_t>{'f'}), "Zg==");
    EXPECT_EQ(base64(std::vector<uint8_t>{'f', 'o'}), "Zm8=");
    EXPECT_EQ(base64(std::vector<uint8_t>{'f', 'o', 'o', 'b'}), "Zm9vYg==");
    EXPECT_EQ(base64(file_bytes), "AAEC+vv8/Q==");
}

}  // namespace
