// Per-event quantities: identifiers, generator and pile-up information, weights, MET
// variants, vertices, event filters. MET and weights keep full float precision.
#include <numbers>

#include "catalogue.h"
#include "field_builders.h"

namespace make_example {
namespace {

using namespace fields;

// A MET flavour: phi, pt, sumEt.
void add_met(std::vector<Field>& out, std::string_view phi, std::string_view pt, std::string_view sum_et,
             float mean_pt, int8_t bits)
{
    out.push_back(f(phi, S::Phi, 0, 0, bits));
    out.push_back(f(pt, S::Exponential, mean_pt, 0, bits));
    if (!sum_et.empty()) out.push_back(f(sum_et, S::Exponential, 700, 150, bits));
}

std::vector<Field> make_event_fields()
{
    std::vector<Field> v = {
        model("run", LeafType::UInt32),       model("luminosityBlock", LeafType::UInt32),
        model("event", LeafType::UInt64),     f("HTXS_Higgs_pt", S::Exponential, 80),
        f("HTXS_Higgs_y", S::Gauss, 0, 1.5f),
    };
    for (std::string_view cat :
         {"HTXS_stage1_1_cat_pTjet25GeV", "HTXS_stage1_1_cat_pTjet30GeV", "HTXS_stage1_1_fine_cat_pTjet25GeV",
          "HTXS_stage1_1_fine_cat_pTjet30GeV", "HTXS_stage1_2_cat_pTjet25GeV", "HTXS_stage1_2_cat_pTjet30GeV",
          "HTXS_stage1_2_fine_cat_pTjet25GeV", "HTXS_stage1_2_fine_cat_pTjet30GeV", "HTXS_stage_0",
          "HTXS_stage_1_pTjet25", "HTXS_stage_1_pTjet30"})
        v.push_back(i32(cat, S::Constant, 0));
    v.push_back(u8("HTXS_njets25", S::Geometric, 0.6f, 10));
    v.push_back(u8("HTXS_njets30", S::Geometric, 0.55f, 10));
    v.push_back(full("btagWeight_CSVV2", S::Gauss, 1, 0.05f));
    v.push_back(full("btagWeight_DeepCSVB", S::Gauss, 1, 0.05f));
    add_met(v, "CaloMET_phi", "CaloMET_pt", "CaloMET_sumEt", 45, 12);
    add_met(v, "ChsMET_phi", "ChsMET_pt", "ChsMET_sumEt", 40, 12);
    add_met(v, "DeepMETResolutionTune_phi", "DeepMETResolutionTune_pt", "", 35, 12);
    add_met(v, "DeepMETResponseTune_phi", "DeepMETResponseTune_pt", "", 38, 12);
    v.insert(v.end(), {
                          f("Generator_binvar", S::Exponential, 100),
                          f("Generator_scalePDF", S::Exponential, 100, 10),
                          model("Generator_weight", LeafType::Float),
                          f("Generator_x1", S::Score, 3),
                          f("Generator_x2", S::Score, 3),
                          f("Generator_xpdf1", S::Exponential, 1),
                          f("Generator_xpdf2", S::Exponential, 1),
                          i32("Generator_id1", S::Integer, -5, 21),
                          i32("Generator_id2", S::Integer, -5, 21),
                          f("GenVtx_x", S::Gauss, 0.01f, 0.001f),
                          f("GenVtx_y", S::Gauss, 0.04f, 0.001f),
                          f("GenVtx_z", S::Gauss, 0, 3.5f, 12),
                          f("GenVtx_t0", S::Gauss, 0, 0.2f),
                          model("genWeight", LeafType::Float),
                          model("LHEWeight_originalXWGTUP", LeafType::Float),
                          f("LHE_HT", S::Exponential, 300),
                          f("LHE_HTIncoming", S::Exponential, 250),
                          f("LHE_Vpt", S::Exponential, 50),
                          full("LHE_AlphaS", S::Constant, 0.118f),
                          u8("LHE_Njets", S::Integer, 0, 4),
                          u8("LHE_Nb", S::Geometric, 0.3f, 4),
                          u8("LHE_Nc", S::Geometric, 0.2f, 4),
                          u8("LHE_Nuds", S::Geometric, 0.5f, 4),
                          u8("LHE_Nglu", S::Geometric, 0.4f, 4),
                          u8("LHE_NpNLO", S::Constant, 0),
                          u8("LHE_NpLO", S::Integer, 0, 4),
                      });
    add_met(v, "GenMET_phi", "GenMET_pt", "", 35, 12);
    v.insert(v.end(), {
                          full("MET_MetUnclustEnUpDeltaX", S::Gauss, 0, 2),
                          full("MET_MetUnclustEnUpDeltaY", S::Gauss, 0, 2),
                          full("MET_covXX", S::Exponential, 200),
                          full("MET_covXY", S::Gauss, 0, 50),
                          full("MET_covYY", S::Exponential, 200),
                          model("MET_phi", LeafType::Float),
                          model("MET_pt", LeafType::Float),
                          full("MET_significance", S::Exponential, 5),
                          full("MET_sumEt", S::Exponential, 900, 100),
                          full("MET_sumPtUnclustered", S::Exponential, 300, 50),
                          full("MET_fiducialGenPhi", S::Phi),
                          full("MET_fiducialGenPt", S::Exponential, 40),
                          model("Pileup_nTrueInt", LeafType::Float),
                          f("Pileup_pudensity", S::Exponential, 0.5f),
                          f("Pileup_gpudensity", S::Exponential, 0.5f),
                          model("Pileup_nPU", LeafType::Int32),
                          i32("Pileup_sumEOOT", S::Integer, 10, 150),
                          i32("Pileup_sumLOOT", S::Integer, 0, 40),
                      });
    for (std::string_view phi :
         {"PuppiMET_phi", "PuppiMET_phiJERDown", "PuppiMET_phiJERUp", "PuppiMET_phiJESDown",
          "PuppiMET_phiJESUp", "PuppiMET_phiUnclusteredDown", "PuppiMET_phiUnclusteredUp"})
        v.push_back(f(phi, S::Phi, 0, 0, 12));
    for (std::string_view pt : {"PuppiMET_pt", "PuppiMET_ptJERDown", "PuppiMET_ptJERUp", "PuppiMET_ptJESDown",
                                "PuppiMET_ptJESUp", "PuppiMET_ptUnclusteredDown", "PuppiMET_ptUnclusteredUp"})
        v.push_back(f(pt, S::Exponential, 38, 0, 12));
    v.push_back(f("PuppiMET_sumEt", S::Exponential, 600, 100, 12));
    add_met(v, "RawMET_phi", "RawMET_pt", "RawMET_sumEt", 40, 12);
    add_met(v, "RawPuppiMET_phi", "RawPuppiMET_pt", "RawPuppiMET_sumEt", 36, 12);
    for (std::string_view rho :
         {"fixedGridRhoFastjetAll", "fixedGridRhoFastjetCentral", "fixedGridRhoFastjetCentralCalo",
          "fixedGridRhoFastjetCentralChargedPileUp", "fixedGridRhoFastjetCentralNeutral"})
        v.push_back(model(rho, LeafType::Float, 12));
    v.insert(v.end(), {
                          f("SoftActivityJetHT", S::Exponential, 60),
                          f("SoftActivityJetHT10", S::Exponential, 20),
                          f("SoftActivityJetHT2", S::Exponential, 40),
                          f("SoftActivityJetHT5", S::Exponential, 30),
                          i32("SoftActivityJetNjets10", S::Geometric, 0.4f, 10),
                          i32("SoftActivityJetNjets2", S::Geometric, 0.7f, 20),
                          i32("SoftActivityJetNjets5", S::Geometric, 0.55f, 15),
                      });
    add_met(v, "TkMET_phi", "TkMET_pt", "TkMET_sumEt", 30, 12);
    v.push_back(i32("genTtbarId", S::Constant, 0));
    for (std::string_view w :
         {"L1PreFiringWeight_Dn", "L1PreFiringWeight_ECAL_Dn", "L1PreFiringWeight_ECAL_Nom",
          "L1PreFiringWeight_ECAL_Up", "L1PreFiringWeight_Muon_Nom", "L1PreFiringWeight_Muon_StatDn",
          "L1PreFiringWeight_Muon_StatUp", "L1PreFiringWeight_Muon_SystDn", "L1PreFiringWeight_Muon_SystUp",
          "L1PreFiringWeight_Nom", "L1PreFiringWeight_Up"})
        v.push_back(full(w, S::Gauss, 0.99f, 0.008f));
    v.insert(v.end(), {
                          f("PV_ndof", S::Exponential, 60, 10),
                          f("PV_x", S::Gauss, 0.01f, 0.002f),
                          f("PV_y", S::Gauss, 0.04f, 0.002f),
                          f("PV_z", S::Gauss, 0, 4, 12),
                          f("PV_chi2", S::Exponential, 1),
                          f("PV_score", S::Exponential, 5000, 100),
                          model("PV_npvs", LeafType::Int32),
                          model("PV_npvsGood", LeafType::Int32),
                      });
    for (std::string_view filter : {"Flag_HBHENoiseFilter",
                                    "Flag_HBHENoiseIsoFilter",
                                    "Flag_CSCTightHaloFilter",
                                    "Flag_CSCTightHaloTrkMuUnvetoFilter",
                                    "Flag_CSCTightHalo2015Filter",
                                    "Flag_globalTightHalo2016Filter",
                                    "Flag_globalSuperTightHalo2016Filter",
                                    "Flag_HcalStripHaloFilter",
                                    "Flag_hcalLaserEventFilter",
                                    "Flag_EcalDeadCellTriggerPrimitiveFilter",
                                    "Flag_EcalDeadCellBoundaryEnergyFilter",
                                    "Flag_ecalBadCalibFilter",
                                    "Flag_goodVertices",
                                    "Flag_eeBadScFilter",
                                    "Flag_ecalLaserCorrFilter",
                                    "Flag_trkPOGFilters",
                                    "Flag_chargedHadronTrackResolutionFilter",
                                    "Flag_muonBadTrackFilter",
                                    "Flag_BadChargedCandidateFilter",
                                    "Flag_BadPFMuonFilter",
                                    "Flag_BadPFMuonDzFilter",
                                    "Flag_hfNoisyHitsFilter",
                                    "Flag_BadChargedCandidateSummer16Filter",
                                    "Flag_BadPFMuonSummer16Filter",
                                    "Flag_trkPOG_manystripclus53X",
                                    "Flag_trkPOG_toomanystripclus53X",
                                    "Flag_trkPOG_logErrorTooManyClusters",
                                    "Flag_METFilters"})
        v.push_back(flag(filter, 0.995f));
    for (std::string_view step :
         {"L1Reco_step", "L1simulation_step", "HLTriggerFirstPath", "HLTriggerFinalPath"})
        v.push_back(flag(step, 1));
    return v;
}

}  // namespace

std::span<const Field> event_fields()
{
    static const std::vector<Field> all = make_event_fields();
    return all;
}

}  // namespace make_example
