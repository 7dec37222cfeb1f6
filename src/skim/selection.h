#pragma once
// The per-event decision, read from the current entry of the reader `nt`. Each comparison
// is made in the precision the analysis fixes: single-precision values against whole-number
// thresholds (and 2.5) in single precision, against decimal thresholds widened to double.
// A value that is not a number never satisfies a comparison.
#include <vector>

#include "Heron.h"

// Lepton stage: refills the veto and tight lists from the electrons and muons (storage
// reused) and passes when each holds exactly one lepton, which becomes `lep_p4`.
bool passes_lepton_selection(std::vector<LorentzVector>& veto_lep_p4s, std::vector<LorentzVector>& tight_lep_p4s,
                             LorentzVector& lep_p4);

// Jet stage, against the one tight lepton: two clean jets, a fat-jet candidate with the
// best Xbb score, and lepton pt + candidate pt + missing pt of at least 800.
bool passes_jet_selection(const LorentzVector& lep_p4);
