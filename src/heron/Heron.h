#pragma once
// The event-record reader: binds an input tree and returns the current entry's branch
// values by const reference. Each branch is read the first time it is asked for in an
// entry and cached until the next GetEntry/Init, so repeated calls cost one comparison.
// Buffers are reused across entries: once warm, reading allocates nothing.
#include <cstdint>
#include <vector>

#include "Math/LorentzVector.h"
#include "Math/PtEtaPhiM4D.h"
#include "RtypesCore.h"
#include "TBranch.h"
#include "TTree.h"
#include "rootio/format/leaf_type.h"

using LorentzVector = ROOT::Math::LorentzVector<ROOT::Math::PtEtaPhiM4D<float>>;

class Heron {
public:
    // Binds `tree`; its branches are looked up now and read lazily per entry.
    void Init(TTree* tree);
    // Makes `index` the current entry of the bound tree.
    void GetEntry(unsigned int index);

    // A branch the tree lacks raises rootio::RootError naming the file, the entry and the
    // branch, at the first entry that asks for it.
    const UInt_t& run();
    const UInt_t& luminosityBlock();
    const ULong64_t& event();
    const float& MET_pt();
    const float& MET_phi();

    const UInt_t& nElectron();
    const std::vector<float>& Electron_pt();
    const std::vector<float>& Electron_eta();
    const std::vector<float>& Electron_phi();
    const std::vector<float>& Electron_mass();
    const std::vector<float>& Electron_deltaEtaSC();
    const std::vector<float>& Electron_dz();
    const std::vector<float>& Electron_dxy();
    const std::vector<int>& Electron_cutBased();
    const std::vector<LorentzVector>& Electron_p4();

    const UInt_t& nMuon();
    const std::vector<float>& Muon_pt();
    const std::vector<float>& Muon_eta();
    const std::vector<float>& Muon_phi();
    const std::vector<float>& Muon_mass();
    const std::vector<float>& Muon_pfRelIso04_all();
    const std::vector<bool>& Muon_tightId();
    const std::vector<LorentzVector>& Muon_p4();

    const UInt_t& nJet();
    const std::vector<float>& Jet_pt();
    const std::vector<float>& Jet_eta();
    const std::vector<float>& Jet_phi();
    const std::vector<float>& Jet_mass();
    const std::vector<LorentzVector>& Jet_p4();

    const UInt_t& nFatJet();
    const std::vector<float>& FatJet_pt();
    const std::vector<float>& FatJet_eta();
    const std::vector<float>& FatJet_phi();
    const std::vector<float>& FatJet_mass();
    const std::vector<float>& FatJet_msoftdrop();
    const std::vector<float>& FatJet_particleNetMD_Xbb();
    const std::vector<float>& FatJet_particleNetMD_QCD();
    const std::vector<LorentzVector>& FatJet_p4();

    // Every branch the selection reads through the reader, each once, in no particular
    // order: what an input must hold for the selection to run on it to the end. The
    // reader's other fields (run, luminosityBlock, event, MET_phi) are read only when asked
    // for, so an input without them is not refused.
    static const std::vector<const char*>& branch_names();

    // Since the reader was made: accessor calls answered from the current entry's cache /
    // branch reads (one per branch and entry).
    uint64_t cached_reads() const { return n_cached_; }
    uint64_t branch_reads() const { return n_read_; }

private:
    // One branch's value for the entry it was last read at (`loaded` matches `stamp_`).
    template <class T>
    struct Field {
        const char* name;
        bool selection_reads = true;
        TBranch* branch = nullptr;
        uint64_t loaded = 0;
        T value{};
    };
    // A four-vector collection built from its _pt, _eta, _phi and _mass fields.
    struct P4Field {
        uint64_t loaded = 0;
        std::vector<LorentzVector> value;
    };

    template <class T>
    const T& scalar(Field<T>& f);
    template <class T>
    const std::vector<T>& array(Field<std::vector<T>>& f);
    const std::vector<LorentzVector>& p4(P4Field& f, const std::vector<float>& pt, const std::vector<float>& eta,
                                         const std::vector<float>& phi, const std::vector<float>& mass);
    template <class T>
    void bind(Field<T>& f);
    // Calls `visit` on every field: the one list of the reader's branches, through which
    // Init binds them and branch_names() names them, so the two cannot disagree.
    template <class Self, class Visit>
    static void for_each_field(Self& self, Visit&& visit);
    [[noreturn]] void missing(const char* name) const;
    void check_type(const TBranch& branch, const char* name, rootio::LeafType expected) const;

    TTree* tree_ = nullptr;
    unsigned int entry_ = 0;
    uint64_t stamp_ = 1;  // changes at every GetEntry/Init; 0 means never loaded
    uint64_t n_cached_ = 0;
    uint64_t n_read_ = 0;

    Field<UInt_t> run_{"run", false};
    Field<UInt_t> luminosityBlock_{"luminosityBlock", false};
    Field<ULong64_t> event_{"event", false};
    Field<float> MET_pt_{"MET_pt"};
    Field<float> MET_phi_{"MET_phi", false};

    Field<UInt_t> nElectron_{"nElectron"};
    Field<std::vector<float>> Electron_pt_{"Electron_pt"};
    Field<std::vector<float>> Electron_eta_{"Electron_eta"};
    Field<std::vector<float>> Electron_phi_{"Electron_phi"};
    Field<std::vector<float>> Electron_mass_{"Electron_mass"};
    Field<std::vector<float>> Electron_deltaEtaSC_{"Electron_deltaEtaSC"};
    Field<std::vector<float>> Electron_dz_{"Electron_dz"};
    Field<std::vector<float>> Electron_dxy_{"Electron_dxy"};
    Field<std::vector<int>> Electron_cutBased_{"Electron_cutBased"};
    P4Field Electron_p4_;

    Field<UInt_t> nMuon_{"nMuon"};
    Field<std::vector<float>> Muon_pt_{"Muon_pt"};
    Field<std::vector<float>> Muon_eta_{"Muon_eta"};
    Field<std::vector<float>> Muon_phi_{"Muon_phi"};
    Field<std::vector<float>> Muon_mass_{"Muon_mass"};
    Field<std::vector<float>> Muon_pfRelIso04_all_{"Muon_pfRelIso04_all"};
    Field<std::vector<bool>> Muon_tightId_{"Muon_tightId"};
    P4Field Muon_p4_;

    Field<UInt_t> nJet_{"nJet"};
    Field<std::vector<float>> Jet_pt_{"Jet_pt"};
    Field<std::vector<float>> Jet_eta_{"Jet_eta"};
    Field<std::vector<float>> Jet_phi_{"Jet_phi"};
    Field<std::vector<float>> Jet_mass_{"Jet_mass"};
    P4Field Jet_p4_;

    Field<UInt_t> nFatJet_{"nFatJet"};
    Field<std::vector<float>> FatJet_pt_{"FatJet_pt"};
    Field<std::vector<float>> FatJet_eta_{"FatJet_eta"};
    Field<std::vector<float>> FatJet_phi_{"FatJet_phi"};
    Field<std::vector<float>> FatJet_mass_{"FatJet_mass"};
    Field<std::vector<float>> FatJet_msoftdrop_{"FatJet_msoftdrop"};
    Field<std::vector<float>> FatJet_particleNetMD_Xbb_{"FatJet_particleNetMD_Xbb"};
    Field<std::vector<float>> FatJet_particleNetMD_QCD_{"FatJet_particleNetMD_QCD"};
    P4Field FatJet_p4_;
};

extern Heron nt;
