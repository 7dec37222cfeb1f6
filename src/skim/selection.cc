#include "selection.h"

#include <cmath>

#include "Math/VectorUtil.h"

SelectionStep lepton_selection_step(std::vector<LorentzVector>& veto_lep_p4s,
                                    std::vector<LorentzVector>& tight_lep_p4s, LorentzVector& lep_p4)
{
    veto_lep_p4s.clear();
    tight_lep_p4s.clear();

    for (unsigned int elec_i = 0; elec_i < nt.nElectron(); ++elec_i) {
        LorentzVector elec_p4 = nt.Electron_p4().at(elec_i);
        if (nt.Electron_pt().at(elec_i) <= 10) continue;
        if (nt.Electron_cutBased().at(elec_i) <= 0) continue;
        veto_lep_p4s.push_back(elec_p4);

        if (nt.Electron_pt().at(elec_i) <= 35) continue;
        if (nt.Electron_cutBased().at(elec_i) <= 2) continue;
        const float abs_eta_sc = std::abs(nt.Electron_eta().at(elec_i) + nt.Electron_deltaEtaSC().at(elec_i));
        if (abs_eta_sc >= 2.5f) continue;
        const bool is_endcap = abs_eta_sc >= 1.479;
        if (std::abs(nt.Electron_dz().at(elec_i)) >= (is_endcap ? 0.2 : 0.1)) continue;
        if (std::abs(nt.Electron_dxy().at(elec_i)) >= (is_endcap ? 0.1 : 0.05)) continue;
        tight_lep_p4s.push_back(elec_p4);
    }

    for (unsigned int muon_i = 0; muon_i < nt.nMuon(); ++muon_i) {
        LorentzVector muon_p4 = nt.Muon_p4().at(muon_i);
        if (!nt.Muon_tightId().at(muon_i)) continue;
        if (nt.Muon_pfRelIso04_all().at(muon_i) >= 0.4) continue;
        if (nt.Muon_pt().at(muon_i) <= 10) continue;
        veto_lep_p4s.push_back(muon_p4);

        if (nt.Muon_pfRelIso04_all().at(muon_i) >= 0.15) continue;
        if (nt.Muon_pt().at(muon_i) <= 26) continue;
        if (std::abs(nt.Muon_eta().at(muon_i)) >= 2.4) continue;
        tight_lep_p4s.push_back(muon_p4);
    }

    if (veto_lep_p4s.size() != 1) return SelectionStep::OneVetoLepton;
    if (tight_lep_p4s.size() != 1) return SelectionStep::OneTightLepton;
    lep_p4 = tight_lep_p4s.at(0);
    return SelectionStep::Passed;
}

SelectionStep jet_selection_step(const LorentzVector& lep_p4, JetSelection& measured)
{
    using ROOT::Math::VectorUtil::DeltaR;

    // Measured in a local and copied out once: `measured` could alias what the reader's
    // calls touch, so counting in it directly would go through memory on every jet.
    JetSelection m;
    const auto stop = [&](SelectionStep step) {
        measured = m;
        return step;
    };
    for (unsigned int jet_i = 0; jet_i < nt.nJet(); ++jet_i) {
        LorentzVector jet_p4 = nt.Jet_p4().at(jet_i);
        const bool is_overlap = DeltaR(lep_p4, jet_p4) < 0.4;
        if (!is_overlap && nt.Jet_pt().at(jet_i) > 20) ++m.n_jets;
    }
    if (m.n_jets < kMinCleanJets) return stop(SelectionStep::TwoCleanJets);

    for (unsigned int fatjet_i = 0; fatjet_i < nt.nFatJet(); ++fatjet_i) {
        LorentzVector fatjet_p4 = nt.FatJet_p4().at(fatjet_i);
        const bool is_overlap = DeltaR(lep_p4, fatjet_p4) < 0.8;
        // Written as "qualifies when above": a mass, soft-drop mass or pt that is not a
        // number fails.
        if (is_overlap) continue;
        if (!(nt.FatJet_mass().at(fatjet_i) > 50)) continue;
        if (!(nt.FatJet_msoftdrop().at(fatjet_i) > 40)) continue;
        if (!(nt.FatJet_pt().at(fatjet_i) > 250)) continue;

        const double pnet_xbb = nt.FatJet_particleNetMD_Xbb().at(fatjet_i);
        const double pnet_qcd = nt.FatJet_particleNetMD_QCD().at(fatjet_i);
        const double xbb_score = pnet_xbb / (pnet_xbb + pnet_qcd);
        if (xbb_score > m.hbbjet_score) {
            m.hbbjet_score = xbb_score;
            m.hbbjet_p4 = fatjet_p4;
            m.hbbjet_index = static_cast<int>(fatjet_i);
        }
        ++m.n_fatjets;
    }
    if (m.n_fatjets == 0) return stop(SelectionStep::FatJetCandidate);

    // Summed in single precision, then held as a double.
    const float st_sum = lep_p4.pt() + m.hbbjet_p4.pt() + nt.MET_pt();
    m.ST = st_sum;
    if (m.ST < kMinScalarSum) return stop(SelectionStep::ScalarSum);
    return stop(SelectionStep::Passed);
}
