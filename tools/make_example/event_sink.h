#pragma once
// Where make-example's events go: a tree or an RNTuple. Branches are declared first, in
// the tree's order (an array names its count branch), then begin(); per event every
// branch gets its big-endian bytes, as a TTree basket stores them, then fill().
#include <cstdint>
#include <span>
#include <string>

#include "rootio/format/leaf_type.h"

namespace make_example {

class EventSink {
public:
    virtual ~EventSink() = default;
    // Returns the branch's index for set_entry_bytes.
    virtual int add_branch(const std::string& name, rootio::LeafType type,
                           const std::string& count_branch = {}) = 0;
    virtual void begin() {}
    virtual void set_entry_bytes(int branch, std::span<const uint8_t> be) = 0;
    virtual void fill() = 0;
};

}  // namespace make_example
