#include "Heron.h"

#include <algorithm>
#include <string>

#include "TFile.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/format/leaf_type.h"

Heron nt;

namespace {

template <class T>
constexpr rootio::LeafType leaf_type_of()
{
    if constexpr (std::is_same_v<T, bool>) return rootio::LeafType::Bool;
    else if constexpr (std::is_same_v<T, int>) return rootio::LeafType::Int32;
    else if constexpr (std::is_same_v<T, UInt_t>) return rootio::LeafType::UInt32;
    else if constexpr (std::is_same_v<T, ULong64_t>) return rootio::LeafType::UInt64;
    else if constexpr (std::is_same_v<T, float>) return rootio::LeafType::Float;
    else static_assert(sizeof(T) == 0, "no leaf type for this value type");
}

const char* leaf_type_name(rootio::LeafType t)
{
    constexpr const char* names[] = {"Bool_t",   "Char_t",    "UChar_t", "Short_t",  "UShort_t", "Int_t",
                                     "UInt_t",   "Long64_t",  "ULong64_t", "Float_t", "Double_t"};
    return names[static_cast<int>(t)];
}

std::string file_of(const TTree* tree)
{
    const TFile* file = tree ? tree->GetCurrentFile() : nullptr;
    return file ? file->GetName() : "(no file)";
}

}  // namespace

template <class Self, class Visit>
void Heron::for_each_field(Self& self, Visit&& visit)
{
    visit(self.run_);
    visit(self.luminosityBlock_);
    visit(self.event_);
    visit(self.MET_pt_);
    visit(self.MET_phi_);
    visit(self.nElectron_);
    visit(self.Electron_pt_);
    visit(self.Electron_eta_);
    visit(self.Electron_phi_);
    visit(self.Electron_mass_);
    visit(self.Electron_deltaEtaSC_);
    visit(self.Electron_dz_);
    visit(self.Electron_dxy_);
    visit(self.Electron_cutBased_);
    visit(self.nMuon_);
    visit(self.Muon_pt_);
    visit(self.Muon_eta_);
    visit(self.Muon_phi_);
    visit(self.Muon_mass_);
    visit(self.Muon_pfRelIso04_all_);
    visit(self.Muon_tightId_);
    visit(self.nJet_);
    visit(self.Jet_pt_);
    visit(self.Jet_eta_);
    visit(self.Jet_phi_);
    visit(self.Jet_mass_);
    visit(self.nFatJet_);
    visit(self.FatJet_pt_);
    visit(self.FatJet_eta_);
    visit(self.FatJet_phi_);
    visit(self.FatJet_mass_);
    visit(self.FatJet_msoftdrop_);
    visit(self.FatJet_particleNetMD_Xbb_);
    visit(self.FatJet_particleNetMD_QCD_);
}

void Heron::Init(TTree* tree)
{
    tree_ = tree;
    entry_ = 0;
    ++stamp_;
    for_each_field(*this, [this](auto& field) { bind(field); });
}

const std::vector<const char*>& Heron::branch_names()
{
    static const std::vector<const char*> names = [] {
        std::vector<const char*> out;
        const Heron reader;
        for_each_field(reader, [&out](const auto& field) {
            if (field.selection_reads) out.push_back(field.name);
        });
        return out;
    }();
    return names;
}

void Heron::GetEntry(unsigned int index)
{
    entry_ = index;
    ++stamp_;
}

template <class T>
void Heron::bind(Field<T>& f)
{
    f.branch = tree_ ? tree_->GetBranch(f.name) : nullptr;
    f.loaded = 0;
}

void Heron::missing(const char* name) const
{
    if (!tree_) rootio::fail("Heron", name, "no tree is bound (Init was not called)");
    rootio::fail(file_of(tree_), "entry " + std::to_string(entry_),
                 std::string("branch ") + name + " is not in tree " + tree_->GetName());
}

void Heron::check_type(const TBranch& branch, const char* name, rootio::LeafType expected) const
{
    const rootio::LeafType stored = branch.GetInfo().leaf.type;
    if (stored != expected)
        rootio::fail(file_of(tree_), std::string("branch ") + name,
                     std::string("holds ") + leaf_type_name(stored) + ", the reader expects " + leaf_type_name(expected));
}

template <class T>
const T& Heron::scalar(Field<T>& f)
{
    if (f.loaded == stamp_) {
        ++n_cached_;
        return f.value;
    }
    if (!f.branch) missing(f.name);
    check_type(*f.branch, f.name, leaf_type_of<T>());
    f.branch->GetEntry(entry_);
    const auto bytes = f.branch->GetEntryBytes();
    if (bytes.size() != sizeof(T))
        rootio::fail(file_of(tree_), "entry " + std::to_string(entry_),
                     std::string("branch ") + f.name + " holds " + std::to_string(bytes.size()) +
                         " bytes, not one value");
    f.value = rootio::load_be<T>(bytes.data());
    f.loaded = stamp_;
    ++n_read_;
    return f.value;
}

template <class T>
const std::vector<T>& Heron::array(Field<std::vector<T>>& f)
{
    if (f.loaded == stamp_) {
        ++n_cached_;
        return f.value;
    }
    if (!f.branch) missing(f.name);
    check_type(*f.branch, f.name, leaf_type_of<T>());
    f.branch->GetEntry(entry_);
    // As many elements as the branch stores for this entry, whatever its count branch says.
    rootio::decode_elements(f.branch->GetEntryBytes(), f.value);
    f.loaded = stamp_;
    ++n_read_;
    return f.value;
}

const std::vector<LorentzVector>& Heron::p4(P4Field& f, const std::vector<float>& pt, const std::vector<float>& eta,
                                            const std::vector<float>& phi, const std::vector<float>& mass)
{
    // The collection is as long as the shortest of its four branches: a vector element
    // exists only where all four values were stored.
    const size_t n = std::min({pt.size(), eta.size(), phi.size(), mass.size()});
    f.value.resize(n);
    for (size_t i = 0; i < n; ++i) f.value[i] = LorentzVector(pt[i], eta[i], phi[i], mass[i]);
    f.loaded = stamp_;
    return f.value;
}

#define HERON_SCALAR(type, name) \
    const type& Heron::name() { return scalar(name##_); }
#define HERON_ARRAY(type, name) \
    const std::vector<type>& Heron::name() { return array(name##_); }
#define HERON_P4(coll)                                                                      \
    const std::vector<LorentzVector>& Heron::coll##_p4()                                    \
    {                                                                                       \
        if (coll##_p4_.loaded == stamp_) {                                                  \
            ++n_cached_;                                                                    \
            return coll##_p4_.value;                                                        \
        }                                                                                   \
        return p4(coll##_p4_, coll##_pt(), coll##_eta(), coll##_phi(), coll##_mass());      \
    }

HERON_SCALAR(UInt_t, run)
HERON_SCALAR(UInt_t, luminosityBlock)
HERON_SCALAR(ULong64_t, event)
HERON_SCALAR(float, MET_pt)
HERON_SCALAR(float, MET_phi)

HERON_SCALAR(UInt_t, nElectron)
HERON_ARRAY(float, Electron_pt)
HERON_ARRAY(float, Electron_eta)
HERON_ARRAY(float, Electron_phi)
HERON_ARRAY(float, Electron_mass)
HERON_ARRAY(float, Electron_deltaEtaSC)
HERON_ARRAY(float, Electron_dz)
HERON_ARRAY(float, Electron_dxy)
HERON_ARRAY(int, Electron_cutBased)
HERON_P4(Electron)

HERON_SCALAR(UInt_t, nMuon)
HERON_ARRAY(float, Muon_pt)
HERON_ARRAY(float, Muon_eta)
HERON_ARRAY(float, Muon_phi)
HERON_ARRAY(float, Muon_mass)
HERON_ARRAY(float, Muon_pfRelIso04_all)
HERON_ARRAY(bool, Muon_tightId)
HERON_P4(Muon)

HERON_SCALAR(UInt_t, nJet)
HERON_ARRAY(float, Jet_pt)
HERON_ARRAY(float, Jet_eta)
HERON_ARRAY(float, Jet_phi)
HERON_ARRAY(float, Jet_mass)
HERON_P4(Jet)

HERON_SCALAR(UInt_t, nFatJet)
HERON_ARRAY(float, FatJet_pt)
HERON_ARRAY(float, FatJet_eta)
HERON_ARRAY(float, FatJet_phi)
HERON_ARRAY(float, FatJet_mass)
HERON_ARRAY(float, FatJet_msoftdrop)
HERON_ARRAY(float, FatJet_particleNetMD_Xbb)
HERON_ARRAY(float, FatJet_particleNetMD_QCD)
HERON_P4(FatJet)
