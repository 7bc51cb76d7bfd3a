// Test helpers for arrays of doubles: random values from a fixed seed, and
// comparison bit for bit.
#pragma once

#include <cstring>
#include <random>
#include <vector>

namespace qern::test {

// `count` values uniform in [-scale, scale], the same for the same seed.
inline std::vector<double> random_values(std::size_t count, unsigned seed, double scale) {
    std::vector<double> v(count);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-scale, scale);
    for (double& x : v) x = dist(rng);
    return v;
}

inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace qern::test
