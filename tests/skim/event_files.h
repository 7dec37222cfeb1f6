#pragma once
// Small input files in the shape the skim reads, one crafted event per case, written with
// the engine's TreeWriter. Besides the branches the selection reads, they carry branches
// the keep list keeps, keeps only through the count-branch rule, and drops.
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"

namespace skimtest {

struct Electron {
    float pt = 50, eta = 0.5f, phi = 0, mass = 0.000511f;
    float deltaEtaSC = 0, dz = 0.01f, dxy = 0.01f;
    int cutBased = 4;
};
struct Muon {
    float pt = 30, eta = 1.0f, phi = 0, mass = 0.105f;
    float pfRelIso04_all = 0.1f;
    bool tightId = true;
};
struct Jet {
    float pt = 50, eta = 0, phi = 0, mass = 10;
};
struct FatJet {
    float pt = 500, eta = 0, phi = 3.0f, mass = 120, msoftdrop = 110;
    float xbb = 0.9f, qcd = 0.1f;
};

struct Event {
    uint64_t event = 0;
    std::vector<Electron> electrons;
    std::vector<Muon> muons;
    std::vector<Jet> jets;
    std::vector<FatJet> fatjets;
    float met_pt = 400;
};

// One tight electron (pt 50 at phi 0), two clean jets, one qualifying fat jet, ST 950:
// passes every requirement, so a case changes one thing and knows the outcome.
inline Event passing_event(uint64_t number)
{
    Event e;
    e.event = number;
    e.electrons = {Electron{}};
    Jet a, b;
    a.phi = 2.0f;
    b.phi = -2.0f;
    e.jets = {a, b};
    e.fatjets = {FatJet{}};
    return e;
}

struct FileOptions {
    std::string tree_name = "Events";
    std::string omit_branch;         // leave this branch out of the file
    bool overstate_nElectron = false;  // nElectron one above the electrons stored ...
    size_t overstate_from_entry = 0;   // ... from this entry on
    bool short_tightId = false;        // Muon_tightId one element short of nMuon
    bool double_met_phi = false;       // MET_phi stored in double precision
    int compression = 101;
    int64_t cluster = 0;  // entries per cluster (auto-flush); 0: baskets flush when full
};

// Branches in file order; the keep list keeps those marked below.
inline void write_event_file(const std::string& path, const std::vector<Event>& events, const FileOptions& opt = {})
{
    using rootio::LeafType;
    rootio::FileWriter file(path, opt.compression);
    rootio::TreeWriter tree(file, opt.tree_name, "Events");
    if (opt.cluster > 0) tree.set_auto_flush(opt.cluster);
    std::vector<int> ids;
    auto add = [&](const std::string& name, LeafType type, const std::string& count = {}) {
        if (name == opt.omit_branch) return -1;
        return tree.add_branch(name, type, count);
    };
    // When nElectron is overstated it is a plain value; the arrays count by a branch of
    // their own, so the file stays consistent for the writer.
    const std::string electron_count = opt.overstate_nElectron ? "nElectronStored" : "nElectron";

    const int run = add("run", LeafType::UInt32);
    const int lumi = add("luminosityBlock", LeafType::UInt32);
    const int event = add("event", LeafType::UInt64);
    const int hlt = add("HLT_IsoMu24", LeafType::Bool);
    const int n_el_stored = opt.overstate_nElectron ? add("nElectronStored", LeafType::UInt32) : -1;
    const int n_el = add("nElectron", LeafType::UInt32);
    const int el_pt = add("Electron_pt", LeafType::Float, electron_count);
    const int el_eta = add("Electron_eta", LeafType::Float, electron_count);
    const int el_phi = add("Electron_phi", LeafType::Float, electron_count);
    const int el_mass = add("Electron_mass", LeafType::Float, electron_count);
    const int el_desc = add("Electron_deltaEtaSC", LeafType::Float, electron_count);
    const int el_dz = add("Electron_dz", LeafType::Float, electron_count);
    const int el_dxy = add("Electron_dxy", LeafType::Float, electron_count);
    const int el_cut = add("Electron_cutBased", LeafType::Int32, electron_count);
    const int pv = add("PV_npvs", LeafType::Int32);
    const int n_mu = add("nMuon", LeafType::UInt32);
    const int mu_pt = add("Muon_pt", LeafType::Float, "nMuon");
    const int mu_eta = add("Muon_eta", LeafType::Float, "nMuon");
    const int mu_phi = add("Muon_phi", LeafType::Float, "nMuon");
    const int mu_mass = add("Muon_mass", LeafType::Float, "nMuon");
    const int mu_iso = add("Muon_pfRelIso04_all", LeafType::Float, "nMuon");
    const int n_mu_tight = opt.short_tightId ? add("nMuonTightId", LeafType::UInt32) : -1;
    const int mu_tight = add("Muon_tightId", LeafType::Bool, opt.short_tightId ? "nMuonTightId" : "nMuon");
    const int n_ph = add("nPhoton", LeafType::UInt32);
    const int ph_pt = add("Photon_pt", LeafType::Float, "nPhoton");
    const int n_jet = add("nJet", LeafType::UInt32);
    const int jet_pt = add("Jet_pt", LeafType::Float, "nJet");
    const int jet_eta = add("Jet_eta", LeafType::Float, "nJet");
    const int jet_phi = add("Jet_phi", LeafType::Float, "nJet");
    const int jet_mass = add("Jet_mass", LeafType::Float, "nJet");
    const int jet_btag = add("Jet_btagDeepFlavB", LeafType::Float, "nJet");
    const int n_fj = add("nFatJet", LeafType::UInt32);
    const int fj_pt = add("FatJet_pt", LeafType::Float, "nFatJet");
    const int fj_eta = add("FatJet_eta", LeafType::Float, "nFatJet");
    const int fj_phi = add("FatJet_phi", LeafType::Float, "nFatJet");
    const int fj_mass = add("FatJet_mass", LeafType::Float, "nFatJet");
    const int fj_msd = add("FatJet_msoftdrop", LeafType::Float, "nFatJet");
    const int fj_xbb = add("FatJet_particleNetMD_Xbb", LeafType::Float, "nFatJet");
    const int fj_qcd = add("FatJet_particleNetMD_QCD", LeafType::Float, "nFatJet");
    const int n_sub = add("nSubJet", LeafType::UInt32);
    const int sub_pt = add("SubJet_pt", LeafType::Float, "nSubJet");
    const int n_gak8 = add("nGenJetAK8", LeafType::UInt32);
    const int gak8_pt = add("GenJetAK8_pt", LeafType::Float, "nGenJetAK8");
    const int n_tau = add("nTau", LeafType::UInt32);
    const int tau_pt = add("Tau_pt", LeafType::Float, "nTau");
    const int n_gp = add("nGenPart", LeafType::UInt32);
    const int gp_pdg = add("GenPart_pdgId", LeafType::Int32, "nGenPart");
    const int n_gj = add("nGenJet", LeafType::UInt32);
    const int gj_pt = add("GenJet_pt", LeafType::Float, "nGenJet");
    const int met_pt = add("MET_pt", LeafType::Float);
    const int met_phi = add("MET_phi", opt.double_met_phi ? LeafType::Double : LeafType::Float);
    const int rho_all = add("fixedGridRhoFastjetAll", LeafType::Float);
    const int rho_central = add("fixedGridRhoFastjetCentral", LeafType::Float);
    const int gen_weight = add("genWeight", LeafType::Float);
    const int n_pdf = add("nLHEPdfWeight", LeafType::UInt32);
    const int pdf = add("LHEPdfWeight", LeafType::Float, "nLHEPdfWeight");
    const int btag_w = add("btagWeight_DeepCSVB", LeafType::Float);
    const int pileup = add("Pileup_nTrueInt", LeafType::Float);
    const int gen_w = add("Generator_weight", LeafType::Float);
    const int flag = add("Flag_goodVertices", LeafType::Bool);
    const int l1 = add("L1_SingleMu22", LeafType::Bool);
    const int l_big = add("L1Reco_step", LeafType::Int64);

    std::vector<float> f;
    std::vector<int> ints;
    std::vector<uint8_t> bools;
    auto floats = [&](int branch, const auto& objs, auto member) {
        if (branch < 0) return;
        f.clear();
        for (const auto& o : objs) f.push_back(o.*member);
        tree.set_values<float>(branch, f);
    };
    auto value = [&](int branch, auto v) {
        if (branch >= 0) tree.set_value(branch, v);
    };
    for (size_t entry = 0; entry < events.size(); ++entry) {
        const Event& e = events[entry];
        const bool overstated = opt.overstate_nElectron && entry >= opt.overstate_from_entry;
        const auto n_el_value = static_cast<uint32_t>(e.electrons.size());
        value(run, uint32_t{1});
        value(lumi, static_cast<uint32_t>(e.event / 10));
        value(event, static_cast<uint64_t>(e.event));
        value(hlt, static_cast<uint8_t>(e.event % 2));
        value(n_el_stored, n_el_value);
        value(n_el, n_el_value + (overstated ? 1u : 0u));
        floats(el_pt, e.electrons, &Electron::pt);
        floats(el_eta, e.electrons, &Electron::eta);
        floats(el_phi, e.electrons, &Electron::phi);
        floats(el_mass, e.electrons, &Electron::mass);
        floats(el_desc, e.electrons, &Electron::deltaEtaSC);
        floats(el_dz, e.electrons, &Electron::dz);
        floats(el_dxy, e.electrons, &Electron::dxy);
        if (el_cut >= 0) {
            ints.clear();
            for (const auto& o : e.electrons) ints.push_back(o.cutBased);
            tree.set_values<int>(el_cut, ints);
        }
        value(pv, static_cast<int32_t>(e.event % 50));
        value(n_mu, static_cast<uint32_t>(e.muons.size()));
        floats(mu_pt, e.muons, &Muon::pt);
        floats(mu_eta, e.muons, &Muon::eta);
        floats(mu_phi, e.muons, &Muon::phi);
        floats(mu_mass, e.muons, &Muon::mass);
        floats(mu_iso, e.muons, &Muon::pfRelIso04_all);
        if (mu_tight >= 0) {
            bools.clear();
            for (const auto& o : e.muons) bools.push_back(o.tightId ? 1 : 0);
            if (opt.short_tightId && !bools.empty()) bools.pop_back();
            value(n_mu_tight, static_cast<uint32_t>(bools.size()));
            tree.set_values<uint8_t>(mu_tight, bools);
        }
        const uint32_t n_photons = e.event % 3;
        value(n_ph, n_photons);
        if (ph_pt >= 0) {
            f.assign(n_photons, 12.5f + static_cast<float>(e.event));
            tree.set_values<float>(ph_pt, f);
        }
        value(n_jet, static_cast<uint32_t>(e.jets.size()));
        floats(jet_pt, e.jets, &Jet::pt);
        floats(jet_eta, e.jets, &Jet::eta);
        floats(jet_phi, e.jets, &Jet::phi);
        floats(jet_mass, e.jets, &Jet::mass);
        if (jet_btag >= 0) {
            f.assign(e.jets.size(), 0.25f);
            tree.set_values<float>(jet_btag, f);
        }
        value(n_fj, static_cast<uint32_t>(e.fatjets.size()));
        floats(fj_pt, e.fatjets, &FatJet::pt);
        floats(fj_eta, e.fatjets, &FatJet::eta);
        floats(fj_phi, e.fatjets, &FatJet::phi);
        floats(fj_mass, e.fatjets, &FatJet::mass);
        floats(fj_msd, e.fatjets, &FatJet::msoftdrop);
        floats(fj_xbb, e.fatjets, &FatJet::xbb);
        floats(fj_qcd, e.fatjets, &FatJet::qcd);
        const uint32_t n_subjets = 2 * static_cast<uint32_t>(e.fatjets.size());
        value(n_sub, n_subjets);
        if (sub_pt >= 0) {
            f.assign(n_subjets, 80.0f + static_cast<float>(e.event % 7));
            tree.set_values<float>(sub_pt, f);
        }
        value(n_gak8, uint32_t{1});
        if (gak8_pt >= 0) {
            f.assign(1, 300.0f + static_cast<float>(e.event));
            tree.set_values<float>(gak8_pt, f);
        }
        value(n_tau, uint32_t{0});
        if (tau_pt >= 0) tree.set_values<float>(tau_pt, std::span<const float>());
        value(n_gp, uint32_t{2});
        if (gp_pdg >= 0) {
            ints = {6, -6 - static_cast<int>(e.event % 2)};
            tree.set_values<int>(gp_pdg, ints);
        }
        const uint32_t n_genjets = static_cast<uint32_t>(e.jets.size());
        value(n_gj, n_genjets);
        if (gj_pt >= 0) {
            f.assign(n_genjets, 45.0f);
            tree.set_values<float>(gj_pt, f);
        }
        value(met_pt, e.met_pt);
        if (opt.double_met_phi) value(met_phi, 1.5);
        else value(met_phi, 1.5f);
        value(rho_all, 20.0f + static_cast<float>(e.event % 11));
        value(rho_central, 18.0f);
        value(gen_weight, e.event % 4 == 0 ? -1.0f : 1.0f);
        const uint32_t n_pdf_values = 3;
        value(n_pdf, n_pdf_values);
        if (pdf >= 0) {
            f = {0.99f, 1.0f, 1.01f + static_cast<float>(e.event) * 1e-3f};
            tree.set_values<float>(pdf, f);
        }
        value(btag_w, 0.97f);
        value(pileup, 31.5f + static_cast<float>(e.event % 5));
        value(gen_w, 1.0f);
        value(flag, uint8_t{1});
        value(l1, static_cast<uint8_t>(e.event % 3 == 0));
        value(l_big, static_cast<int64_t>(e.event) * 1000000007LL);
        tree.fill();
    }
    tree.write();
    file.close();
}

// The branches the skim keeps from these files, in file order: matched by a keep pattern,
// or the count branch of a kept array (nSubJet, nGenJetAK8). Every keep pattern matches
// something, so a run prints no unknown-branch errors.
inline std::vector<std::string> kept_branches()
{
    return {"run",          "luminosityBlock", "event",
            "HLT_IsoMu24",  "nElectron",       "Electron_pt",
            "Electron_eta", "Electron_phi",    "Electron_mass",
            "Electron_deltaEtaSC", "Electron_dz", "Electron_dxy",
            "Electron_cutBased", "nMuon", "Muon_pt",
            "Muon_eta",     "Muon_phi",        "Muon_mass",
            "Muon_pfRelIso04_all", "Muon_tightId", "nJet",
            "Jet_pt",       "Jet_eta",         "Jet_phi",
            "Jet_mass",     "Jet_btagDeepFlavB", "nFatJet",
            "FatJet_pt",    "FatJet_eta",      "FatJet_phi",
            "FatJet_mass",  "FatJet_msoftdrop", "FatJet_particleNetMD_Xbb",
            "FatJet_particleNetMD_QCD", "nSubJet", "SubJet_pt",
            "nGenJetAK8",   "GenJetAK8_pt",    "nTau",
            "Tau_pt",       "nGenPart",        "GenPart_pdgId",
            "nGenJet",      "GenJet_pt",       "MET_pt",          "MET_phi",
            "fixedGridRhoFastjetAll", "genWeight", "nLHEPdfWeight",
            "LHEPdfWeight", "btagWeight_DeepCSVB", "Pileup_nTrueInt",
            "Generator_weight", "Flag_goodVertices"};
}

}  // namespace skimtest
