// The collections of an event in file order: the reconstructed objects, and the generic
// ones (generator record, weights, trigger objects, secondary vertices ...) whose fields
// are drawn from a few shapes.
#include "catalogue.h"
#include "field_builders.h"
#include "object_collections.h"

namespace make_example {
namespace {

using namespace fields;

// Generic collection: eta, mass, phi, pt and any extra fields.
enum class WithMass : bool { No, Yes };
Collection simple(std::string_view name, ObjectModel objects, std::vector<Field> extra = {},
                  WithMass with_mass = WithMass::Yes, int8_t bits = 12)
{
    Collection c{name, false, objects, {f("eta", S::Eta, 0, 0, bits)}};
    if (with_mass == WithMass::Yes) c.fields.push_back(f("mass", S::Mass, 0, 0, 10));
    c.fields.push_back(f("phi", S::Phi, 0, 0, bits));
    c.fields.push_back(f("pt", S::Pt, 0, 0, bits));
    c.fields.insert(c.fields.end(), extra.begin(), extra.end());
    return c;
}

// One float per element, the collection's own name: weights, vertices.
Collection values(std::string_view name, ObjectModel objects, Field value)
{
    Collection c{name, false, objects, {value}};
    return c;
}

std::vector<Collection> make_collections()
{
    std::vector<Collection> all;
    // Low-pt jets kept for MET corrections: raw pt only, no mass.
    all.push_back(
        {"CorrT1METJet",
         false,
         {.mean_count = 7, .max_count = 40, .pt_min = 8, .pt_index = 6, .eta_sigma = 2.5, .eta_max = 5},
         {f("area", S::Gauss, 0.5f, 0.05f), f("eta", S::Eta, 0, 0, 12),
          f("muonSubtrFactor", S::Uniform, 0.9f, 1), f("phi", S::Phi, 0, 0, 12),
          f("rawPt", S::Pt, 0, 0, 12)}});
    all.push_back(electrons());
    all.push_back(fat_jets());
    all.push_back(simple("FsrPhoton", {.mean_count = 0.3, .max_count = 6, .pt_min = 2, .pt_index = 3.5},
                         {f("dROverEt2", S::Exponential, 0.01f), full("relIso03", S::Exponential, 0.5f),
                          i32("muonIdx", S::Index, 0.1f, 2)},
                         WithMass::No));
    all.push_back(
        simple("GenJetAK8",
               {.mean_count = 2.2,
                .max_count = 12,
                .pt_min = 100,
                .pt_index = 4.5,
                .eta_sigma = 1.8,
                .eta_max = 4.7,
                .mass_lo = 0.05,
                .mass_hi = 0.3,
                .mass_from_pt = true},
               {i32("partonFlavour", S::Integer, -5, 21), u8("hadronFlavour", S::Geometric, 0.15f, 5)}));
    all.push_back(
        simple("GenJet",
               {.mean_count = 9,
                .max_count = 40,
                .pt_min = 10,
                .pt_index = 3.8,
                .eta_sigma = 2.4,
                .eta_max = 5,
                .mass_lo = 0.05,
                .mass_hi = 0.2,
                .mass_from_pt = true},
               {i32("partonFlavour", S::Integer, -5, 21), u8("hadronFlavour", S::Geometric, 0.15f, 5)}));
    // Generator record: unsorted, mostly massless partons and photons.
    all.push_back(simple("GenPart",
                         {.mean_count = 40,
                          .max_count = 250,
                          .pt_min = 0.5,
                          .pt_index = 2.4,
                          .eta_sigma = 3.5,
                          .eta_max = 12,
                          .mass_lo = 0,
                          .mass_hi = 0.02,
                          .mass_from_pt = true,
                          .massless_fraction = 0.7,
                          .sorted = false},
                         {i32("genPartIdxMother", S::Index, 0.02f, 40), i32("pdgId", S::Integer, -6, 22),
                          i32("status", S::Integer, 1, 2), i32("statusFlags", S::Bitmap, 0, 5)},
                         WithMass::Yes, 10));
    all.push_back(simple("SubGenJetAK8", {.mean_count = 4,
                                          .max_count = 24,
                                          .pt_min = 20,
                                          .pt_index = 3.5,
                                          .eta_sigma = 1.8,
                                          .eta_max = 4.7,
                                          .mass_lo = 0.02,
                                          .mass_hi = 0.2,
                                          .mass_from_pt = true}));
    all.push_back(simple("GenVisTau",
                         {.mean_count = 0.3,
                          .max_count = 6,
                          .pt_min = 10,
                          .pt_index = 3.5,
                          .eta_max = 2.5,
                          .mass_lo = 0.14,
                          .mass_hi = 1.7},
                         {i32("charge", S::Charge), i32("genPartIdxMother", S::Index, 0, 60),
                          i32("status", S::Integer, 0, 15)}));
    all.push_back(values("LHEPdfWeight", {.mean_count = 103, .max_count = 103, .fixed_count = true},
                         full("", S::Gauss, 1, 0.02f)));
    all.push_back(values("LHEReweightingWeight", {.mean_count = 0, .max_count = 1, .fixed_count = true},
                         full("", S::Constant, 1)));
    all.push_back(values("LHEScaleWeight", {.mean_count = 9, .max_count = 9, .fixed_count = true},
                         full("", S::Gauss, 1, 0.1f)));
    all.push_back(values("PSWeight", {.mean_count = 4, .max_count = 4, .fixed_count = true},
                         full("", S::Gauss, 1, 0.05f)));
    all.push_back(jets());
    all.push_back(simple("LHEPart",
                         {.mean_count = 6,
                          .max_count = 12,
                          .pt_min = 10,
                          .pt_index = 3,
                          .eta_sigma = 2.5,
                          .eta_max = 6,
                          .mass_lo = 0,
                          .mass_hi = 0.03,
                          .mass_from_pt = true,
                          .sorted = false},
                         {f("incomingpz", S::Gauss, 0, 500), i32("pdgId", S::Integer, -5, 21),
                          i32("status", S::Integer, -1, 1), i32("spin", S::Integer, -1, 1)}));
    all.push_back(muons());
    all.push_back(photons());
    all.push_back(simple("GenDressedLepton",
                         {.mean_count = 0.8,
                          .max_count = 8,
                          .pt_min = 10,
                          .pt_index = 3.5,
                          .eta_max = 2.5,
                          .mass_lo = 0.000511,
                          .mass_hi = 0.1057},
                         {i32("pdgId", S::PdgId, 13), flag("hasTauAnc", 0.05f)}));
    all.push_back(
        simple("GenIsolatedPhoton", {.mean_count = 0.2, .max_count = 6, .pt_min = 10, .pt_index = 4}));
    all.push_back(
        simple("SoftActivityJet",
               {.mean_count = 5, .max_count = 6, .pt_min = 2, .pt_index = 3, .eta_sigma = 2, .eta_max = 4.7},
               {}, WithMass::No));
    all.push_back(simple("SubJet",
                         {.mean_count = 2.4,
                          .max_count = 16,
                          .pt_min = 20,
                          .pt_index = 3.5,
                          .eta_max = 2.5,
                          .mass_lo = 0.02,
                          .mass_hi = 0.2,
                          .mass_from_pt = true},
                         {f("btagCSVV2", S::Score, 3), f("btagDeepB", S::Score, 4),
                          f("n2b1", S::Uniform, 0, 0.5f), f("n3b1", S::Uniform, 0, 3),
                          f("rawFactor", S::Gauss, 0.05f, 0.03f), f("tau1", S::Uniform, 0.1f, 0.6f),
                          f("tau2", S::Uniform, 0.05f, 0.4f), f("tau3", S::Uniform, 0.03f, 0.3f),
                          f("tau4", S::Uniform, 0.02f, 0.25f), i32("hadronFlavour", S::Geometric, 0.15f, 5),
                          u8("nBHadrons", S::Geometric, 0.2f, 2), u8("nCHadrons", S::Geometric, 0.3f, 3)}));
    all.push_back(taus());
    all.push_back(
        simple("TrigObj",
               {.mean_count = 16, .max_count = 80, .pt_min = 5, .pt_index = 3, .eta_sigma = 2, .eta_max = 5},
               {f("l1pt", S::Quantized, 30, 0.5f), f("l1pt_2", S::Sparse, 0.1f, 10),
                f("l2pt", S::Sparse, 0.2f, 20), i32("id", S::Integer, 1, 22), i32("l1iso", S::Integer, 0, 3),
                i32("l1charge", S::Integer, -1, 1), i32("filterBits", S::Bitmap, 0, 4)},
               WithMass::No));
    all.push_back({"OtherPV",
                   false,
                   {.mean_count = 3, .max_count = 3, .fixed_count = true},
                   {f("z", S::Gauss, 0, 4, 12)}});
    all.push_back(simple(
        "SV",
        {.mean_count = 2.5,
         .max_count = 24,
         .pt_min = 2,
         .pt_index = 3,
         .eta_max = 2.5,
         .mass_lo = 0.3,
         .mass_hi = 5},
        {f("dlen", S::Exponential, 0.5f), f("dlenSig", S::Exponential, 10), f("dxy", S::Exponential, 0.3f),
         f("dxySig", S::Exponential, 8), f("pAngle", S::Exponential, 0.05f), i32("charge", S::Integer, -2, 2),
         f("chi2", S::Exponential, 1), f("ndof", S::Exponential, 2), f("x", S::Gauss, 0.1f, 0.3f),
         f("y", S::Gauss, -0.1f, 0.3f), f("z", S::Gauss, 0, 4), u8("ntracks", S::Integer, 2, 6)}));
    all.push_back(simple(
        "IsoTrack", {.mean_count = 0.8, .max_count = 10, .pt_min = 5, .pt_index = 4, .eta_max = 2.5},
        {f("dxy", S::Gauss, 0, 0.01f), f("dz", S::Gauss, 0, 0.02f),
         full("pfRelIso03_all", S::Exponential, 0.1f), full("pfRelIso03_chg", S::Exponential, 0.05f),
         full("miniPFRelIso_all", S::Exponential, 0.1f), full("miniPFRelIso_chg", S::Exponential, 0.05f),
         i32("fromPV", S::Integer, 0, 3), i32("pdgId", S::PdgId, 211), flag("isHighPurityTrack", 0.95f),
         flag("isPFcand", 0.9f), flag("isFromLostTrack", 0.05f)},
        WithMass::No));
    all.push_back(simple("LowPtElectron",
                         {.mean_count = 0.8,
                          .max_count = 10,
                          .pt_min = 1,
                          .pt_index = 3,
                          .eta_max = 2.5,
                          .mass_lo = 0.000511,
                          .mass_hi = 0.000511},
                         {f("ID", S::Uniform, -1, 8),
                          f("convVtxRadius", S::Exponential, 5),
                          f("deltaEtaSC", S::Gauss, 0, 0.01f),
                          f("dxy", S::Gauss, 0, 0.01f),
                          f("dxyErr", S::Exponential, 0.004f),
                          f("dz", S::Gauss, 0, 0.02f),
                          f("dzErr", S::Exponential, 0.008f),
                          f("eInvMinusPInv", S::Gauss, 0, 0.01f),
                          f("embeddedID", S::Uniform, -1, 8),
                          f("energyErr", S::Exponential, 1),
                          f("hoe", S::Exponential, 0.02f),
                          full("miniPFRelIso_all", S::Exponential, 0.2f),
                          full("miniPFRelIso_chg", S::Exponential, 0.1f),
                          f("ptbiased", S::Uniform, -1, 8),
                          f("r9", S::Uniform, 0.5f, 1),
                          f("scEtOverPt", S::Gauss, 0, 0.05f),
                          f("sieie", S::Exponential, 0.01f, 0.005f),
                          f("unbiased", S::Uniform, -1, 8),
                          i32("charge", S::Charge),
                          i32("convWP", S::Integer, 0, 3),
                          i32("pdgId", S::PdgId, 11),
                          flag("convVeto", 0.9f),
                          u8("lostHits", S::Geometric, 0.2f, 3)}));
    return all;
}

}  // namespace

std::span<const Collection> collections()
{
    static const std::vector<Collection> all = make_collections();
    return all;
}

}  // namespace make_example
