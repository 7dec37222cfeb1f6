#pragma once
// The kinematics of one collection in the current event. Storage is sized once for the
// collection's maximum count, so events never allocate.
#include <algorithm>
#include <vector>

namespace make_example {

struct Objects {
    int count = 0;
    std::vector<float> pt, eta, phi, mass;

    explicit Objects(int max_count = 0) : pt(max_count), eta(max_count), phi(max_count), mass(max_count) {}
    int capacity() const { return static_cast<int>(pt.size()); }
    float leading_pt() const { return count > 0 ? *std::max_element(pt.begin(), pt.begin() + count) : 0.0f; }
};

}  // namespace make_example
