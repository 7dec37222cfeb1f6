#include "selection_report.h"

#include <string>
#include <utility>

namespace {

// Indices into the distributions, in the order they are shown.
enum Quantity : size_t {
    LeptonPt,
    CleanJets,
    CandidatePt,
    CandidateMass,
    CandidateSoftDropMass,
    CandidateXbb,
    MissingPt,
    ScalarSum,
    kQuantities
};

struct QuantityAxis {
    const char* name;
    const char* title;
    const char* x_title;         // without the population, which is added for the "all" histogram
    const char* all_population;  // null when every event has the quantity
    int nbins;
    double xmin, xmax;
    bool log_scale;
};

// The population of "all" is where the quantity exists: the lepton and the clean-jet count
// after the lepton stage, the candidate and the scalar sum where the jet stage got to them.
constexpr const char* kWithLepton = "events with one tight lepton";
constexpr const char* kWithCandidate = "events with a candidate";
constexpr const char* kWithSum = "events reaching the S_{T} requirement";

const std::array<QuantityAxis, kQuantities>& quantity_axes()
{
    static const std::array<QuantityAxis, kQuantities> axes{{
        {"lep_pt", "Lepton p_{T}", "lepton p_{T} [GeV]", kWithLepton, 50, 0, 1000, true},
        {"n_clean_jets", "Clean jets", "number of clean jets", kWithLepton, 16, -0.5, 15.5, true},
        {"fatjet_pt", "Candidate fat-jet p_{T}", "candidate fat-jet p_{T} [GeV]", kWithCandidate, 50, 0, 2000,
         true},
        {"fatjet_mass", "Candidate fat-jet mass", "candidate fat-jet mass [GeV]", kWithCandidate, 40, 0, 400,
         false},
        {"fatjet_msoftdrop", "Candidate fat-jet soft-drop mass", "candidate fat-jet soft-drop mass [GeV]",
         kWithCandidate, 40, 0, 400, false},
        {"fatjet_xbb", "Candidate fat-jet Xbb score", "candidate Xbb score Xbb/(Xbb+QCD)", kWithCandidate, 50,
         0, 1, true},
        {"met_pt", "Missing p_{T}", "missing p_{T} [GeV]", nullptr, 50, 0, 1500, true},
        {"st", "S_{T} = lepton p_{T} + candidate p_{T} + missing p_{T}", "S_{T} [GeV]", kWithSum, 60, 0, 3000,
         true},
    }};
    return axes;
}

// ROOT's blue for all events, a filled light grey under it; red for the selected ones.
constexpr rootio::HistogramStyle kAllStyle{602, 1, 18, 1001};
constexpr rootio::HistogramStyle kSelectedStyle{2, 2, 0, 0};

Distribution make_distribution(const QuantityAxis& q)
{
    Distribution d{rootio::Histogram1D(std::string(q.name) + "_all", std::string(q.title) + ": all events",
                                       q.nbins, q.xmin, q.xmax),
                   rootio::Histogram1D(std::string(q.name) + "_selected", std::string(q.title) + ": selected",
                                       q.nbins, q.xmin, q.xmax),
                   q.log_scale};
    d.all.x_title =
        q.all_population ? std::string(q.x_title) + " (all: only " + q.all_population + ")" : q.x_title;
    d.selected.x_title = q.x_title;
    d.all.y_title = d.selected.y_title = "events";
    d.all.style = kAllStyle;
    d.selected.style = kSelectedStyle;
    return d;
}

rootio::Histogram1D make_cut_flow()
{
    rootio::Histogram1D h("cutflow", "Cut-flow", static_cast<int>(kCutFlowStages), 0,
                          static_cast<double>(kCutFlowStages));
    h.x_title = "stage";
    h.y_title = "events still in";
    h.style = kAllStyle;
    const auto names = SelectionReport::stage_names();
    h.bin_labels.assign(names.begin(), names.end());
    return h;
}

}  // namespace

std::span<const std::string> SelectionReport::stage_names()
{
    static const std::array<std::string, kCutFlowStages> names{
        "all events",        "one veto lepton",
        "one tight lepton",  std::to_string(kMinCleanJets) + "+ clean jets",
        "fat-jet candidate", "S_{T} #geq " + std::to_string(static_cast<int>(kMinScalarSum)) + " GeV",
    };
    return names;
}

SelectionReport::SelectionReport() : cut_flow_(make_cut_flow())
{
    distributions_.reserve(kQuantities);
    for (const QuantityAxis& q : quantity_axes()) distributions_.push_back(make_distribution(q));
}

SelectionStep SelectionReport::add_current_event()
{
    // MET_pt is read for every event here (the selection reads it only for events that
    // reach the sum): the missing-pt distribution of all events needs it.
    const double met_pt = nt.MET_pt();
    LorentzVector lep_p4;
    JetSelection jets;
    SelectionStep step = lepton_selection_step(veto_lep_p4s_, tight_lep_p4s_, lep_p4);
    if (step == SelectionStep::Passed) step = jet_selection_step(lep_p4, jets);

    const auto stages_passed = static_cast<size_t>(step) + 1;
    for (size_t stage = 0; stage < stages_passed; ++stage) {
        ++events_after_stage_[stage];
        cut_flow_.fill(static_cast<double>(stage) + 0.5);
    }

    const bool selected = step == SelectionStep::Passed;
    auto fill = [&](Quantity q, double x) {
        distributions_[q].all.fill(x);
        if (selected) distributions_[q].selected.fill(x);
    };
    fill(MissingPt, met_pt);
    if (step <= SelectionStep::OneTightLepton) return step;
    fill(LeptonPt, lep_p4.pt());
    fill(CleanJets, jets.n_jets);
    if (step <= SelectionStep::FatJetCandidate) return step;
    if (jets.hbbjet_index >= 0) {
        fill(CandidatePt, jets.hbbjet_p4.pt());
        fill(CandidateMass, jets.hbbjet_p4.mass());
        fill(CandidateSoftDropMass, nt.FatJet_msoftdrop().at(static_cast<size_t>(jets.hbbjet_index)));
        fill(CandidateXbb, jets.hbbjet_score);
    }
    fill(ScalarSum, jets.ST);
    return step;
}
