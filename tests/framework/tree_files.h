#pragma once
// Small flat trees for the framework layer, written with the engine: scalars of several
// types, count-indexed arrays of float, int and bool, a fixed-size array, and values that
// differ from entry to entry so a byte copied from the wrong entry shows.
#include <cstdint>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/format/leaf_type.h"
#include "rootio/tree/tree_writer.h"

namespace fwtest {

// Branch names in file order.
inline std::vector<std::string> sample_branches()
{
    return {"run",     "event",    "nMuon",  "Muon_pt", "Muon_charge", "Muon_tightId", "nJet",
            "Jet_pt",  "FatJet_pt", "MET_pt", "MET_covXX", "HLT_Mu50", "LHEWeight_originalXWGTUP",
            "trig_bits"};
}

inline void write_sample_tree(const std::string& path, int64_t entries, int compression = 101,
                              const std::string& tree_name = "Events")
{
    using rootio::LeafType;
    rootio::FileWriter file(path, compression);
    rootio::TreeWriter tree(file, tree_name, "sample events");
    const int run = tree.add_branch("run", LeafType::UInt32);
    const int event = tree.add_branch("event", LeafType::UInt64);
    const int n_mu = tree.add_branch("nMuon", LeafType::UInt32);
    const int mu_pt = tree.add_branch("Muon_pt", LeafType::Float, "nMuon");
    const int mu_q = tree.add_branch("Muon_charge", LeafType::Int32, "nMuon");
    const int mu_tight = tree.add_branch("Muon_tightId", LeafType::Bool, "nMuon");
    const int n_jet = tree.add_branch("nJet", LeafType::UInt32);
    const int jet_pt = tree.add_branch("Jet_pt", LeafType::Float, "nJet");
    const int fj_pt = tree.add_branch("FatJet_pt", LeafType::Float, "nJet");
    const int met = tree.add_branch("MET_pt", LeafType::Float);
    const int met_cov = tree.add_branch("MET_covXX", LeafType::Double);
    const int hlt = tree.add_branch("HLT_Mu50", LeafType::Bool);
    const int lhe = tree.add_branch("LHEWeight_originalXWGTUP", LeafType::Float);
    const int bits = tree.add_branch("trig_bits", LeafType::Int16, {}, 3);

    std::vector<float> f;
    std::vector<int32_t> q;
    std::vector<uint8_t> b;
    for (int64_t i = 0; i < entries; ++i) {
        const auto n_muons = static_cast<uint32_t>(i % 4);
        const auto n_jets = static_cast<uint32_t>((i * 7) % 6);
        tree.set_value(run, static_cast<uint32_t>(1 + i / 1000));
        tree.set_value(event, static_cast<uint64_t>(i) * 3 + 5000000000ULL);
        tree.set_value(n_mu, n_muons);
        f.clear();
        q.clear();
        b.clear();
        for (uint32_t m = 0; m < n_muons; ++m) {
            f.push_back(10.5f + static_cast<float>(i) * 0.25f + static_cast<float>(m));
            q.push_back((i + m) % 2 ? -1 : 1);
            b.push_back(static_cast<uint8_t>((i + m) % 3 == 0));
        }
        tree.set_values<float>(mu_pt, f);
        tree.set_values<int32_t>(mu_q, q);
        tree.set_values<uint8_t>(mu_tight, b);
        tree.set_value(n_jet, n_jets);
        f.clear();
        for (uint32_t j = 0; j < n_jets; ++j) f.push_back(20.0f + static_cast<float>((i * 13 + j) % 200));
        tree.set_values<float>(jet_pt, f);
        for (float& v : f) v *= 1.5f;
        tree.set_values<float>(fj_pt, f);
        tree.set_value(met, static_cast<float>(i % 97) * 1.75f);
        tree.set_value(met_cov, static_cast<double>(i) / 7.0);
        tree.set_value(hlt, static_cast<uint8_t>(i % 5 == 0));
        tree.set_value(lhe, 0.5f + static_cast<float>(i % 11));
        const int16_t trig[3] = {static_cast<int16_t>(i), static_cast<int16_t>(-i), static_cast<int16_t>(i % 3)};
        tree.set_values<int16_t>(bits, trig);
        tree.fill();
    }
    tree.write();
    file.close();
}

}  // namespace fwtest
