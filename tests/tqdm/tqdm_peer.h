#pragma once

#include <cstddef>

#include "tqdm.h"

// Reads and sets the bar's private state for white-box checks.
struct tqdm_peer {
    struct State {
        int nupdates, total, period, n_old;
        unsigned smoothing;
        long long t_old_ns;
        std::size_t deq_t_size, deq_n_size;
        bool operator==(const State&) const = default;
    };

    static State state(const tqdm& bar) {
        return {bar.nupdates, bar.total_, bar.period, bar.n_old, bar.smoothing,
                static_cast<long long>(bar.t_old.time_since_epoch().count()), bar.deq_t.size(), bar.deq_n.size()};
    }
    static void hsv_to_rgb(float h, float s, float v, int& r, int& g, int& b) { tqdm::hsv_to_rgb(h, s, v, r, g, b); }
    static void gradient(double pct, int& r, int& g, int& b) { tqdm::gradient(pct, r, g, b); }
    static void use_ema(tqdm& bar) { bar.use_ema = true; }
    static std::size_t glyph_count(const tqdm& bar) { return bar.bars.size(); }
};
