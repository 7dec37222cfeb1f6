#pragma once
// A trigger menu as families: a name pattern, the values put in its "{}" and what the
// paths look at. The thresholds are read from the values.
#include <initializer_list>
#include <span>
#include <string_view>

#include "catalogue.h"

namespace make_example {

struct TriggerFamily {
    std::string_view pattern;  // "{}" is replaced by each value
    std::initializer_list<std::string_view> values;
    TriggerObject object;
    float efficiency;
};

std::span<const TriggerFamily> hlt_families();  // high-level trigger paths, HLT_*
std::span<const TriggerFamily> l1_families();   // level-1 seeds, L1_*

}  // namespace make_example
