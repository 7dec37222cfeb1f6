#pragma once
// Seeded random numbers with our own distributions: std:: distributions differ between
// standard libraries, and the same seed must give the same file everywhere.
#include <cmath>
#include <cstdint>
#include <numbers>

namespace make_example {

class Random {
public:
    explicit Random(uint64_t seed)
    {
        // splitmix64 spreads any seed, including 0, over the whole state.
        for (auto& s : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            s = z ^ (z >> 31);
        }
    }

    // xoshiro256**
    uint64_t bits()
    {
        const uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // [0, 1) with 53 random bits.
    double uniform() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // (0, 1]: safe under log().
    double open_uniform() { return static_cast<double>((bits() >> 11) + 1) * 0x1.0p-53; }

    bool chance(double p) { return uniform() < p; }
    int sign() { return (bits() >> 63) ? 1 : -1; }
    // Integer in [lo, hi].
    int integer(int lo, int hi)
    {
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(((bits() >> 32) * span) >> 32);
    }

    double exponential(double mean) { return -mean * std::log(open_uniform()); }
    double phi() { return uniform(-std::numbers::pi, std::numbers::pi); }

    // Marsaglia's polar method; the second value of each pair is kept for the next call.
    double normal()
    {
        if (has_spare_) {
            has_spare_ = false;
            return spare_;
        }
        double u, v, s;
        do {
            u = 2.0 * uniform() - 1.0;
            v = 2.0 * uniform() - 1.0;
            s = u * u + v * v;
        } while (s >= 1.0 || s == 0.0);
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        spare_ = v * f;
        has_spare_ = true;
        return u * f;
    }
    double normal(double mean, double sigma) { return mean + sigma * normal(); }

    // Counts: multiplication method for small means, a rounded normal for large ones.
    int poisson(double mean)
    {
        if (mean <= 0) return 0;
        if (mean > 40) {
            const double x = normal(mean, std::sqrt(mean)) + 0.5;
            return x < 0 ? 0 : static_cast<int>(x);
        }
        const double limit = std::exp(-mean);
        int k = 0;
        double p = uniform();
        while (p > limit) {
            ++k;
            p *= uniform();
        }
        return k;
    }

    // Falling power-law spectrum dN/dx ~ x^-index above `minimum` (index > 1).
    double power_law(double minimum, double index)
    {
        return minimum * std::pow(open_uniform(), -1.0 / (index - 1.0));
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t state_[4];
    double spare_ = 0;
    bool has_spare_ = false;
};

}  // namespace make_example
