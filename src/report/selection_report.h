#pragma once
// The selection seen from outside: runs it on the current entry of the reader `nt`, exactly
// as the skim does, counts per requirement the events still in (the cut-flow), and fills
// the distributions of the quantities it measures, for all events that have them and for
// the selected ones. Everything is sized at construction: adding an event allocates
// nothing once the lepton lists have grown to the largest event.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Heron.h"
#include "rootio/hist/histogram.h"
#include "selection.h"

// One quantity, for all events that have it and for the selected ones.
struct Distribution {
    rootio::Histogram1D all;
    rootio::Histogram1D selected;
    bool log_scale;  // spectra spanning decades read better on a logarithmic axis
};

// The cut-flow's stages: all events, then one per requirement passed.
inline constexpr size_t kCutFlowStages = static_cast<size_t>(SelectionStep::Passed) + 1;

class SelectionReport {
public:
    SelectionReport();

    // Runs the selection on the current entry of `nt` and records it. Errors of the
    // selection's reads propagate, as in the skim.
    SelectionStep add_current_event();

    // Events still in after each stage; the first counts every event, the last the selected.
    std::span<const int64_t> events_after_stage() const { return events_after_stage_; }
    static std::span<const std::string> stage_names();
    // The cut-flow as a labelled histogram, one bin per stage.
    const rootio::Histogram1D& cut_flow() const { return cut_flow_; }
    std::span<const Distribution> distributions() const { return distributions_; }

private:
    std::vector<LorentzVector> veto_lep_p4s_;
    std::vector<LorentzVector> tight_lep_p4s_;
    std::array<int64_t, kCutFlowStages> events_after_stage_{};
    rootio::Histogram1D cut_flow_;
    std::vector<Distribution> distributions_;
};
