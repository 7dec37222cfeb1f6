// The branch list in file order, from the collection, event-field and trigger tables.
#include "catalogue.h"

namespace make_example {

std::vector<BranchPlan> branch_plan()
{
    std::vector<BranchPlan> plan;
    for (const Field& field : event_fields()) plan.push_back({std::string(field.name), field.type, field});

    const auto all = collections();
    for (size_t c = 0; c < all.size(); ++c) {
        const Collection& collection = all[c];
        const std::string prefix(collection.name);
        plan.push_back({"n" + prefix, rootio::LeafType::UInt32, Field{}, static_cast<int>(c), true});
        for (const Field& field : collection.fields) {
            std::string name = field.name.empty() ? prefix : prefix + "_" + std::string(field.name);
            plan.push_back({std::move(name), field.type, field, static_cast<int>(c)});
        }
    }

    const auto bits = triggers();
    for (size_t t = 0; t < bits.size(); ++t)
        plan.push_back({bits[t].name, rootio::LeafType::Bool,
                        Field{{}, rootio::LeafType::Bool, Shape::Trigger, static_cast<float>(t), 0}});
    return plan;
}

}  // namespace make_example
