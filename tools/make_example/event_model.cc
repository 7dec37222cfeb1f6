#include "event_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace make_example {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kWLikeFraction = 0.30;
constexpr float kElectronMass = 0.000511f;
constexpr float kMuonMass = 0.10566f;
constexpr float kGenWeight = 72.91f;

double wrap_phi(double phi)
{
    while (phi >= kPi) phi -= 2 * kPi;
    while (phi < -kPi) phi += 2 * kPi;
    return phi;
}

// Central Gaussian cut at the detector's acceptance.
double central_eta(Random& rng, double sigma, double limit)
{
    for (;;) {
        const double eta = rng.normal(0, sigma);
        if (std::abs(eta) < limit) return eta;
    }
}

template <class T>
void sort_by_pt(std::vector<T>& objects)
{
    std::sort(objects.begin(), objects.end(), [](const T& a, const T& b) { return a.pt > b.pt; });
}

}  // namespace

EventModel::EventModel(uint64_t seed, double boosted_fraction)
    : first_event_((seed % 1000) * 1'000'000), boosted_fraction_(boosted_fraction)
{
    // Room for the largest events plus the extras a topology may add before the cut to
    // the maximum count.
    electrons_.reserve(kMaxElectrons * 2);
    muons_.reserve(kMaxMuons * 2);
    jets_.reserve(kMaxJets * 2);
    fat_jets_.reserve(kMaxFatJets * 2);
}

void EventModel::generate(Random& rng, int64_t entry, Objects& electrons, Objects& muons, Objects& jets,
                          Objects& fat_jets)
{
    electrons_.clear();
    muons_.clear();
    jets_.clear();
    fat_jets_.clear();
    draw_pileup_and_ids(rng, entry);

    const double topology = rng.uniform();
    if (topology < boosted_fraction_) {
        draw_boosted(rng);
    } else if (topology < boosted_fraction_ + kWLikeFraction) {
        draw_w_like(rng);
    } else {
        add_jets(rng, 2 + rng.poisson(3.5), 15, 3.4);
        add_qcd_fat_jets(rng, rng.poisson(0.6));
        met_pt_ = static_cast<float>(5 + rng.exponential(22));
    }
    // Every event has pile-up jets and non-prompt leptons from heavy-flavour decays.
    add_jets(rng, rng.poisson(2.5), 15, 4.5);
    draw_background_leptons(rng);
    met_phi_ = static_cast<float>(rng.phi());
    publish(electrons, muons, jets, fat_jets);
}

void EventModel::draw_pileup_and_ids(Random& rng, int64_t entry)
{
    event_ = first_event_ + static_cast<uint64_t>(entry) + 1;
    lumi_ = static_cast<uint32_t>(event_ / 1000 + 1);
    gen_weight_ = rng.chance(0.004) ? -kGenWeight : kGenWeight;
    lhe_weight_ = gen_weight_;

    true_interactions_ = static_cast<float>(std::clamp(rng.normal(32, 12), 1.0, 98.0));
    n_pileup_ = rng.poisson(true_interactions_);
    n_vertices_ = std::max(1, static_cast<int>(std::lround(0.72 * n_pileup_ + rng.normal(0, 2.5))));
    n_good_vertices_ = std::max(1, n_vertices_ - (rng.chance(0.2) ? 1 : 0));
    const double rho = std::max(0.0, 0.5 * n_pileup_ + 1 + rng.normal(0, 1.2));
    rho_[0] = static_cast<float>(rho);
    rho_[1] = static_cast<float>(std::max(0.0, 0.92 * rho + rng.normal(0, 0.3)));
    rho_[2] = static_cast<float>(std::max(0.0, 0.6 * rho + rng.normal(0, 0.4)));
    rho_[3] = static_cast<float>(std::max(0.0, 0.35 * rho + rng.normal(0, 0.2)));
    rho_[4] = static_cast<float>(std::max(0.0, 0.12 * rho + rng.normal(0, 0.1)));
}

void EventModel::draw_background_leptons(Random& rng)
{
    // Non-prompt: soft, mostly failing identification and isolation.
    for (int n = rng.poisson(0.4); n > 0; --n) {
        const double u = rng.uniform();
        const int cut_based = u < 0.7 ? 0 : u < 0.85 ? 1 : u < 0.95 ? 2 : 3;
        add_electron(rng, static_cast<float>(5 + rng.exponential(8)),
                     static_cast<float>(central_eta(rng, 1.3, 2.5)), static_cast<float>(rng.phi()),
                     cut_based);
    }
    for (int n = rng.poisson(0.5); n > 0; --n)
        add_muon(rng, static_cast<float>(3 + rng.exponential(7)),
                 static_cast<float>(central_eta(rng, 1.3, 2.4)), static_cast<float>(rng.phi()),
                 rng.chance(0.6), static_cast<float>(rng.exponential(0.5)));
}

// A prompt lepton of the given pt: mostly tight, sometimes only passing the veto, sometimes
// lost to identification.
void EventModel::add_prompt_lepton(Random& rng, bool electron, float pt, float eta, float phi,
                                   double p_veto_only, double p_lost)
{
    const double u = rng.uniform();
    if (electron) {
        const int cut_based = u < p_lost                 ? 0
                              : u < p_lost + p_veto_only ? rng.integer(1, 2)
                                                         : rng.integer(3, 4);
        add_electron(rng, pt, eta, phi, cut_based);
    } else if (u < p_lost) {
        add_muon(rng, pt, eta, phi, false, static_cast<float>(rng.exponential(0.05)));
    } else if (u < p_lost + p_veto_only) {
        add_muon(rng, pt, eta, phi, true, static_cast<float>(rng.uniform(0.15, 0.4)));
    } else {
        add_muon(rng, pt, eta, phi, true, static_cast<float>(rng.exponential(0.03)));
    }
}

void EventModel::draw_boosted(Random& rng)
{
    // The boosted candidate: a Higgs-like fat jet with a high bb score.
    float fj_pt = static_cast<float>(280 + rng.exponential(300));
    const float fj_eta = static_cast<float>(central_eta(rng, 1.0, 2.4));
    const float fj_phi = static_cast<float>(rng.phi());
    float fj_mass = static_cast<float>(rng.normal(125, 12));
    float msoftdrop = fj_mass * static_cast<float>(rng.normal(0.95, 0.04));
    const float xbb = static_cast<float>(1 - 0.4 * std::pow(rng.uniform(), 2));
    const float qcd = (1 - xbb) * static_cast<float>(rng.uniform(0.1, 0.9));

    // The lepton recoils against it, unless the fat jet swallows it.
    const bool electron = rng.chance(0.5);
    const float lep_pt = static_cast<float>((electron ? 36 : 27) + rng.exponential(150));
    float lep_eta = static_cast<float>(central_eta(rng, 1.1, 2.3));
    float lep_phi = static_cast<float>(wrap_phi(fj_phi + kPi + rng.normal(0, 0.5)));

    const double defect = rng.uniform();
    if (defect < 0.04) {
        fj_mass = static_cast<float>(rng.uniform(20, 50));
        msoftdrop = fj_mass * static_cast<float>(rng.uniform(0.5, 0.9));
    } else if (defect < 0.07) {
        msoftdrop = static_cast<float>(rng.uniform(0, 40));
    } else if (defect < 0.10) {
        fj_pt = static_cast<float>(rng.uniform(200, 250));
    } else if (defect < 0.13) {
        lep_eta = static_cast<float>(fj_eta + rng.normal(0, 0.3));
        lep_phi = static_cast<float>(wrap_phi(fj_phi + rng.normal(0, 0.3)));
    }
    add_fat_jet(fj_pt, fj_eta, fj_phi, fj_mass, msoftdrop, xbb, qcd);
    add_prompt_lepton(rng, electron, lep_pt, lep_eta, lep_phi, 0.12, 0.04);
    if (rng.chance(0.05))
        add_prompt_lepton(rng, !electron, static_cast<float>(15 + rng.exponential(40)),
                          static_cast<float>(central_eta(rng, 1.2, 2.3)), static_cast<float>(rng.phi()), 0.3,
                          0.0);

    if (defect >= 0.13 && defect < 0.23) {
        // Too few jets: one hard jet, the others collinear with the lepton.
        add_jet(rng, static_cast<float>(30 + rng.exponential(80)),
                static_cast<float>(central_eta(rng, 1.5, 2.5)), static_cast<float>(rng.phi()));
        for (int n = rng.poisson(0.8); n > 0; --n)
            add_jet(rng, static_cast<float>(20 + rng.exponential(30)),
                    lep_eta + static_cast<float>(rng.normal(0, 0.1)),
                    static_cast<float>(wrap_phi(lep_phi + rng.normal(0, 0.1))));
    } else {
        // The two b jets inside the fat jet, then the recoil.
        for (int b = 0; b < 2; ++b)
            add_jet(rng, fj_pt * static_cast<float>(rng.uniform(0.3, 0.6)),
                    fj_eta + static_cast<float>(rng.normal(0, 0.25)),
                    static_cast<float>(wrap_phi(fj_phi + rng.normal(0, 0.25))));
        add_jets(rng, rng.poisson(1.5), 30, 3.0);
    }
    add_qcd_fat_jets(rng, rng.poisson(0.3));
    met_pt_ = static_cast<float>(30 + rng.exponential(120));
}

void EventModel::draw_w_like(Random& rng)
{
    const bool electron = rng.chance(0.5);
    add_prompt_lepton(rng, electron, static_cast<float>(25 + rng.exponential(45)),
                      static_cast<float>(central_eta(rng, 1.2, 2.4)), static_cast<float>(rng.phi()), 0.15,
                      0.05);
    add_jets(rng, rng.poisson(2.5), 20, 3.2);
    add_qcd_fat_jets(rng, rng.poisson(0.25));
    met_pt_ = static_cast<float>(20 + rng.exponential(50));
}

void EventModel::add_electron(Random& rng, float pt, float eta, float phi, int cut_based)
{
    Electron e{pt,
               eta,
               phi,
               static_cast<float>(std::abs(rng.normal(0, 0.005))),
               static_cast<float>(rng.normal(0, 0.008)),
               static_cast<float>(rng.normal(0, 0.005)),
               static_cast<float>(rng.normal(0, 0.012)),
               cut_based};
    if (rng.chance(0.03)) {  // a displaced track: fails the impact-parameter cuts
        e.dxy = static_cast<float>(rng.normal(0, 0.2));
        e.dz = static_cast<float>(rng.normal(0, 0.5));
    }
    electrons_.push_back(e);
}

void EventModel::add_muon(Random& rng, float pt, float eta, float phi, bool tight_id, float iso)
{
    muons_.push_back({pt, eta, phi, iso, static_cast<uint8_t>(tight_id)});
}

void EventModel::add_jets(Random& rng, int n, double pt_min, double index)
{
    for (; n > 0; --n)
        add_jet(rng, static_cast<float>(std::min(rng.power_law(pt_min, index), 3000.0)),
                static_cast<float>(central_eta(rng, 2.0, 4.7)), static_cast<float>(rng.phi()));
}

void EventModel::add_jet(Random& rng, float pt, float eta, float phi)
{
    jets_.push_back({pt, eta, phi, pt * static_cast<float>(rng.uniform(0.05, 0.2))});
}

void EventModel::add_qcd_fat_jets(Random& rng, int n)
{
    for (; n > 0; --n) {
        const float pt = static_cast<float>(std::min(rng.power_law(170, 5.5), 3000.0));
        const bool top_like = rng.chance(0.1);
        const float mass = top_like ? static_cast<float>(rng.normal(172, 15))
                                    : pt * static_cast<float>(rng.uniform(0.03, 0.3));
        const float msoftdrop = rng.chance(0.15) ? 0.0f : mass * static_cast<float>(rng.uniform(0.4, 0.95));
        const float xbb = static_cast<float>(std::pow(rng.uniform(), top_like ? 3 : 6));
        const float qcd = (1 - xbb) * static_cast<float>(rng.uniform(0.5, 1));
        add_fat_jet(pt, static_cast<float>(central_eta(rng, 1.2, 2.4)), static_cast<float>(rng.phi()), mass,
                    msoftdrop, xbb, qcd);
    }
}

void EventModel::add_fat_jet(float pt, float eta, float phi, float mass, float msoftdrop, float xbb,
                             float qcd)
{
    fat_jets_.push_back({pt, eta, phi, mass, msoftdrop, xbb, qcd});
}

void EventModel::publish(Objects& electrons, Objects& muons, Objects& jets, Objects& fat_jets)
{
    sort_by_pt(electrons_);
    sort_by_pt(muons_);
    sort_by_pt(jets_);
    sort_by_pt(fat_jets_);

    n_electrons_ = electrons.count = std::min<int>(static_cast<int>(electrons_.size()), kMaxElectrons);
    for (int i = 0; i < n_electrons_; ++i) {
        const Electron& e = electrons_[i];
        electrons.pt[i] = e.pt;
        electrons.eta[i] = e.eta;
        electrons.phi[i] = e.phi;
        electrons.mass[i] = kElectronMass + e.mass;
        el_delta_eta_sc_[i] = e.delta_eta_sc;
        el_dxy_[i] = e.dxy;
        el_dz_[i] = e.dz;
        el_cut_based_[i] = e.cut_based;
    }
    n_muons_ = muons.count = std::min<int>(static_cast<int>(muons_.size()), kMaxMuons);
    for (int i = 0; i < n_muons_; ++i) {
        const Muon& m = muons_[i];
        muons.pt[i] = m.pt;
        muons.eta[i] = m.eta;
        muons.phi[i] = m.phi;
        muons.mass[i] = kMuonMass;
        mu_iso_[i] = m.iso;
        mu_tight_id_[i] = m.tight_id;
    }
    jets.count = std::min<int>(static_cast<int>(jets_.size()), kMaxJets);
    for (int i = 0; i < jets.count; ++i) {
        jets.pt[i] = jets_[i].pt;
        jets.eta[i] = jets_[i].eta;
        jets.phi[i] = jets_[i].phi;
        jets.mass[i] = jets_[i].mass;
    }
    n_fat_jets_ = fat_jets.count = std::min<int>(static_cast<int>(fat_jets_.size()), kMaxFatJets);
    for (int i = 0; i < n_fat_jets_; ++i) {
        const FatJet& j = fat_jets_[i];
        fat_jets.pt[i] = j.pt;
        fat_jets.eta[i] = j.eta;
        fat_jets.phi[i] = j.phi;
        fat_jets.mass[i] = j.mass;
        fj_msoftdrop_[i] = j.msoftdrop;
        fj_xbb_[i] = j.xbb;
        fj_qcd_[i] = j.qcd;
        fj_pn_mass_[i] = j.mass * (1.0f + 0.08f * (j.xbb - 0.5f));
    }
}

ModelSource EventModel::source(std::string_view branch) const
{
    using rootio::LeafType;
    struct Entry {
        std::string_view name;
        ModelSource source;
    };
    const Entry table[] = {
        {"run", {LeafType::UInt32, &run_, nullptr}},
        {"luminosityBlock", {LeafType::UInt32, &lumi_, nullptr}},
        {"event", {LeafType::UInt64, &event_, nullptr}},
        {"genWeight", {LeafType::Float, &gen_weight_, nullptr}},
        {"Generator_weight", {LeafType::Float, &gen_weight_, nullptr}},
        {"LHEWeight_originalXWGTUP", {LeafType::Float, &lhe_weight_, nullptr}},
        {"MET_pt", {LeafType::Float, &met_pt_, nullptr}},
        {"MET_phi", {LeafType::Float, &met_phi_, nullptr}},
        {"Pileup_nTrueInt", {LeafType::Float, &true_interactions_, nullptr}},
        {"Pileup_nPU", {LeafType::Int32, &n_pileup_, nullptr}},
        {"PV_npvs", {LeafType::Int32, &n_vertices_, nullptr}},
        {"PV_npvsGood", {LeafType::Int32, &n_good_vertices_, nullptr}},
        {"fixedGridRhoFastjetAll", {LeafType::Float, &rho_[0], nullptr}},
        {"fixedGridRhoFastjetCentral", {LeafType::Float, &rho_[1], nullptr}},
        {"fixedGridRhoFastjetCentralCalo", {LeafType::Float, &rho_[2], nullptr}},
        {"fixedGridRhoFastjetCentralChargedPileUp", {LeafType::Float, &rho_[3], nullptr}},
        {"fixedGridRhoFastjetCentralNeutral", {LeafType::Float, &rho_[4], nullptr}},
        {"Electron_deltaEtaSC", {LeafType::Float, el_delta_eta_sc_, &n_electrons_}},
        {"Electron_dxy", {LeafType::Float, el_dxy_, &n_electrons_}},
        {"Electron_dz", {LeafType::Float, el_dz_, &n_electrons_}},
        {"Electron_cutBased", {LeafType::Int32, el_cut_based_, &n_electrons_}},
        {"Muon_pfRelIso04_all", {LeafType::Float, mu_iso_, &n_muons_}},
        {"Muon_tightId", {LeafType::Bool, mu_tight_id_, &n_muons_}},
        {"FatJet_msoftdrop", {LeafType::Float, fj_msoftdrop_, &n_fat_jets_}},
        {"FatJet_particleNetMD_Xbb", {LeafType::Float, fj_xbb_, &n_fat_jets_}},
        {"FatJet_particleNetMD_QCD", {LeafType::Float, fj_qcd_, &n_fat_jets_}},
        {"FatJet_particleNet_mass", {LeafType::Float, fj_pn_mass_, &n_fat_jets_}},
    };
    for (const Entry& e : table)
        if (e.name == branch) return e.source;
    throw std::invalid_argument("no event-model values for branch " + std::string(branch));
}

}  // namespace make_example
