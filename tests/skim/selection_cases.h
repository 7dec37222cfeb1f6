#pragma once
// One crafted event per boundary of the selection, each a change of the passing event with
// a known outcome. Every threshold is probed in its own precision: a float exactly at a
// whole-number threshold, the float nearest a decimal threshold (which widens above or
// below it), and the next float on the other side.
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "skim/event_files.h"

namespace skimtest {

inline float next_up(float x) { return std::nextafter(x, std::numeric_limits<float>::infinity()); }
inline float next_down(float x) { return std::nextafter(x, -std::numeric_limits<float>::infinity()); }
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct SelectionCase {
    std::string what;
    bool passes;
    std::function<void(Event&)> change;
};

inline Muon tight_muon() { return Muon{}; }

inline std::vector<SelectionCase> selection_cases()
{
    auto el = [](Event& e) -> Electron& { return e.electrons.at(0); };
    auto only_muon = [](Event& e, Muon m) {
        e.electrons.clear();
        e.muons = {m};
    };
    auto add_muon = [](Event& e, Muon m) { e.muons.push_back(m); };
    auto fatjet = [](float pt, float xbb, float qcd) {
        FatJet f;
        f.pt = pt;
        f.xbb = xbb;
        f.qcd = qcd;
        return f;
    };
    return {
        {"the passing event passes", true, [](Event&) {}},

        // Electron veto and tight tests.
        {"electron pt exactly 10 is no lepton", false, [=](Event& e) { el(e).pt = 10; }},
        {"electron pt just above 10 is a veto lepton only", false, [=](Event& e) { el(e).pt = next_up(10); }},
        {"electron pt exactly 35 is a veto lepton only", false, [=](Event& e) { el(e).pt = 35; }},
        {"electron pt just above 35 is tight", true, [=](Event& e) { el(e).pt = next_up(35); }},
        {"electron cutBased 0 is no lepton", false, [=](Event& e) { el(e).cutBased = 0; }},
        {"electron cutBased 1 is a veto lepton only", false, [=](Event& e) { el(e).cutBased = 1; }},
        {"electron cutBased 2 is a veto lepton only", false, [=](Event& e) { el(e).cutBased = 2; }},
        {"electron cutBased 3 is tight", true, [=](Event& e) { el(e).cutBased = 3; }},
        {"s exactly 2.5 rejects the electron", false,
         [=](Event& e) { el(e).eta = 1.25f, el(e).deltaEtaSC = 1.25f; }},
        {"s just below 2.5 is a tight endcap electron", true, [=](Event& e) { el(e).eta = next_down(2.5f); }},
        {"eta + deltaEtaSC rounds to 2.5 in single precision", false,
         [=](Event& e) { el(e).eta = next_down(2.5f), el(e).deltaEtaSC = 1.5e-7f; }},
        {"s is an absolute value", false, [=](Event& e) { el(e).eta = -2.0f, el(e).deltaEtaSC = -0.6f; }},
        {"s at the float nearest 1.479 takes barrel limits (|dz| 0.15)", false,
         [=](Event& e) { el(e).eta = 1.479f, el(e).dz = 0.15f; }},
        {"s at the next float up takes endcap limits (|dz| 0.15)", true,
         [=](Event& e) { el(e).eta = next_up(1.479f), el(e).dz = -0.15f; }},
        {"s at the float nearest 1.479 takes barrel limits (|dxy| 0.07)", false,
         [=](Event& e) { el(e).eta = 1.479f, el(e).dxy = 0.07f; }},
        {"s at the next float up takes endcap limits (|dxy| 0.07)", true,
         [=](Event& e) { el(e).eta = next_up(1.479f), el(e).dxy = -0.07f; }},
        {"barrel |dz| at the float nearest 0.1 widens above 0.1", false, [=](Event& e) { el(e).dz = -0.1f; }},
        {"barrel |dz| one float below 0.1", true, [=](Event& e) { el(e).dz = next_down(0.1f); }},
        {"barrel |dxy| at the float nearest 0.05 widens above 0.05", false, [=](Event& e) { el(e).dxy = 0.05f; }},
        {"barrel |dxy| one float below 0.05", true, [=](Event& e) { el(e).dxy = -next_down(0.05f); }},
        {"|dz| 0.15 and |dxy| 0.07 are tight in the endcap", true,
         [=](Event& e) { el(e).eta = -2.0f, el(e).dz = 0.15f, el(e).dxy = -0.07f; }},
        {"|dz| 0.15 and |dxy| 0.07 are rejected in the barrel", false,
         [=](Event& e) { el(e).eta = -1.0f, el(e).dz = 0.15f, el(e).dxy = -0.07f; }},
        {"endcap |dz| at the float nearest 0.2", false, [=](Event& e) { el(e).eta = 2.0f, el(e).dz = 0.2f; }},
        {"endcap |dz| one float below 0.2", true, [=](Event& e) { el(e).eta = 2.0f, el(e).dz = next_down(0.2f); }},
        {"endcap |dxy| at the float nearest 0.1", false, [=](Event& e) { el(e).eta = 2.0f, el(e).dxy = 0.1f; }},
        {"endcap |dxy| one float below 0.1", true,
         [=](Event& e) { el(e).eta = 2.0f, el(e).dxy = next_down(0.1f); }},
        {"a dz that is not a number passes its test", true, [=](Event& e) { el(e).dz = kNaN; }},
        {"an electron pt that is not a number passes both pt tests (ST is then not a number)", true,
         [=](Event& e) { el(e).pt = kNaN; }},
        {"two tight electrons", false, [](Event& e) { e.electrons.push_back(e.electrons.at(0)); }},
        {"a second, veto-only electron", false,
         [](Event& e) {
             Electron second;
             second.cutBased = 1;
             e.electrons.push_back(second);
         }},
        {"a second electron with pt exactly 10 does not count", true,
         [](Event& e) {
             Electron second;
             second.pt = 10;
             e.electrons.push_back(second);
         }},

        // Muon tests.
        {"one tight muon alone passes", true, [=](Event& e) { only_muon(e, tight_muon()); }},
        {"a muon without tightId is in neither list", true,
         [=](Event& e) {
             Muon m;
             m.tightId = false;
             add_muon(e, m);
         }},
        {"muon isolation at the float nearest 0.4 is in neither list", true,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = 0.4f;
             add_muon(e, m);
         }},
        {"muon isolation just below the float nearest 0.4 is a veto lepton", false,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = next_down(0.4f);
             add_muon(e, m);
         }},
        {"muon isolation at the float nearest 0.15 is a veto lepton only", false,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = 0.15f;
             only_muon(e, m);
         }},
        {"muon isolation one float below 0.15 is tight", true,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = next_down(0.15f);
             only_muon(e, m);
         }},
        {"muon pt exactly 10 is in neither list", true,
         [=](Event& e) {
             Muon m;
             m.pt = 10;
             add_muon(e, m);
         }},
        {"muon pt just above 10 is a veto lepton", false,
         [=](Event& e) {
             Muon m;
             m.pt = next_up(10);
             add_muon(e, m);
         }},
        {"muon pt exactly 26 is a veto lepton only", false,
         [=](Event& e) {
             Muon m;
             m.pt = 26;
             only_muon(e, m);
         }},
        {"muon pt just above 26 is tight", true,
         [=](Event& e) {
             Muon m;
             m.pt = next_up(26);
             only_muon(e, m);
         }},
        {"muon |eta| at the float nearest 2.4 is a veto lepton only", false,
         [=](Event& e) {
             Muon m;
             m.eta = -2.4f;
             only_muon(e, m);
         }},
        {"muon |eta| one float below 2.4 is tight", true,
         [=](Event& e) {
             Muon m;
             m.eta = next_down(2.4f);
             only_muon(e, m);
         }},
        {"muon with pt 30, isolation 0.2 is a veto lepton only", false,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = 0.2f;
             only_muon(e, m);
         }},
        {"a muon isolation that is not a number passes its tests", true,
         [=](Event& e) {
             Muon m;
             m.pfRelIso04_all = kNaN;
             only_muon(e, m);
         }},
        {"one tight electron plus one veto-only muon", false,
         [=](Event& e) {
             Muon m;
             m.pt = 20;
             add_muon(e, m);
         }},
        {"one tight electron plus one tight muon", false, [=](Event& e) { add_muon(e, tight_muon()); }},
        {"no leptons at all", false, [](Event& e) { e.electrons.clear(); }},

        // Jets, against the electron at eta 0.5, phi 0.
        {"a jet at the float nearest 0.4 does not overlap", true,
         [](Event& e) { e.jets.at(1).eta = 0.5f, e.jets.at(1).phi = 0.4f; }},
        {"a jet one float inside 0.4 overlaps", false,
         [](Event& e) { e.jets.at(1).eta = 0.5f, e.jets.at(1).phi = next_down(0.4f); }},
        {"jet pt exactly 20 is not counted", false, [](Event& e) { e.jets.at(1).pt = 20; }},
        {"jet pt just above 20 is counted", true, [](Event& e) { e.jets.at(1).pt = next_up(20); }},
        {"a jet pt that is not a number is not counted", false, [](Event& e) { e.jets.at(0).pt = kNaN; }},
        {"a jet eta that is not a number is no overlap", true, [](Event& e) { e.jets.at(0).eta = kNaN; }},
        {"only one jet", false, [](Event& e) { e.jets.pop_back(); }},
        {"phi wraps: lepton at 3.0 and jet at -3.0 overlap", false,
         [=](Event& e) {
             el(e).phi = 3.0f;
             e.fatjets.at(0).phi = 0;
             e.jets.at(0) = Jet{100, 0.5f, -3.0f, 10};
             e.jets.at(1).phi = 0.5f;
         }},
        {"phi wraps: lepton at 3.0 and jet at -2.5 do not overlap", true,
         [=](Event& e) {
             el(e).phi = 3.0f;
             e.fatjets.at(0).phi = 0;
             e.jets.at(0) = Jet{100, 0.5f, -2.5f, 10};
             e.jets.at(1).phi = 0.5f;
         }},

        // Fat jets and the candidate.
        {"a fat jet at the float nearest 0.8 does not overlap", true,
         [](Event& e) { e.fatjets.at(0).eta = 0.5f, e.fatjets.at(0).phi = 0.8f; }},
        {"a fat jet one float inside 0.8 overlaps", false,
         [](Event& e) { e.fatjets.at(0).eta = 0.5f, e.fatjets.at(0).phi = next_down(0.8f); }},
        {"fat-jet mass exactly 50", false, [](Event& e) { e.fatjets.at(0).mass = 50; }},
        {"fat-jet mass just above 50", true, [](Event& e) { e.fatjets.at(0).mass = next_up(50); }},
        {"fat-jet soft-drop mass exactly 40", false, [](Event& e) { e.fatjets.at(0).msoftdrop = 40; }},
        {"fat-jet soft-drop mass just above 40", true, [](Event& e) { e.fatjets.at(0).msoftdrop = next_up(40); }},
        {"fat-jet pt exactly 250", false, [](Event& e) { e.fatjets.at(0).pt = 250, e.met_pt = 600; }},
        {"fat-jet pt just above 250", true, [](Event& e) { e.fatjets.at(0).pt = next_up(250), e.met_pt = 600; }},
        {"a fat-jet mass that is not a number fails", false, [](Event& e) { e.fatjets.at(0).mass = kNaN; }},
        {"no fat jets", false, [](Event& e) { e.fatjets.clear(); }},
        {"a better second score makes the candidate (ST uses 400)", true,
         [=](Event& e) { e.fatjets = {fatjet(300, 0.9f, 0.1f), fatjet(400, 0.95f, 0.05f)}, e.met_pt = 350; }},
        {"a worse second score leaves the first candidate (ST uses 300)", false,
         [=](Event& e) { e.fatjets = {fatjet(300, 0.95f, 0.05f), fatjet(400, 0.9f, 0.1f)}, e.met_pt = 350; }},
        {"equal scores keep the first candidate (pt 300)", false,
         [=](Event& e) { e.fatjets = {fatjet(300, 0.9f, 0.1f), fatjet(400, 0.9f, 0.1f)}, e.met_pt = 350; }},
        {"equal scores keep the first candidate (pt 400)", true,
         [=](Event& e) { e.fatjets = {fatjet(400, 0.9f, 0.1f), fatjet(300, 0.9f, 0.1f)}, e.met_pt = 350; }},
        {"a score that is not a number is never the candidate; a later real one is (ST 800)", true,
         [=](Event& e) { e.fatjets = {fatjet(300, 0, 0), fatjet(500, 0.5f, 0.5f)}, e.met_pt = 250; }},
        {"an infinite score becomes the candidate (ST 800)", true,
         [=](Event& e) { e.fatjets = {fatjet(300, 0.9f, 0.1f), fatjet(500, 1, -1)}, e.met_pt = 250; }},
        {"an overlapping fat jet is never the candidate, whatever its score (ST 600)", false,
         [=](Event& e) {
             FatJet overlapping = fatjet(500, 0.99f, 0.01f);
             overlapping.phi = 0.5f;
             e.fatjets = {overlapping, fatjet(300, 0.5f, 0.5f)};
             e.met_pt = 250;
         }},
        {"a lone score of 0.1 still makes the candidate", true, [=](Event& e) { e.fatjets = {fatjet(500, 0.1f, 0.9f)}; }},
        {"Xbb = QCD = 0: the candidate stays the zero vector (ST 450)", false,
         [=](Event& e) { e.fatjets = {fatjet(500, 0, 0)}; }},
        {"Xbb = QCD = 0: the fat jet still counts (ST 800)", true,
         [=](Event& e) { e.fatjets = {fatjet(500, 0, 0)}, e.met_pt = 750; }},

        // The scalar sum.
        {"ST exactly 800 passes", true, [=](Event& e) { e.fatjets = {fatjet(400, 0.9f, 0.1f)}, e.met_pt = 350; }},
        {"ST 799.9999389648438 is rejected", false,
         [=](Event& e) { e.fatjets = {fatjet(400, 0.9f, 0.1f)}, e.met_pt = 349.99993896484375f; }},
        {"ST is summed in single precision (the double sum is below 800)", true,
         [=](Event& e) {
             el(e).pt = next_down(50);
             e.fatjets = {fatjet(400, 0.9f, 0.1f)};
             e.met_pt = 350;
         }},
        {"a missing pt that is not a number is not rejected", true, [](Event& e) { e.met_pt = kNaN; }},
    };
}

// The file of all cases: entry i is case i, with event number 1000 + i.
inline std::vector<Event> selection_case_events()
{
    std::vector<Event> events;
    const auto cases = selection_cases();
    for (size_t i = 0; i < cases.size(); ++i) {
        Event e = passing_event(1000 + i);
        cases[i].change(e);
        events.push_back(e);
    }
    return events;
}

}  // namespace skimtest
