#include "rootio/tree/tree_structure.h"

#include <string>

#include "rootio/format/error.h"

namespace rootio {

namespace {

std::string leaf_shape(const TreeInfo& tree, const BranchInfo& b)
{
    std::string shape(leaf_class_name(b.leaf.type));
    if (b.leaf.len > 1) {
        shape += '[';
        shape += std::to_string(b.leaf.len);
        shape += ']';
    }
    if (b.count_branch >= 0)
        shape += " counted by " + tree.branches[static_cast<size_t>(b.count_branch)].name;
    return shape;
}

}  // namespace

void check_same_structure(const TreeInfo& reference, std::string_view reference_file, const TreeInfo& tree,
                          std::string_view file)
{
    const std::string where = "tree " + printable(tree.name);
    const std::string ref(reference_file);
    const size_t n = std::min(reference.branches.size(), tree.branches.size());
    for (size_t i = 0; i < n; ++i) {
        const BranchInfo& a = reference.branches[i];
        const BranchInfo& b = tree.branches[i];
        const std::string branch = where + ": branch " + printable(b.name);
        if (a.name != b.name)
            fail(file, branch,
                 "is branch number " + std::to_string(i) + ", where " + ref + " has " + printable(a.name));
        if (!b.is_supported())
            fail(file, branch, "cannot be merged: " + printable(b.unsupported, kErrorMessageLimit));
        const std::string shape_a = leaf_shape(reference, a);
        const std::string shape_b = leaf_shape(tree, b);
        if (shape_a != shape_b)
            fail(file, branch,
                 "is " + printable(shape_b, kErrorMessageLimit) + ", in " + ref + " it is " +
                     printable(shape_a, kErrorMessageLimit));
    }
    if (tree.branches.size() > n)
        fail(file, where + ": branch " + printable(tree.branches[n].name), "is not in " + ref);
    if (reference.branches.size() > n)
        fail(file, where + ": branch " + printable(reference.branches[n].name),
             "is missing (it is in " + ref + ")");
}

}  // namespace rootio
