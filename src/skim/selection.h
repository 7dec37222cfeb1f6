#pragma once
// The per-event decision, read from the current entry of the reader `nt`. Each comparison
// is made in the precision the analysis fixes: single-precision values against whole-number
// thresholds (and 2.5) in single precision, against decimal thresholds widened to double.
// A value that is not a number never satisfies a comparison.
//
// Each stage reports the requirement the event stopped at and what it measured on the way,
// so that a cut-flow counts with the very code the skim decides with.
#include <vector>

#include "Heron.h"

// Event thresholds that a report names as well as tests.
inline constexpr int kMinCleanJets = 2;
inline constexpr double kMinScalarSum = 800;

// The event requirements in the order they are tested; `Passed` when none failed.
enum class SelectionStep : int {
    OneVetoLepton,
    OneTightLepton,
    TwoCleanJets,
    FatJetCandidate,
    ScalarSum,
    Passed,
};

// Lepton stage: refills the veto and tight lists from the electrons and muons (storage
// reused); when each holds exactly one lepton, that one becomes `lep_p4`. Returns the
// requirement that failed, or `Passed`.
SelectionStep lepton_selection_step(std::vector<LorentzVector>& veto_lep_p4s,
                                    std::vector<LorentzVector>& tight_lep_p4s, LorentzVector& lep_p4);

// What the jet stage measured, as far as it got: the fat-jet fields are set only when the
// jet count passed, `ST` only when a fat jet qualified.
struct JetSelection {
    int n_jets = 0;
    int n_fatjets = 0;
    double hbbjet_score = -999.0;
    LorentzVector hbbjet_p4;
    int hbbjet_index = -1;  // the candidate's fat-jet index; -1 while none has a score above -999
    double ST = 0;
};

// Jet stage, against the one tight lepton: two clean jets, a fat-jet candidate with the
// best Xbb score, and lepton pt + candidate pt + missing pt of at least 800. Fills
// `measured` and returns the requirement that failed, or `Passed`.
SelectionStep jet_selection_step(const LorentzVector& lep_p4, JetSelection& measured);

inline bool passes_lepton_selection(std::vector<LorentzVector>& veto_lep_p4s,
                                    std::vector<LorentzVector>& tight_lep_p4s, LorentzVector& lep_p4)
{
    return lepton_selection_step(veto_lep_p4s, tight_lep_p4s, lep_p4) == SelectionStep::Passed;
}

inline bool passes_jet_selection(const LorentzVector& lep_p4)
{
    JetSelection measured;
    return jet_selection_step(lep_p4, measured) == SelectionStep::Passed;
}
