// Trigger paths (HLT_*) and level-1 seeds (L1_*), built from families of a menu: each
// family is a name pattern, the values put in its "{}" and what the path looks at. A path
// fires when its object is above threshold, with the family's efficiency, so trigger bits
// follow the event's leptons, jets and MET as real ones do.
#include <charconv>
#include <initializer_list>

#include "catalogue.h"

namespace make_example {
namespace {

using O = TriggerObject;

struct Family {
    std::string_view pattern;                      // "{}" is replaced by each value
    std::initializer_list<std::string_view> values;
    TriggerObject object;
    float efficiency;
};

// The first number in a value: "24" -> 24, "2p5" -> 2.5, "LooseIso22_12" -> 22.
float threshold_of(std::string_view value)
{
    const size_t start = value.find_first_of("0123456789");
    if (start == std::string_view::npos) return 0;
    size_t end = start;
    while (end < value.size() && value[end] >= '0' && value[end] <= '9') ++end;
    float whole = 0;
    std::from_chars(value.data() + start, value.data() + end, whole);
    if (end + 1 < value.size() && value[end] == 'p' && value[end + 1] >= '0' && value[end + 1] <= '9')
        whole += static_cast<float>(value[end + 1] - '0') / 10.0f;
    return whole;
}

void expand(const Family& family, std::vector<Trigger>& out)
{
    for (std::string_view value : family.values) {
        std::string name(family.pattern);
        for (size_t at; (at = name.find("{}")) != std::string::npos;) name.replace(at, 2, value);
        out.push_back({std::move(name), family.object, threshold_of(value), family.efficiency});
    }
}

const std::initializer_list<Family> kHltFamilies = {
    // muons
    {"HLT_IsoMu{}", {"20", "24", "27", "30"}, O::Muon, 0.92f},
    {"HLT_IsoMu{}_eta2p1", {"24", "27"}, O::Muon, 0.85f},
    {"HLT_Mu{}", {"8", "17", "19", "20", "27", "50", "55", "100"}, O::Muon, 0.95f},
    {"HLT_TkMu{}", {"100"}, O::Muon, 0.9f},
    {"HLT_OldMu{}", {"100"}, O::Muon, 0.9f},
    {"HLT_Mu{}_TrkIsoVVL", {"3", "8", "17", "19"}, O::Muon, 0.9f},
    {"HLT_Mu{}_TrkIsoVVL_Mu8_TrkIsoVVL", {"17", "19"}, O::Muon, 0.2f},
    {"HLT_Mu{}_TrkIsoVVL_Mu8_TrkIsoVVL_DZ", {"17", "19"}, O::Muon, 0.18f},
    {"HLT_Mu{}_TrkIsoVVL_Mu8_TrkIsoVVL_DZ_Mass3p8", {"17", "19"}, O::Muon, 0.15f},
    {"HLT_Mu{}_TrkIsoVVL_Mu8_TrkIsoVVL_DZ_Mass8", {"17", "19"}, O::Muon, 0.15f},
    {"HLT_Mu{}_Mu8_SameSign_DZ", {"18"}, O::Muon, 0.05f},
    {"HLT_Mu{}_TkMu11", {"37"}, O::Muon, 0.1f},
    {"HLT_DoubleMu{}NoFiltersNoVtx", {"33", "40", "43", "48"}, O::Muon, 0.1f},
    {"HLT_DoubleL2Mu{}NoVtx_2Cha", {"23", "25", "30"}, O::Muon, 0.08f},
    {"HLT_DoubleL2Mu{}NoVtx_2Cha_CosmicSeed", {"23", "25", "30"}, O::Muon, 0.06f},
    {"HLT_DoubleMu{}_Mass3p8_PFHT350_DZ", {"4"}, O::Muon, 0.1f},
    {"HLT_TripleMu_{}", {"5_3_3_Mass3p8_DZ", "10_5_5_DZ", "12_10_5"}, O::Muon, 0.02f},
    {"HLT_Mu9_IP6_part{}", {"0", "1", "2", "3", "4"}, O::None, 0.002f},
    {"HLT_Mu12_IP6_part{}", {"0", "1", "2", "3", "4"}, O::None, 0.002f},
    {"HLT_Mu{}_IP4_part0", {"7", "8", "9", "12"}, O::None, 0.002f},
    {"HLT_Mu{}_IP5_part0", {"7", "8", "9"}, O::None, 0.002f},
    {"HLT_Mu{}_IP3_part0", {"7", "8"}, O::None, 0.002f},
    {"HLT_Dimuon{}_Jpsi", {"0", "20", "25"}, O::None, 0.003f},
    {"HLT_Dimuon{}_Upsilon_L1_5M", {"0"}, O::None, 0.002f},
    {"HLT_Dimuon{}_LowMass_L1_0er1p5", {"0"}, O::None, 0.002f},
    {"HLT_Dimuon{}_Jpsi_L1_NoOS", {"0"}, O::None, 0.002f},
    {"HLT_Dimuon0_Upsilon_{}", {"L1_4p5", "L1_5", "L1_4p5NoOS", "L1_4p5er2p0", "L1_4p5er2p0M", "NoVertexing", "Muon_L1_TM0"}, O::None, 0.002f},
    {"HLT_DoubleMu4_{}", {"3_Bs", "3_Jpsi", "JpsiTrk_Displaced", "LowMassNonResonantTrk_Displaced", "PsiPrimeTrk_Displaced", "Jpsi_Displaced", "Mass3p8_DZ_PFHT350"}, O::None, 0.002f},
    {"HLT_Mu{}_TrkIsoVVL_Ele23_CaloIdL_TrackIdL_IsoVL", {"8", "12"}, O::Muon, 0.1f},
    {"HLT_Mu{}_TrkIsoVVL_Ele12_CaloIdL_TrackIdL_IsoVL", {"23"}, O::Muon, 0.1f},
    {"HLT_Mu{}_TrkIsoVVL_Ele23_CaloIdL_TrackIdL_IsoVL_DZ", {"8", "12"}, O::Muon, 0.08f},
    {"HLT_Mu{}_TrkIsoVVL_Ele12_CaloIdL_TrackIdL_IsoVL_DZ", {"23"}, O::Muon, 0.08f},
    {"HLT_Mu{}_Photon23_CaloIdL", {"12", "17"}, O::Muon, 0.05f},
    {"HLT_Mu{}_Ele8_CaloIdM_TrackIdM_Mass8_PFHT350", {"8"}, O::Muon, 0.05f},
    {"HLT_Mu{}_IsoVVVL_PFHT450", {"15", "50"}, O::Muon, 0.2f},
    {"HLT_Mu{}_IsoVVVL_PFHT450_PFMET50", {"15"}, O::Muon, 0.1f},
    {"HLT_Mu{}_IsoVVVL_PFHT600", {"15"}, O::Muon, 0.15f},
    {"HLT_Mu{}_IsoVVVL_PFHT450_CaloBTagDeepCSV_4p5", {"15"}, O::Muon, 0.05f},
    {"HLT_Mu{}_eta2p1_PFJet200_PFJet50", {"40"}, O::Muon, 0.1f},
    {"HLT_Mu{}_Photon30", {"38NoFiltersNoVtxDisplaced", "43NoFiltersNoVtx"}, O::Muon, 0.02f},
    {"HLT_IsoMu{}_eta2p1_LooseChargedIsoPFTau27_eta2p1_CrossL1", {"20"}, O::Muon, 0.05f},
    {"HLT_IsoMu{}_eta2p1_MediumChargedIsoPFTau27_eta2p1_CrossL1", {"20"}, O::Muon, 0.04f},
    {"HLT_IsoMu{}_eta2p1_TightChargedIsoPFTau27_eta2p1_CrossL1", {"20"}, O::Muon, 0.03f},
    {"HLT_IsoMu{}_eta2p1_LooseChargedIsoPFTauHPS27_eta2p1_CrossL1", {"20"}, O::Muon, 0.05f},
    {"HLT_IsoMu{}_eta2p1_MediumChargedIsoPFTau35_Trk1_eta2p1_Reg_CrossL1", {"24"}, O::Muon, 0.03f},
    {"HLT_IsoMu{}_eta2p1_TightChargedIsoPFTau35_Trk1_eta2p1_Reg_CrossL1", {"24"}, O::Muon, 0.03f},
    {"HLT_IsoMu{}_eta2p1_MediumChargedIsoPFTauHPS35_Trk1_eta2p1_Reg_CrossL1", {"24"}, O::Muon, 0.03f},
    {"HLT_IsoMu{}_TwoProngs35", {"24"}, O::Muon, 0.02f},
    {"HLT_IsoMu{}_eta2p1_MediumChargedIsoPFTau50_Trk30_eta2p1_1pr", {"27"}, O::Muon, 0.02f},
    {"HLT_IsoMu{}_LooseChargedIsoPFTauHPS20_Trk1_eta2p1_SingleL1", {"27"}, O::Muon, 0.05f},
    // electrons
    {"HLT_Ele{}_WPTight_Gsf", {"27", "28", "32", "35", "38"}, O::Electron, 0.88f},
    {"HLT_Ele{}_WPTight_Gsf_L1DoubleEG", {"32"}, O::Electron, 0.85f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf", {"27", "32"}, O::Electron, 0.8f},
    {"HLT_Ele{}_CaloIdVT_GsfTrkIdT", {"115", "135", "145", "200", "250", "300"}, O::Electron, 0.9f},
    {"HLT_Ele{}_CaloIdL_TrackIdL_IsoVL_PFJet30", {"8", "12", "23"}, O::Electron, 0.6f},
    {"HLT_Ele{}_CaloIdM_TrackIdM_PFJet30", {"8", "17", "23"}, O::Electron, 0.6f},
    {"HLT_Ele{}_CaloIdVT_GsfTrkIdT_PFJet165", {"50"}, O::Electron, 0.3f},
    {"HLT_DoubleEle{}_CaloIdL_MW", {"25", "27", "33"}, O::Electron, 0.05f},
    {"HLT_DoubleEle{}_eta2p1_WPTight_Gsf", {"24", "25"}, O::Electron, 0.05f},
    {"HLT_Ele{}_Ele12_CaloIdL_TrackIdL_IsoVL", {"23"}, O::Electron, 0.12f},
    {"HLT_Ele{}_Ele12_CaloIdL_TrackIdL_IsoVL_DZ", {"23"}, O::Electron, 0.1f},
    {"HLT_Ele{}_Ele12_Ele8_CaloIdL_TrackIdL", {"16"}, O::Electron, 0.01f},
    {"HLT_Ele{}_IsoVVVL_PFHT450", {"15", "50"}, O::Electron, 0.2f},
    {"HLT_Ele{}_IsoVVVL_PFHT450_PFMET50", {"15"}, O::Electron, 0.1f},
    {"HLT_Ele{}_IsoVVVL_PFHT600", {"15"}, O::Electron, 0.15f},
    {"HLT_Ele{}_IsoVVVL_PFHT450_CaloBTagDeepCSV_4p5", {"15"}, O::Electron, 0.05f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_LooseChargedIsoPFTau30_eta2p1_CrossL1", {"24"}, O::Electron, 0.05f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_MediumChargedIsoPFTau30_eta2p1_CrossL1", {"24"}, O::Electron, 0.04f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_TightChargedIsoPFTau30_eta2p1_CrossL1", {"24"}, O::Electron, 0.03f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_LooseChargedIsoPFTauHPS30_eta2p1_CrossL1", {"24"}, O::Electron, 0.05f},
    {"HLT_Ele{}_WPTight_Gsf_L1EGMT", {"32"}, O::Electron, 0.85f},
    {"HLT_Ele{}_WPTight_Gsf_CentralPFJet30_EleCleaned", {"28"}, O::Electron, 0.5f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_HT150", {"28"}, O::Electron, 0.5f},
    {"HLT_Ele{}_eta2p1_WPTight_Gsf_CentralPFJet30_EleCleaned", {"30"}, O::Electron, 0.5f},
    {"HLT_Ele{}_CaloIdL_TrackIdL_IsoVL", {"8", "12", "23"}, O::Electron, 0.7f},
    {"HLT_Ele{}_CaloIdM_TrackIdM_PFJet30", {"12"}, O::Electron, 0.6f},
    {"HLT_Ele{}_WPLoose_Gsf", {"20"}, O::Electron, 0.9f},
    {"HLT_Ele{}_eta2p1_WPLoose_Gsf", {"15", "17", "20"}, O::Electron, 0.85f},
    {"HLT_Ele{}_WPTight_Gsf_PFHT330PT30_DoublePFBTagDeepCSV_2p4", {"15"}, O::Electron, 0.02f},
    // photons
    {"HLT_Photon{}", {"20", "33", "50", "75", "90", "120", "150", "175", "200", "300"}, O::Photon, 0.9f},
    {"HLT_Photon{}_HoverELoose", {"20", "30", "40", "50", "60"}, O::Photon, 0.85f},
    {"HLT_Photon{}_R9Id90_HE10_IsoM", {"50", "75", "90", "120", "165"}, O::Photon, 0.6f},
    {"HLT_Photon{}_R9Id90_HE10_IsoM_EBOnly_PFJetsMJJ300DEta3", {"50", "75", "90", "120", "165"}, O::Photon, 0.05f},
    {"HLT_Photon{}_R9Id90_HE10_IsoM_EBOnly_PFJetsMJJ600DEta3", {"50", "75", "90", "120", "165"}, O::Photon, 0.03f},
    {"HLT_Photon{}_R9Id90_HE10_IsoM_EBOnly_CaloMJJ300_PFJetsMJJ400DEta3", {"75"}, O::Photon, 0.03f},
    {"HLT_Photon{}_R9Id90_HE10_IsoM_EBOnly_CaloMJJ400_PFJetsMJJ600DEta3", {"75"}, O::Photon, 0.03f},
    {"HLT_Photon{}_HE10_R9Id65_Eta2_Mass15", {"35_TwoProngs35", "60_R9Id90_CaloIdL_IsoL_DisplacedIdL"}, O::Photon, 0.02f},
    {"HLT_Photon{}_CaloIdL_PFHT700", {"90"}, O::Photon, 0.1f},
    {"HLT_Photon{}_PFMET40", {"100EB_TightID_TightIso", "110EB_TightID_TightIso", "120EB_TightID_TightIso"}, O::Photon, 0.05f},
    {"HLT_Photon{}_L1SingleEG", {"100EBHE10", "100EEHE10", "100EE_TightID_TightIso"}, O::Photon, 0.1f},
    {"HLT_Diphoton{}_22_R9Id_OR_IsoCaloId_AND_HE_R9Id_Mass90", {"30"}, O::Photon, 0.03f},
    {"HLT_Diphoton{}_22_R9Id_OR_IsoCaloId_AND_HE_R9Id_Mass95", {"30"}, O::Photon, 0.03f},
    {"HLT_Diphoton{}_18_R9IdL_AND_HE_AND_IsoCaloId_NoPixelVeto", {"30"}, O::Photon, 0.03f},
    {"HLT_Diphoton{}_18_R9IdL_AND_HE_AND_IsoCaloId_NoPixelVeto_Mass55", {"30"}, O::Photon, 0.02f},
    {"HLT_DoublePhoton{}", {"33_CaloIdL", "70", "85"}, O::Photon, 0.02f},
    {"HLT_ECALHT{}", {"800"}, O::HT, 0.9f},
    // taus
    {"HLT_MediumChargedIsoPFTau{}HighPtRelaxedIso_Trk50_eta2p1", {"180", "200", "220"}, O::Tau, 0.3f},
    {"HLT_MediumChargedIsoPFTau{}HighPtRelaxedIso_Trk50_eta2p1_1pr", {"180"}, O::Tau, 0.2f},
    {"HLT_MediumChargedIsoPFTau50_Trk30_eta2p1_1pr_MET{}", {"90", "100", "110", "130"}, O::MET, 0.02f},
    {"HLT_DoubleMediumChargedIsoPFTau{}_Trk1_eta2p1_Reg", {"35", "40"}, O::Tau, 0.02f},
    {"HLT_DoubleTightChargedIsoPFTau{}_Trk1_eta2p1_Reg", {"35", "40"}, O::Tau, 0.015f},
    {"HLT_DoubleMediumChargedIsoPFTau{}_Trk1_TightID_eta2p1_Reg", {"35", "40"}, O::Tau, 0.015f},
    {"HLT_DoubleTightChargedIsoPFTau{}_Trk1_TightID_eta2p1_Reg", {"35", "40"}, O::Tau, 0.01f},
    {"HLT_DoubleMediumChargedIsoPFTauHPS{}_Trk1_eta2p1_Reg", {"35", "40"}, O::Tau, 0.02f},
    {"HLT_DoubleTightChargedIsoPFTauHPS{}_Trk1_eta2p1_Reg", {"35", "40"}, O::Tau, 0.015f},
    {"HLT_DoubleMediumChargedIsoPFTauHPS{}_Trk1_TightID_eta2p1_Reg", {"35", "40"}, O::Tau, 0.015f},
    {"HLT_DoubleTightChargedIsoPFTauHPS{}_Trk1_TightID_eta2p1_Reg", {"35", "40"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleLooseChargedIsoPFTau{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleMediumChargedIsoPFTau{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleTightChargedIsoPFTau{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleLooseChargedIsoPFTauHPS{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleMediumChargedIsoPFTauHPS{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    {"HLT_VBF_DoubleTightChargedIsoPFTauHPS{}_Trk1_eta2p1", {"20"}, O::Tau, 0.01f},
    // jets
    {"HLT_PFJet{}", {"15", "25", "40", "60", "80", "140", "200", "260", "320", "400", "450", "500", "550"}, O::Jet, 0.97f},
    {"HLT_PFJetFwd{}", {"15", "25", "40", "60", "80", "140", "200", "260", "320", "400", "450", "500"}, O::Jet, 0.1f},
    {"HLT_AK8PFJet{}", {"15", "25", "40", "60", "80", "140", "200", "260", "320", "400", "450", "500", "550"}, O::FatJet, 0.95f},
    {"HLT_AK8PFJetFwd{}", {"15", "25", "40", "60", "80", "140", "200", "260", "320", "400", "450", "500"}, O::FatJet, 0.1f},
    {"HLT_DiPFJetAve{}", {"40", "60", "80", "140", "200", "260", "320", "400", "500"}, O::Jet, 0.7f},
    {"HLT_DiPFJetAve{}_HFJEC", {"60", "80", "100", "160", "220", "300"}, O::Jet, 0.05f},
    {"HLT_AK8PFJet{}_TrimMass30", {"360", "380", "400", "420"}, O::FatJet, 0.7f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BTagDeepCSV_p1", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BTagDeepCSV_p17", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BoostedDoubleB_p02", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BoostedDoubleB_np2", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BoostedDoubleB_np4", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8PFJet{}_TrimMass30_PFAK8BTagCSV_p1", {"330"}, O::FatJet, 0.3f},
    {"HLT_AK8DiPFJet{}_TrimMass30", {"300_200", "280_200", "250_200"}, O::FatJet, 0.2f},
    {"HLT_AK8DiPFJet{}_TrimMass30_BTagCSV_p20", {"300_200", "280_200", "250_200"}, O::FatJet, 0.05f},
    {"HLT_CaloJet{}_NoJetID", {"500", "550"}, O::Jet, 0.9f},
    {"HLT_AK4CaloJet{}", {"30", "40", "50", "80", "100", "120"}, O::Jet, 0.9f},
    {"HLT_AK4PFJet{}", {"30", "50", "80", "100", "120"}, O::Jet, 0.9f},
    {"HLT_DoublePFJets{}_CaloBTagDeepCSV_p71", {"40", "100", "200", "350"}, O::Jet, 0.05f},
    {"HLT_Mu12_DoublePFJets{}_CaloBTagDeepCSV_p71", {"40", "100", "200", "350"}, O::Jet, 0.02f},
    {"HLT_DoublePFJets{}MaxDeta1p6_DoubleCaloBTagDeepCSV_p71", {"116", "128"}, O::Jet, 0.02f},
    {"HLT_QuadPFJet{}", {"98_83_71_15", "103_88_75_15", "105_88_76_15", "111_90_80_15"}, O::Jet, 0.02f},
    {"HLT_QuadPFJet{}_DoubleBTagCSV_p013_p08_VBF1", {"98_83_71_15", "103_88_75_15", "105_88_76_15", "111_90_80_15"}, O::Jet, 0.01f},
    {"HLT_QuadPFJet{}_BTagCSV_p013_VBF2", {"98_83_71_15", "103_88_75_15", "105_88_76_15", "111_90_80_15"}, O::Jet, 0.01f},
    {"HLT_DiJet{}_MJJ650_MET110", {"110_35_Mjj650_PFMET110", "110_35_Mjj650_PFMET120", "110_35_Mjj650_PFMET130"}, O::Jet, 0.01f},
    {"HLT_TripleJet{}_VBF_TripleJet", {"110_35_35_Mjj650_PFMET110", "110_35_35_Mjj650_PFMET120", "110_35_35_Mjj650_PFMET130"}, O::Jet, 0.01f},
    {"HLT_VBF_DisplacedJet{}_DisplacedTrack", {"40"}, O::Jet, 0.01f},
    {"HLT_VBF_DisplacedJet{}_Hadronic", {"40"}, O::Jet, 0.01f},
    {"HLT_BTagMu_AK4DiJet{}_Mu5", {"20", "40", "70", "110", "170"}, O::Jet, 0.03f},
    {"HLT_BTagMu_AK4Jet{}_Mu5", {"300"}, O::Jet, 0.03f},
    {"HLT_BTagMu_AK8DiJet{}_Mu5", {"170"}, O::FatJet, 0.03f},
    {"HLT_BTagMu_AK8Jet{}_Mu5", {"300", "170_DoubleMu5"}, O::FatJet, 0.03f},
    {"HLT_BTagMu_AK4DiJet{}_Mu5_noalgo", {"20", "40", "70", "110", "170"}, O::Jet, 0.03f},
    {"HLT_BTagMu_AK4Jet{}_Mu5_noalgo", {"300"}, O::Jet, 0.03f},
    {"HLT_BTagMu_AK8DiJet{}_Mu5_noalgo", {"170"}, O::FatJet, 0.03f},
    {"HLT_BTagMu_AK8Jet{}_Mu5_noalgo", {"300", "170_DoubleMu5"}, O::FatJet, 0.03f},
    // HT
    {"HLT_PFHT{}", {"180", "250", "370", "430", "510", "590", "680", "780", "890", "1050"}, O::HT, 0.95f},
    {"HLT_PFHT{}_PFMET100_PFMHT100_IDTight", {"500", "700"}, O::HT, 0.2f},
    {"HLT_PFHT{}_PFMET110_PFMHT110_IDTight", {"500", "700", "800"}, O::HT, 0.15f},
    {"HLT_PFHT{}_SixPFJet32_DoublePFBTagDeepCSV_2p94", {"380"}, O::HT, 0.05f},
    {"HLT_PFHT{}_SixPFJet32", {"380", "430"}, O::HT, 0.2f},
    {"HLT_PFHT{}_SixPFJet36_PFBTagDeepCSV_1p59", {"430"}, O::HT, 0.05f},
    {"HLT_PFHT{}_SixPFJet36", {"430"}, O::HT, 0.2f},
    {"HLT_PFHT{}_SixPFJet32_DoublePFBTagCSV_2p2", {"380", "430"}, O::HT, 0.05f},
    {"HLT_PFHT{}_SixPFJet32_DoublePFBTagDeepCSV_2p2", {"380", "430"}, O::HT, 0.05f},
    {"HLT_PFHT{}_PT30_QuadPFJet_75_60_45_40", {"330", "400"}, O::HT, 0.3f},
    {"HLT_PFHT{}_PT30_QuadPFJet_75_60_45_40_TriplePFBTagCSV_3p0", {"330", "400"}, O::HT, 0.03f},
    {"HLT_PFHT{}PT30_QuadPFJet_75_60_45_40_TriplePFBTagDeepCSV_4p5", {"330", "400"}, O::HT, 0.03f},
    {"HLT_PFHT{}_DiPFJetAve90_PFAlphaT0p51", {"200", "250", "300", "350", "400"}, O::HT, 0.05f},
    {"HLT_AK8PFHT{}_TrimMass50", {"750", "800", "850", "900"}, O::HT, 0.6f},
    {"HLT_HT{}_DisplacedDijet40_DisplacedTrack", {"425", "430"}, O::HT, 0.02f},
    {"HLT_HT{}_DisplacedDijet60_Inclusive", {"400", "430", "500", "550", "650"}, O::HT, 0.02f},
    {"HLT_HT{}_DisplacedDijet80_Inclusive", {"650", "750"}, O::HT, 0.02f},
    {"HLT_HT{}_DisplacedDijet40_Inclusive", {"400", "430", "500", "550"}, O::HT, 0.02f},
    {"HLT_CaloMHT{}", {"90"}, O::MET, 0.4f},
    {"HLT_Rsq{}", {"0p35", "0p40"}, O::None, 0.01f},
    {"HLT_RsqMR{}_Rsq0p09_MR200", {"300", "320"}, O::None, 0.01f},
    {"HLT_RsqMR{}_Rsq0p09_MR200_4jet", {"300", "320"}, O::None, 0.01f},
    // MET
    {"HLT_PFMET{}_PFMHT{}_IDTight", {"110", "120", "130", "140"}, O::MET, 0.8f},
    {"HLT_PFMETNoMu{}_PFMHTNoMu{}_IDTight", {"110", "120", "130", "140"}, O::MET, 0.8f},
    {"HLT_PFMETTypeOne{}_PFMHT{}_IDTight", {"110", "120", "130", "140"}, O::MET, 0.75f},
    {"HLT_PFMET{}_PFMHT{}_IDTight_CaloBTagDeepCSV_3p1", {"100", "110", "120", "130", "140"}, O::MET, 0.1f},
    {"HLT_PFMET{}_PFMHT{}_IDTight_PFHT60", {"120"}, O::MET, 0.7f},
    {"HLT_PFMETNoMu{}_PFMHTNoMu{}_IDTight_PFHT60", {"120"}, O::MET, 0.7f},
    {"HLT_PFMETTypeOne{}_PFMHT{}_IDTight_PFHT60", {"120"}, O::MET, 0.7f},
    {"HLT_MonoCentralPFJet80_PFMETNoMu{}_PFMHTNoMu{}_IDTight", {"110", "120", "130", "140"}, O::MET, 0.6f},
    {"HLT_PFMET{}_NotCleaned", {"200", "250", "300"}, O::MET, 0.9f},
    {"HLT_PFMET{}_HBHECleaned", {"200", "250", "300"}, O::MET, 0.9f},
    {"HLT_PFMET{}_BeamHaloCleaned", {"200", "250", "300"}, O::MET, 0.9f},
    {"HLT_PFMET{}_HBHE_BeamHaloCleaned", {"200", "250", "300"}, O::MET, 0.9f},
    {"HLT_PFMETTypeOne{}_HBHE_BeamHaloCleaned", {"140", "200"}, O::MET, 0.9f},
    {"HLT_MET{}_IsoTrk50", {"105", "120"}, O::MET, 0.1f},
    {"HLT_CaloMET{}_HBHECleaned", {"80", "90", "100", "110", "250", "300", "350"}, O::MET, 0.8f},
    {"HLT_CaloMET{}_NotCleaned", {"70", "80", "90", "100", "110", "250", "300", "350"}, O::MET, 0.8f},
    {"HLT_PFMET{}_PFMHT{}_IDTight_PFHT60_L1ETMnoHF", {"100"}, O::MET, 0.5f},
    {"HLT_DiCentralPFJet{}_PFMET110", {"55"}, O::MET, 0.1f},
    // calibration, minimum bias and the rest
    {"HLT_{}", {"ZeroBias", "Physics", "Random", "EcalCalibration", "HcalCalibration", "HcalNZS", "HcalPhiSym",
                "HcalIsolatedbunch", "IsoTrackHB", "IsoTrackHE", "ZeroBias_Alignment", "ZeroBias_Beamspot",
                "ZeroBias_IsolatedBunches", "ZeroBias_FirstBXAfterTrain", "ZeroBias_FirstCollisionAfterAbortGap",
                "ZeroBias_FirstCollisionInTrain", "ZeroBias_LastCollisionInTrain", "Physics_part0", "Physics_part1",
                "Physics_part2", "Physics_part3", "Physics_part4", "Physics_part5", "Physics_part6", "Physics_part7",
                "ZeroBias_part0", "ZeroBias_part1", "ZeroBias_part2", "ZeroBias_part3", "ZeroBias_part4",
                "ZeroBias_part5", "ZeroBias_part6", "ZeroBias_part7", "L1UnpairedBunchBptxMinus",
                "L1UnpairedBunchBptxPlus", "L1NotBptxOR", "L1SingleMu18", "L1SingleMu25", "L1SingleMuCosmics",
                "L2Mu10", "L2Mu10_NoVertex_NoBPTX", "L2Mu10_NoVertex_NoBPTX3BX", "L2Mu40_NoVertex_3Sta_NoBPTX3BX",
                "L2Mu45_NoVertex_3Sta_NoBPTX3BX", "L2Mu50", "CDC_L2cosmic_5_er1p0", "CDC_L2cosmic_5p5_er1p0",
                "UncorrectedJetE30_NoBPTX", "UncorrectedJetE30_NoBPTX3BX", "UncorrectedJetE60_NoBPTX3BX",
                "UncorrectedJetE70_NoBPTX3BX", "OnlineMonitorGroup", "EcalCalibrationBeam",
                "PPSMaxTracksPerArm1", "PPSMaxTracksPerRP4", "L1ETMHadSeeds",
                "FullTrack_Multiplicity85", "FullTrack_Multiplicity100", "FullTrack_Multiplicity130",
                "FullTrack_Multiplicity155", "Trimuon5_3p5_2_Upsilon_Muon", "TrimuonOpen_5_3p5_2_Upsilon_Muon",
                "Tau3Mu_Mu7_Mu1_TkMu1_IsoTau15", "Tau3Mu_Mu7_Mu1_TkMu1_IsoTau15_Charge1",
                "Tau3Mu_Mu7_Mu1_TkMu1_Tau15", "Tau3Mu_Mu7_Mu1_TkMu1_Tau15_Charge1", "DoubleMu3_DCA_PFMET50_PFMHT60",
                "DoubleMu3_DZ_PFMET50_PFMHT60", "DoubleMu3_DZ_PFMET70_PFMHT70", "DoubleMu3_DZ_PFMET90_PFMHT90",
                "DoubleMu3_Trk_Tau3mu", "DoubleMu3_TkMu_DsTau3Mu", "DoubleMu3_Trk_Tau3mu_NoL1Mass",
                "DoubleMu4_Jpsi_NoVertexing", "DoubleMu4_JpsiTrkTrk_Displaced",
                "Mu25_TkMu0_Onia", "Mu25_TkMu0_Phi", "Mu30_TkMu0_Onia",
                "Mu30_TkMu0_Psi", "Mu30_TkMu0_Upsilon", "Mu20_TkMu0_Phi", "Mu25_TkMu0_Upsilon", "Mu4_L1DoubleMu",
                "Mu7p5_L2Mu2_Jpsi", "Mu7p5_L2Mu2_Upsilon", "Mu7p5_Track2_Jpsi", "Mu7p5_Track3p5_Jpsi",
                "Mu7p5_Track7_Jpsi", "Mu7p5_Track2_Upsilon", "Mu7p5_Track3p5_Upsilon", "Mu7p5_Track7_Upsilon",
                "Dimuon10_PsiPrime_Barrel_Seagulls", "Dimuon20_Jpsi_Barrel_Seagulls", "Dimuon10_Upsilon_Barrel_Seagulls",
                "Dimuon12_Upsilon_eta1p5", "Dimuon14_Phi_Barrel_Seagulls", "Dimuon18_PsiPrime",
                "Dimuon24_Upsilon_noCorrL1", "Dimuon24_Phi_noCorrL1", "Dimuon25_Jpsi_noCorrL1",
                "Dimuon18_PsiPrime_noCorrL1", "DiMu4_Ele9_CaloIdL_TrackIdL_DZ_Mass3p8", "DiMu9_Ele9_CaloIdL_TrackIdL",
                "DiMu9_Ele9_CaloIdL_TrackIdL_DZ", "DoubleMu20_7_Mass0to30_Photon23", "DoubleMu20_7_Mass0to30_L1_DM4",
                "DoubleMu20_7_Mass0to30_L1_DM4EG", "Ele28_HighEta_SC20_Mass55",
                "Photon50_R9Id90_HE10_IsoM_EBOnly_PFJetsMJJ300DEta3_PFMET50"},
     O::None, 0.001f},
};

const std::initializer_list<Family> kL1Families = {
    {"L1_SingleMu{}", {"3", "5", "7", "12", "14", "16", "18", "20", "22", "25", "30"}, O::Muon, 0.95f},
    {"L1_SingleMu{}_BMTF", {"22"}, O::Muon, 0.5f},
    {"L1_SingleMu{}_OMTF", {"22"}, O::Muon, 0.3f},
    {"L1_SingleMu{}_EMTF", {"22"}, O::Muon, 0.3f},
    {"L1_SingleMu{}_DQ", {"0_BMTF", "0_EMTF", "0_OMTF"}, O::Muon, 0.3f},
    {"L1_SingleMuOpen{}", {"", "_NotBptxOR", "_er1p4_NotBptxOR_3BX", "_er1p1_NotBptxOR_3BX"}, O::None, 0.3f},
    {"L1_SingleMuCosmics{}", {"", "_BMTF", "_EMTF", "_OMTF"}, O::None, 0.0f},
    {"L1_DoubleMu{}_SQ", {"0", "0er1p5", "0er1p4", "4"}, O::Muon, 0.05f},
    {"L1_DoubleMu{}_OS", {"0_SQ", "0er1p5_SQ", "4_SQ", "5_SQ"}, O::Muon, 0.04f},
    {"L1_DoubleMu{}", {"_12_5", "_15_5_SQ", "_15_7", "_15_7_Mass_Min1", "_15_7_SQ", "3_OS_DoubleEG7p5Upsilon", "3_SQ_ETMHF50_HTT60er",
                       "3_SQ_ETMHF50_Jet60er2p5", "3_SQ_ETMHF50_Jet60er2p5_OR_DoubleJet40er2p5", "3_SQ_ETMHF60_Jet60er2p5",
                       "3_SQ_HTT220er", "3_SQ_HTT240er", "3_SQ_HTT260er", "0er2p0_SQ_dEta_Max1p5", "0er2p0_SQ_dEta_Max1p6",
                       "0er1p5_SQ_dR_Max1p4", "0er1p5_SQ_OS_dR_Max1p4", "4_SQ_OS_dR_Max1p2", "4p5_SQ_OS_dR_Max1p2",
                       "4p5er2p0_SQ_OS_Mass_Min7", "4p5er2p0_SQ_OS_Mass7to18", "5_SQ_OS_Mass7to18", "8_SQ", "9_SQ",
                       "18er2p1", "0_OS", "0er1p4_OS_SQ_dR_Max1p4", "0er1p5_OS_SQ_dR_Max1p4"},
     O::Muon, 0.05f},
    {"L1_TripleMu{}", {"0", "0_OQ", "0_SQ", "3", "3_SQ", "_5SQ_3SQ_0OQ", "_5SQ_3SQ_0OQ_DoubleMu_5_3_SQ_OS_Mass_Max9",
                       "_5SQ_3SQ_0_DoubleMu_5_3_SQ_OS_Mass_Max9", "_5_3_3", "_5_3_3_SQ", "_5_3p5_2p5",
                       "_5_3p5_2p5_DoubleMu_5_2p5_OS_Mass_5to17", "_5_3p5_2p5_OQ_DoubleMu_5_2p5_OQ_OS_Mass_5to17",
                       "_5_4_2p5_DoubleMu_5_2p5_OS_Mass_5to17", "_5_5_3"},
     O::Muon, 0.01f},
    {"L1_QuadMu{}", {"0", "0_OQ", "0_SQ"}, O::Muon, 0.001f},
    {"L1_SingleEG{}er2p5", {"8", "10", "15", "26", "28", "34", "36", "38", "40", "42", "45", "50", "60"}, O::Electron, 0.9f},
    {"L1_SingleEG{}er2p1", {"28", "34", "36"}, O::Electron, 0.8f},
    {"L1_SingleEG{}er1p5", {"28", "34", "36", "38"}, O::Electron, 0.6f},
    {"L1_SingleIsoEG{}er2p5", {"24", "26", "28", "30", "32"}, O::Electron, 0.8f},
    {"L1_SingleIsoEG{}er2p1", {"24", "26", "28", "30", "32"}, O::Electron, 0.75f},
    {"L1_SingleIsoEG{}", {"24", "26", "28", "30", "32", "34", "36", "38"}, O::Electron, 0.8f},
    {"L1_DoubleEG_{}", {"15_10_er2p5", "20_10_er2p5", "22_10_er2p5", "25_12_er2p5", "25_14_er2p5", "27_14_er2p5",
                        "LooseIso20_10_er2p5", "LooseIso22_10_er2p5", "LooseIso22_12_er2p5", "LooseIso25_12_er2p5",
                        "18_17", "20_18", "22_10", "22_12", "22_15", "23_10", "24_17", "25_12", "25_13", "25_14"},
     O::Electron, 0.05f},
    {"L1_TripleEG{}", {"_16_12_8_er2p5", "_16_15_8_er2p5", "_18_17_8_er2p5", "_18_18_12_er2p5", "16er2p5", "_14_10_8",
                       "_18_17_8", "_LooseIso20_10_5", "_16_15_8"},
     O::Electron, 0.005f},
    {"L1_SingleJet{}", {"35", "60", "90", "120", "140", "160", "180", "200"}, O::Jet, 0.95f},
    {"L1_SingleJet{}er2p5", {"35", "60", "90", "120", "140", "160", "180"}, O::Jet, 0.9f},
    {"L1_SingleJet{}_FWD3p0", {"35", "60", "90", "120"}, O::Jet, 0.1f},
    {"L1_SingleJet{}er3p0", {"35", "60", "90", "120", "140", "160", "180"}, O::Jet, 0.9f},
    {"L1_SingleJet{}_NotBptxOR_3BX", {"20er2p5", "43er2p5", "46er2p5"}, O::None, 0.0f},
    {"L1_DoubleJet{}er2p5", {"40", "100", "112", "120", "150"}, O::Jet, 0.3f},
    {"L1_DoubleJet_{}", {"100_30_DoubleJet30_Mass_Min620", "110_35_DoubleJet35_Mass_Min620",
                         "112_35_DoubleJet35_Mass_Min620", "115_40_DoubleJet40_Mass_Min620",
                         "115_40_DoubleJet40_Mass_Min620_Jet60TT28", "120_45_DoubleJet45_Mass_Min620",
                         "120_45_DoubleJet45_Mass_Min620_Jet60TT28", "80_30_Mass_Min420_DoubleMu0_SQ",
                         "80_30_Mass_Min420_IsoTau40_RmOvlp", "80_30_Mass_Min420_Mu8", "90_30_DoubleJet30_Mass_Min620"},
     O::Jet, 0.02f},
    {"L1_DoubleJet30er2p5_Mass_Min{}_dEta_Max1p5", {"150", "200", "250", "300", "330", "360"}, O::Jet, 0.05f},
    {"L1_TripleJet_{}", {"100_80_70_DoubleJet_80_70_er2p5", "105_85_75_DoubleJet_85_75_er2p5",
                         "95_75_65_DoubleJet_75_65_er2p5", "84_68_48_VBF", "88_72_56_VBF", "92_76_64_VBF"},
     O::Jet, 0.03f},
    {"L1_QuadJet{}er2p5", {"36", "60"}, O::Jet, 0.02f},
    {"L1_HTT{}er", {"120", "160", "200", "255", "280", "320", "360", "400", "450"}, O::HT, 0.9f},
    {"L1_HTT{}er_QuadJet_70_55_40_35_er2p4", {"280", "320"}, O::HT, 0.2f},
    {"L1_HTT{}er_TripleJet_70_55_40", {"320", "340"}, O::HT, 0.2f},
    {"L1_ETM{}", {"100", "105", "110", "115", "120", "150"}, O::MET, 0.8f},
    {"L1_ETMHF{}", {"70", "80", "90", "100", "110", "120", "130", "140", "150"}, O::MET, 0.8f},
    {"L1_ETMHF{}_HTT60er", {"70", "80", "90", "100", "110", "120", "130", "140", "150"}, O::MET, 0.75f},
    {"L1_ETT{}_BptxOR", {"1200", "1600", "2000"}, O::HT, 0.05f},
    {"L1_SingleTau{}er2p1", {"120", "130"}, O::Tau, 0.5f},
    {"L1_DoubleIsoTau{}er2p1", {"28", "30", "32", "34", "35", "36", "38"}, O::Tau, 0.03f},
    {"L1_DoubleIsoTau{}er2p1_Mass_Max80", {"28", "30"}, O::Tau, 0.02f},
    {"L1_DoubleTau{}er2p1", {"50", "70"}, O::Tau, 0.02f},
    {"L1_DoubleTau_{}", {"70er2p1_RmOvlp_IsoTau40", "35_IsoTau26_er2p1", "40_IsoTau26_er2p1"}, O::Tau, 0.01f},
    {"L1_Mu{}", {"5_EG23er2p5", "7_EG20er2p5", "7_EG23er2p5", "20_EG10er2p5", "6_DoubleEG10er2p5",
                 "6_DoubleEG12er2p5", "6_DoubleEG15er2p5", "6_DoubleEG17er2p5", "6_HTT240er", "6_HTT250er",
                 "18er2p1_Tau24er2p1", "18er2p1_Tau26er2p1", "22er2p1_IsoTau28er2p1", "22er2p1_IsoTau30er2p1",
                 "22er2p1_IsoTau32er2p1", "22er2p1_IsoTau34er2p1", "22er2p1_IsoTau36er2p1", "22er2p1_IsoTau40er2p1",
                 "22er2p1_Tau70er2p1"},
     O::Muon, 0.05f},
    {"L1_Mu{}_Jet16er2p5_dR_Max0p4", {"3", "6", "8", "10", "12"}, O::Muon, 0.02f},
    {"L1_Mu{}er2p5_Jet35er2p5_dR_Max0p4", {"3", "6", "8", "10", "12"}, O::Muon, 0.02f},
    {"L1_Mu{}_HTT220er", {"6", "7", "8", "10"}, O::Muon, 0.1f},
    {"L1_LooseIsoEG{}er2p1_IsoTau26er2p1_dR_Min0p3", {"22", "24"}, O::Electron, 0.02f},
    {"L1_LooseIsoEG{}er2p1_Tau70er2p1_dR_Min0p3", {"22", "24", "26", "28"}, O::Electron, 0.02f},
    {"L1_LooseIsoEG{}er2p1_Jet34er2p5_dR_Min0p3", {"26", "28", "30"}, O::Electron, 0.2f},
    {"L1_LooseIsoEG{}er2p1_HTT100er", {"26", "28", "30"}, O::Electron, 0.2f},
    {"L1_SingleMu{}er1p5_DoubleMu4er2p0", {"0", "5", "7"}, O::Muon, 0.01f},
    {"L1_{}", {"ZeroBias", "ZeroBias_copy", "AlwaysTrue", "BptxMinus", "BptxOR", "BptxPlus", "BptxXOR",
               "CDC_SingleMu_3_er1p2_TOP120_DPHI2p618_3p142", "FirstBunchAfterTrain", "FirstBunchBeforeTrain",
               "FirstBunchInTrain", "FirstCollisionInOrbit", "FirstCollisionInTrain", "HCAL_LaserMon_Trig",
               "HCAL_LaserMon_Veto", "IsoTau40er2p1_ETMHF100", "IsoTau40er2p1_ETMHF110", "IsoTau40er2p1_ETMHF80",
               "IsoTau40er2p1_ETMHF90", "IsolatedBunch", "LastBunchInTrain", "LastCollisionInTrain",
               "MinimumBiasHF0_AND_BptxAND", "MinimumBiasHF0_OR_BptxAND", "NotBptxOR", "SecondBunchInTrain",
               "SecondLastBunchInTrain", "TOTEM_1", "TOTEM_2", "TOTEM_3", "TOTEM_4", "UnpairedBunchBptxMinus",
               "UnpairedBunchBptxPlus", "UnprefireableEvent", "ETT1200", "ETT1600", "ETT2000",
               "BptxAND", "BRIL_TRIG0_AND", "BRIL_TRIG0_FstBunchInTrain", "BRIL_TRIG0_OR", "BRIL_TRIG0_delayedAND"},
     O::None, 0.0f},
};

std::vector<Trigger> make_triggers()
{
    std::vector<Trigger> all;
    for (const Family& family : kHltFamilies) expand(family, all);
    for (const Family& family : kL1Families) expand(family, all);
    // Simulation sets the always-on seeds.
    for (Trigger& t : all)
        if (t.name == "L1_ZeroBias" || t.name == "L1_ZeroBias_copy" || t.name == "L1_AlwaysTrue" ||
            t.name == "L1_BptxAND" || t.name == "HLT_ZeroBias")
            t.efficiency = 1;
    return all;
}

}  // namespace

std::span<const Trigger> triggers()
{
    static const std::vector<Trigger> all = make_triggers();
    return all;
}

}  // namespace make_example
