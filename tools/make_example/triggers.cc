// Trigger paths (HLT_*) and level-1 seeds (L1_*), built from families of a menu: each
// family is a name pattern, the values put in its "{}" and what the path looks at. A path
// fires when its object is above threshold, with the family's efficiency, so trigger bits
// follow the event's leptons, jets and MET as real ones do.
#include <charconv>

#include "catalogue.h"
#include "trigger_menu.h"

namespace make_example {
namespace {

// The first number in a value: "24" -> 24, "2p5" -> 2.5, "LooseIso22_12" -> 22.
float threshold_of(std::string_view value)
{
    const size_t start = value.find_first_of("0123456789");
    if (start == std::string_view::npos) return 0;
    size_t end = start;
    while (end < value.size() && value[end] >= '0' && value[end] <= '9') ++end;
    float whole = 0;
    std::from_chars(value.data() + start, value.data() + end, whole);
    if (end + 1 < value.size() && value[end] == 'p' && value[end + 1] >= '0' && value[end + 1] <= '9')
        whole += static_cast<float>(value[end + 1] - '0') / 10.0f;
    return whole;
}

void expand(const TriggerFamily& family, std::vector<Trigger>& out)
{
    for (std::string_view value : family.values) {
        std::string name(family.pattern);
        for (size_t at; (at = name.find("{}")) != std::string::npos;) name.replace(at, 2, value);
        out.push_back({std::move(name), family.object, threshold_of(value), family.efficiency});
    }
}

std::vector<Trigger> make_triggers()
{
    std::vector<Trigger> all;
    for (const TriggerFamily& family : hlt_families()) expand(family, all);
    for (const TriggerFamily& family : l1_families()) expand(family, all);
    // Simulation sets the always-on seeds.
    for (Trigger& t : all)
        if (t.name == "L1_ZeroBias" || t.name == "L1_ZeroBias_copy" || t.name == "L1_AlwaysTrue" ||
            t.name == "L1_BptxAND" || t.name == "HLT_ZeroBias")
            t.efficiency = 1;
    return all;
}

}  // namespace

std::span<const Trigger> triggers()
{
    static const std::vector<Trigger> all = make_triggers();
    return all;
}

}  // namespace make_example
