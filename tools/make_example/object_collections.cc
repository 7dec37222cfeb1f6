// The reconstructed-object collections, field by field: electrons, muons, taus, photons,
// jets and fat jets. Kinematic fields keep 10 to 14 mantissa bits, lepton pt and
// isolations keep full precision, as production files do; that sets their compression.
#include "object_collections.h"

#include "field_builders.h"

namespace make_example {

using namespace fields;

namespace {

// Shared tails of the reconstructed-object collections.
void add_gen_match(std::vector<Field>& fields)
{
    fields.push_back(i32("genPartIdx", S::Index, 0.3f, 40));
    fields.push_back(u8("genPartFlav", S::Geometric, 0.3f, 1));
    fields.push_back(u8("cleanmask", S::Constant, 1));
}

}  // namespace

Collection electrons()
{
    Collection c{"Electron", true, {.max_count = 16}, {}};
    c.fields = {
        model("deltaEtaSC", LeafType::Float, 12),
        f("dEscaleDown", S::Gauss, 0, 0.001f),
        f("dEscaleUp", S::Gauss, 0, 0.001f),
        f("dEsigmaDown", S::Gauss, 0, 0.002f),
        f("dEsigmaUp", S::Gauss, 0, 0.002f),
        f("dr03EcalRecHitSumEt", S::Exponential, 3),
        f("dr03HcalDepth1TowerSumEt", S::Exponential, 1.5f),
        f("dr03TkSumPt", S::Exponential, 2),
        f("dr03TkSumPtHEEP", S::Exponential, 2),
        model("dxy", LeafType::Float, 10),
        f("dxyErr", S::Exponential, 0.004f, 0.001f),
        model("dz", LeafType::Float, 10),
        f("dzErr", S::Exponential, 0.008f, 0.002f),
        f("eInvMinusPInv", S::Gauss, 0, 0.01f),
        f("energyErr", S::Exponential, 2, 0.5f),
        f("eta", S::Eta, 0, 0, 12),
        f("hoe", S::Exponential, 0.02f),
        f("ip3d", S::Exponential, 0.01f),
        f("jetPtRelv2", S::Exponential, 3),
        f("jetRelIso", S::Exponential, 0.5f),
        f("mass", S::Mass, 0, 0, 10),
        full("miniPFRelIso_all", S::Exponential, 0.1f),
        full("miniPFRelIso_chg", S::Exponential, 0.05f),
        f("mvaFall17V2Iso", S::Uniform, -1, 1),
        f("mvaFall17V2noIso", S::Uniform, -1, 1),
        full("pfRelIso03_all", S::Exponential, 0.08f),
        full("pfRelIso03_chg", S::Exponential, 0.05f),
        f("phi", S::Phi, 0, 0, 12),
        full("pt", S::Pt),
        f("r9", S::Uniform, 0.5f, 1.0f),
        f("scEtOverPt", S::Gauss, 0, 0.05f),
        f("sieie", S::Exponential, 0.01f, 0.005f),
        f("sip3d", S::Exponential, 2),
        f("mvaTTH", S::Uniform, -1, 1),
        i32("charge", S::Charge),
        model("cutBased", LeafType::Int32),
        i32("jetIdx", S::Index, 0.4f, 6),
        i32("pdgId", S::PdgId, 11),
        i32("photonIdx", S::Index, 0.8f, 3),
        i32("tightCharge", S::Integer, 0, 2),
        i32("vidNestedWPBitmap", S::Bitmap, 0, 10),
        i32("vidNestedWPBitmapHEEP", S::Bitmap, 0, 4),
        flag("convVeto", 0.9f),
        flag("cutBased_HEEP", 0.1f),
        flag("isPFcand", 0.95f),
        u8("jetNDauCharged", S::Integer, 0, 20),
        u8("lostHits", S::Geometric, 0.2f, 3),
        flag("mvaFall17V2Iso_WP80", 0.5f),
        flag("mvaFall17V2Iso_WP90", 0.6f),
        flag("mvaFall17V2Iso_WPL", 0.8f),
        flag("mvaFall17V2noIso_WP80", 0.5f),
        flag("mvaFall17V2noIso_WP90", 0.6f),
        flag("mvaFall17V2noIso_WPL", 0.8f),
        u8("seedGain", S::Constant, 12),
    };
    add_gen_match(c.fields);
    return c;
}

Collection muons()
{
    Collection c{"Muon", true, {.max_count = 16}, {}};
    c.fields = {
        f("dxy", S::Gauss, 0, 0.003f),
        f("dxyErr", S::Exponential, 0.002f, 0.0005f),
        f("dxybs", S::Gauss, 0, 0.003f),
        f("dz", S::Gauss, 0, 0.01f),
        f("dzErr", S::Exponential, 0.004f, 0.001f),
        f("eta", S::Eta, 0, 0, 12),
        f("ip3d", S::Exponential, 0.005f),
        f("jetPtRelv2", S::Exponential, 3),
        f("jetRelIso", S::Exponential, 0.5f),
        f("mass", S::Mass, 0, 0, 10),
        full("miniPFRelIso_all", S::Exponential, 0.1f),
        full("miniPFRelIso_chg", S::Exponential, 0.05f),
        full("pfRelIso03_all", S::Exponential, 0.1f),
        full("pfRelIso03_chg", S::Exponential, 0.05f),
        model("pfRelIso04_all", LeafType::Float),
        f("phi", S::Phi, 0, 0, 12),
        full("pt", S::Pt),
        f("ptErr", S::Exponential, 1, 0.2f),
        f("segmentComp", S::Uniform, 0, 1),
        f("sip3d", S::Exponential, 2),
        f("softMva", S::Uniform, -1, 1),
        full("tkRelIso", S::Exponential, 0.05f),
        f("tunepRelPt", S::Gauss, 1, 0.02f),
        f("mvaLowPt", S::Uniform, -1, 1),
        f("mvaTTH", S::Uniform, -1, 1),
        i32("charge", S::Charge),
        i32("jetIdx", S::Index, 0.5f, 6),
        i32("nStations", S::Integer, 1, 4),
        i32("nTrackerLayers", S::Integer, 6, 18),
        i32("pdgId", S::PdgId, 13),
        i32("tightCharge", S::Geometric, 0.1f, 2),
        i32("fsrPhotonIdx", S::Index, 0.95f, 2),
        u8("highPtId", S::Geometric, 0.3f, 2),
        flag("highPurity", 0.95f),
        flag("inTimeMuon", 0.98f),
        flag("isGlobal", 0.9f),
        flag("isPFcand", 0.97f),
        flag("isStandalone", 0.9f),
        flag("isTracker", 0.98f),
        u8("jetNDauCharged", S::Integer, 0, 15),
        flag("looseId", 0.95f),
        flag("mediumId", 0.85f),
        flag("mediumPromptId", 0.8f),
        u8("miniIsoId", S::Geometric, 0.6f, 4),
        u8("multiIsoId", S::Geometric, 0.3f, 2),
        u8("mvaId", S::Geometric, 0.5f, 4),
        u8("mvaLowPtId", S::Geometric, 0.5f, 4),
        u8("pfIsoId", S::Geometric, 0.6f, 6),
        u8("puppiIsoId", S::Geometric, 0.6f, 3),
        flag("softId", 0.5f),
        flag("softMvaId", 0.4f),
        model("tightId", LeafType::Bool),
        u8("tkIsoId", S::Geometric, 0.5f, 2),
        flag("triggerIdLoose", 0.9f),
    };
    add_gen_match(c.fields);
    return c;
}

Collection taus()
{
    Collection c{"Tau",
                 false,
                 {.mean_count = 1.4,
                  .max_count = 12,
                  .pt_min = 18,
                  .pt_index = 4.2,
                  .eta_sigma = 1.3,
                  .eta_max = 2.3,
                  .mass_lo = 0.14,
                  .mass_hi = 1.8},
                 {}};
    c.fields = {
        f("chargedIso", S::Exponential, 2),
        f("dxy", S::Gauss, 0, 0.005f),
        f("dz", S::Gauss, 0, 0.01f),
        f("eta", S::Eta, 0, 0, 12),
        f("leadTkDeltaEta", S::Gauss, 0, 0.02f),
        f("leadTkDeltaPhi", S::Gauss, 0, 0.02f),
        f("leadTkPtOverTauPt", S::Uniform, 0.2f, 1),
        f("mass", S::Mass, 0, 0, 10),
        f("neutralIso", S::Exponential, 3),
        f("phi", S::Phi, 0, 0, 12),
        f("photonsOutsideSignalCone", S::Exponential, 0.5f),
        f("pt", S::Pt, 0, 0, 12),
        f("puCorr", S::Exponential, 5),
        f("rawDeepTau2017v2p1VSe", S::Score, 1),
        f("rawDeepTau2017v2p1VSjet", S::Score, 2),
        f("rawDeepTau2017v2p1VSmu", S::Score, 0.5f),
        f("rawIso", S::Exponential, 3),
        f("rawIsodR03", S::Exponential, 3),
        f("rawMVAnewDM2017v2", S::Uniform, -1, 1),
        f("rawMVAoldDM", S::Uniform, -1, 1),
        f("rawMVAoldDM2017v1", S::Uniform, -1, 1),
        f("rawMVAoldDM2017v2", S::Uniform, -1, 1),
        f("rawMVAoldDMdR032017v2", S::Uniform, -1, 1),
        i32("charge", S::Charge),
        i32("decayMode", S::Integer, 0, 11),
        i32("jetIdx", S::Index, 0.1f, 8),
        i32("rawAntiEleCat", S::Integer, -1, 15),
        u8("idAntiEle", S::Geometric, 0.6f, 5),
        flag("idAntiEleDeadECal", 0.95f),
        u8("idAntiMu", S::Geometric, 0.6f, 3),
        u8("idDeepTau2017v2p1VSe", S::Geometric, 0.7f, 8),
        u8("idDeepTau2017v2p1VSjet", S::Geometric, 0.5f, 8),
        u8("idDeepTau2017v2p1VSmu", S::Geometric, 0.8f, 4),
        flag("idDecayModeOldDMs", 0.8f),
        u8("idMVAnewDM2017v2", S::Geometric, 0.5f, 7),
        u8("idMVAoldDM", S::Geometric, 0.5f, 6),
        u8("idMVAoldDM2017v1", S::Geometric, 0.5f, 7),
        u8("idMVAoldDM2017v2", S::Geometric, 0.5f, 7),
        u8("idMVAoldDMdR032017v2", S::Geometric, 0.5f, 7),
    };
    add_gen_match(c.fields);
    return c;
}

Collection photons()
{
    Collection c{
        "Photon",
        false,
        {.mean_count = 1.2, .max_count = 12, .pt_min = 15, .pt_index = 4, .eta_sigma = 1.4, .eta_max = 2.5},
        {}};
    c.fields = {
        f("dEscaleDown", S::Gauss, 0, 0.001f),
        f("dEscaleUp", S::Gauss, 0, 0.001f),
        f("dEsigmaDown", S::Gauss, 0, 0.002f),
        f("dEsigmaUp", S::Gauss, 0, 0.002f),
        f("energyErr", S::Exponential, 1, 0.3f),
        f("eta", S::Eta, 0, 0, 12),
        f("hoe", S::Exponential, 0.02f),
        f("mass", S::Mass),
        f("mvaID", S::Uniform, -1, 1),
        f("mvaID_Fall17V1p1", S::Uniform, -1, 1),
        full("pfRelIso03_all", S::Exponential, 0.3f),
        full("pfRelIso03_chg", S::Exponential, 0.2f),
        f("phi", S::Phi, 0, 0, 12),
        f("pt", S::Pt, 0, 0, 12),
        f("r9", S::Uniform, 0.5f, 1),
        f("sieie", S::Exponential, 0.01f, 0.005f),
        i32("charge", S::Constant, 0),
        i32("cutBased", S::Geometric, 0.4f, 3),
        i32("cutBased_Fall17V1Bitmap", S::Geometric, 0.4f, 7),
        i32("electronIdx", S::Index, 0.8f, 3),
        i32("jetIdx", S::Index, 0.3f, 8),
        i32("pdgId", S::Constant, 22),
        i32("vidNestedWPBitmap", S::Bitmap, 0, 7),
        flag("electronVeto", 0.8f),
        flag("isScEtaEB", 0.75f),
        flag("isScEtaEE", 0.25f),
        flag("mvaID_WP80", 0.4f),
        flag("mvaID_WP90", 0.5f),
        flag("pixelSeed", 0.2f),
        u8("seedGain", S::Constant, 12),
    };
    add_gen_match(c.fields);
    return c;
}

Collection jets()
{
    Collection c{"Jet", true, {.max_count = 40}, {}};
    c.fields = {
        f("area", S::Gauss, 0.5f, 0.03f),
        f("btagCSVV2", S::Score, 3),
        f("btagDeepB", S::Score, 4),
        f("btagDeepCvB", S::Score, 1.5f),
        f("btagDeepCvL", S::Score, 2),
        f("btagDeepFlavB", S::Score, 5),
        f("btagDeepFlavCvB", S::Score, 1.5f),
        f("btagDeepFlavCvL", S::Score, 2),
        f("btagDeepFlavQG", S::Score, 1),
        f("chEmEF", S::Score, 4),
        f("chFPV0EF", S::Uniform, 0, 1),
        f("chHEF", S::Uniform, 0, 1),
        f("eta", S::Eta, 0, 0, 12),
        f("hfsigmaEtaEta", S::Exponential, 0.02f),
        f("hfsigmaPhiPhi", S::Exponential, 0.02f),
        f("mass", S::Mass, 0, 0, 10),
        f("muEF", S::Score, 8),
        f("muonSubtrFactor", S::Uniform, 0.9f, 1),
        f("neEmEF", S::Score, 2),
        f("neHEF", S::Score, 2),
        f("phi", S::Phi, 0, 0, 12),
        f("pt", S::Pt, 0, 0, 14),
        f("puIdDisc", S::Uniform, -1, 1),
        f("qgl", S::Uniform, 0, 1),
        f("rawFactor", S::Gauss, 0.1f, 0.05f),
        f("bRegCorr", S::Gauss, 1, 0.1f),
        f("bRegRes", S::Exponential, 0.1f, 0.05f),
        f("cRegCorr", S::Gauss, 1, 0.1f),
        f("cRegRes", S::Exponential, 0.1f, 0.05f),
        i32("electronIdx1", S::Index, 0.95f, 2),
        i32("electronIdx2", S::Index, 0.99f, 2),
        i32("hfadjacentEtaStripsSize", S::Geometric, 0.1f, 3),
        i32("hfcentralEtaStripSize", S::Geometric, 0.1f, 3),
        i32("jetId", S::Geometric, 0.05f, 6),
        i32("muonIdx1", S::Index, 0.95f, 2),
        i32("muonIdx2", S::Index, 0.99f, 2),
        i32("nElectrons", S::Geometric, 0.05f, 2),
        i32("nMuons", S::Geometric, 0.05f, 2),
        i32("puId", S::Geometric, 0.3f, 7),
        u8("nConstituents", S::Integer, 2, 60),
        i32("genJetIdx", S::Index, 0.2f, 10),
        i32("hadronFlavour", S::Geometric, 0.15f, 5),
        i32("partonFlavour", S::Integer, -5, 21),
        u8("cleanmask", S::Constant, 1),
    };
    return c;
}

Collection fat_jets()
{
    Collection c{"FatJet", true, {.max_count = 8}, {}};
    c.fields = {
        f("area", S::Gauss, 2.0f, 0.05f),
        f("btagCSVV2", S::Score, 3),
        f("btagDDBvLV2", S::Score, 3),
        f("btagDDCvBV2", S::Score, 2),
        f("btagDDCvLV2", S::Score, 3),
        f("btagDeepB", S::Score, 4),
        f("btagHbb", S::Uniform, -1, 1),
        f("deepTagMD_H4qvsQCD", S::Score, 3),
        f("deepTagMD_HbbvsQCD", S::Score, 3),
        f("deepTagMD_TvsQCD", S::Score, 2),
        f("deepTagMD_WvsQCD", S::Score, 2),
        f("deepTagMD_ZHbbvsQCD", S::Score, 3),
        f("deepTagMD_ZHccvsQCD", S::Score, 3),
        f("deepTagMD_ZbbvsQCD", S::Score, 3),
        f("deepTagMD_ZvsQCD", S::Score, 2),
        f("deepTagMD_bbvsLight", S::Score, 3),
        f("deepTagMD_ccvsLight", S::Score, 3),
        f("deepTag_H", S::Score, 3),
        f("deepTag_QCD", S::Score, 0.5f),
        f("deepTag_QCDothers", S::Score, 1),
        f("deepTag_TvsQCD", S::Score, 2),
        f("deepTag_WvsQCD", S::Score, 2),
        f("deepTag_ZvsQCD", S::Score, 2),
        f("eta", S::Eta, 0, 0, 12),
        f("lsf3", S::Uniform, 0, 1),
        f("mass", S::Mass, 0, 0, 12),
        model("msoftdrop", LeafType::Float, 12),
        f("n2b1", S::Uniform, 0, 0.5f),
        f("n3b1", S::Uniform, 0, 3),
        model("particleNetMD_QCD", LeafType::Float, 12),
        model("particleNetMD_Xbb", LeafType::Float, 12),
        f("particleNetMD_Xcc", S::Score, 3),
        f("particleNetMD_Xqq", S::Score, 3),
        f("particleNet_H4qvsQCD", S::Score, 3),
        f("particleNet_HbbvsQCD", S::Score, 3),
        f("particleNet_HccvsQCD", S::Score, 3),
        f("particleNet_QCD", S::Score, 0.5f),
        f("particleNet_TvsQCD", S::Score, 2),
        f("particleNet_WvsQCD", S::Score, 2),
        f("particleNet_ZvsQCD", S::Score, 2),
        model("particleNet_mass", LeafType::Float, 12),
        f("phi", S::Phi, 0, 0, 12),
        f("pt", S::Pt, 0, 0, 14),
        f("rawFactor", S::Gauss, 0.05f, 0.03f),
        f("tau1", S::Uniform, 0.1f, 0.6f),
        f("tau2", S::Uniform, 0.05f, 0.4f),
        f("tau3", S::Uniform, 0.03f, 0.3f),
        f("tau4", S::Uniform, 0.02f, 0.25f),
        i32("electronIdx3SJ", S::Index, 0.95f, 2),
        i32("genJetAK8Idx", S::Index, 0.2f, 3),
        i32("hadronFlavour", S::Geometric, 0.15f, 5),
        i32("jetId", S::Geometric, 0.05f, 6),
        i32("muonIdx3SJ", S::Index, 0.95f, 2),
        u8("nBHadrons", S::Geometric, 0.2f, 2),
        u8("nCHadrons", S::Geometric, 0.3f, 3),
        u8("nConstituents", S::Integer, 20, 120),
        i32("subJetIdx1", S::Index, 0.05f, 6),
        i32("subJetIdx2", S::Index, 0.1f, 6),
    };
    return c;
}

}  // namespace make_example
