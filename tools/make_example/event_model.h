#pragma once
// The physics of an event where it matters: electrons, muons, jets and fat jets with the
// quantities the skim's selection reads, MET, pile-up, weights and event ids. Most events
// are multijet or W-like; a fraction has a boosted topology (one isolated lepton, jets, a
// heavy fat jet with a high bb score), with defects drawn so that every stage of the
// selection rejects some of them.
#include <cstdint>
#include <string_view>
#include <vector>

#include "objects.h"
#include "random.h"
#include "rootio/format/leaf_type.h"

namespace make_example {

// Where a Model field's values are: `count` elements (1 for a per-event field) of `type`.
struct ModelSource {
    rootio::LeafType type;
    const void* data;
    const int* count;  // nullptr: one value
};

class EventModel {
public:
    // A tenth of the events are boosted, and about 31 % of those pass the skim's selection.
    static constexpr double kDefaultBoostedFraction = 0.10;
    static constexpr double kPassingPerBoosted = 0.31;

    // `seed` places the run's event numbers; the same seed gives the same ids.
    // `boosted_fraction` of the events are drawn with the boosted topology.
    explicit EventModel(uint64_t seed, double boosted_fraction = kDefaultBoostedFraction);

    // Draws the next event: fills the model's values and the kinematics of Electron,
    // Muon, Jet and FatJet.
    void generate(Random& rng, int64_t entry, Objects& electrons, Objects& muons, Objects& jets,
                  Objects& fat_jets);

    // The values behind a Model branch; throws std::invalid_argument for an unknown name.
    ModelSource source(std::string_view branch) const;

    float met_pt() const { return met_pt_; }

    static constexpr int kMaxElectrons = 16;
    static constexpr int kMaxMuons = 16;
    static constexpr int kMaxJets = 40;
    static constexpr int kMaxFatJets = 8;

private:
    struct Electron {
        float pt, eta, phi, mass, delta_eta_sc, dxy, dz;
        int32_t cut_based;
    };
    struct Muon {
        float pt, eta, phi, iso;
        uint8_t tight_id;
    };
    struct Jet {
        float pt, eta, phi, mass;
    };
    struct FatJet {
        float pt, eta, phi, mass, msoftdrop, xbb, qcd;
    };
    void draw_pileup_and_ids(Random& rng, int64_t entry);
    void draw_background_leptons(Random& rng);
    void draw_boosted(Random& rng);
    void draw_w_like(Random& rng);
    void add_prompt_lepton(Random& rng, bool electron, float pt, float eta, float phi, double p_veto_only,
                           double p_lost);
    void add_electron(Random& rng, float pt, float eta, float phi, int cut_based);
    void add_muon(Random& rng, float pt, float eta, float phi, bool tight_id, float iso);
    void add_jets(Random& rng, int n, double pt_min, double index);
    void add_jet(Random& rng, float pt, float eta, float phi);
    void add_qcd_fat_jets(Random& rng, int n);
    void add_fat_jet(float pt, float eta, float phi, float mass, float msoftdrop, float xbb, float qcd);
    void publish(Objects& electrons, Objects& muons, Objects& jets, Objects& fat_jets);

    uint64_t first_event_;
    double boosted_fraction_;
    // Objects of the event under construction (capacity reserved once).
    std::vector<Electron> electrons_;
    std::vector<Muon> muons_;
    std::vector<Jet> jets_;
    std::vector<FatJet> fat_jets_;

    // Published columns, in pt order.
    int n_electrons_ = 0, n_muons_ = 0, n_fat_jets_ = 0;
    float el_delta_eta_sc_[kMaxElectrons], el_dxy_[kMaxElectrons], el_dz_[kMaxElectrons];
    int32_t el_cut_based_[kMaxElectrons];
    float mu_iso_[kMaxMuons];
    uint8_t mu_tight_id_[kMaxMuons];
    float fj_msoftdrop_[kMaxFatJets], fj_xbb_[kMaxFatJets], fj_qcd_[kMaxFatJets], fj_pn_mass_[kMaxFatJets];

    uint32_t run_ = 1, lumi_ = 1;
    uint64_t event_ = 0;
    float gen_weight_ = 0, lhe_weight_ = 0;
    float met_pt_ = 0, met_phi_ = 0;
    float true_interactions_ = 0;
    int32_t n_pileup_ = 0, n_vertices_ = 0, n_good_vertices_ = 0;
    float rho_[5] = {};
};

}  // namespace make_example
