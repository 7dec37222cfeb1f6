#pragma once
// A reproducible stream of varied events for end-to-end runs: mostly events that fail
// somewhere along the selection, a few per cent that pass, and some values placed exactly
// on thresholds. Uses its own bit-level uniform draws so the stream is the same on every
// standard library.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "skim/event_files.h"

namespace skimtest {

class EventGenerator {
public:
    explicit EventGenerator(uint64_t seed) : rng_(seed) {}

    std::vector<Event> events(uint64_t count, uint64_t first_number = 1)
    {
        std::vector<Event> out;
        out.reserve(count);
        for (uint64_t i = 0; i < count; ++i) out.push_back(next(first_number + i));
        return out;
    }

    Event next(uint64_t number)
    {
        // One in 25 starts from an event built to pass, then gets ordinary noise too.
        Event e = chance(0.04) ? passing_event(number) : Event{};
        e.event = number;
        for (int n = pick({0.55, 0.35, 0.10}); n > 0; --n) e.electrons.push_back(electron());
        for (int n = pick({0.60, 0.30, 0.10}); n > 0; --n) e.muons.push_back(muon());
        for (int n = pick({0.10, 0.15, 0.25, 0.20, 0.15, 0.10, 0.05}); n > 0; --n) e.jets.push_back(jet());
        for (int n = pick({0.40, 0.35, 0.20, 0.05}); n > 0; --n) e.fatjets.push_back(fatjet());
        e.met_pt = on_threshold(0.02, 350.0f, uniform(20, 700));
        return e;
    }

private:
    float uniform01() { return static_cast<float>(rng_() >> 40) * 0x1p-24f; }
    float uniform(float lo, float hi) { return lo + (hi - lo) * uniform01(); }
    bool chance(double p) { return uniform01() < p; }
    float phi() { return uniform(-3.14159f, 3.14159f); }
    // The threshold itself with probability p, else `value`.
    float on_threshold(double p, float threshold, float value) { return chance(p) ? threshold : value; }
    int pick(std::initializer_list<double> weights)
    {
        double u = uniform01();
        int i = 0;
        for (double w : weights) {
            if (u < w) return i;
            u -= w;
            ++i;
        }
        return i - 1;
    }

    Electron electron()
    {
        Electron el;
        el.pt = on_threshold(0.05, 35.0f, on_threshold(0.05, 10.0f, uniform(3, 90)));
        el.eta = uniform(-2.6f, 2.6f);
        el.phi = phi();
        el.deltaEtaSC = uniform(-0.05f, 0.05f);
        el.dz = uniform(-0.25f, 0.25f);
        el.dxy = uniform(-0.12f, 0.12f);
        el.cutBased = static_cast<int>(uniform01() * 5);
        return el;
    }
    Muon muon()
    {
        Muon mu;
        mu.pt = on_threshold(0.05, 26.0f, uniform(3, 90));
        mu.eta = uniform(-2.5f, 2.5f);
        mu.phi = phi();
        mu.pfRelIso04_all = on_threshold(0.05, 0.15f, uniform(0, 0.5f));
        mu.tightId = chance(0.7);
        return mu;
    }
    Jet jet()
    {
        Jet j;
        j.pt = on_threshold(0.05, 20.0f, uniform(10, 150));
        j.eta = uniform(-2.5f, 2.5f);
        j.phi = phi();
        j.mass = uniform(2, 30);
        return j;
    }
    FatJet fatjet()
    {
        FatJet f;
        f.pt = on_threshold(0.05, 250.0f, uniform(170, 800));
        f.eta = uniform(-2.4f, 2.4f);
        f.phi = phi();
        f.mass = on_threshold(0.03, 50.0f, uniform(20, 200));
        f.msoftdrop = on_threshold(0.03, 40.0f, uniform(10, 180));
        const bool empty_tagger = chance(0.03);
        f.xbb = empty_tagger ? 0 : uniform01();
        f.qcd = empty_tagger ? 0 : uniform01();
        return f;
    }

    std::mt19937_64 rng_;
};

}  // namespace skimtest
