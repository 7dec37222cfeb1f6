#pragma once
// make-example's events as a TTree.
#include "event_sink.h"
#include "rootio/tree/tree_writer.h"

namespace make_example {

class TreeSink final : public EventSink {
public:
    explicit TreeSink(rootio::TreeWriter& tree) : tree_(tree) {}
    int add_branch(const std::string& name, rootio::LeafType type, const std::string& count_branch) override
    {
        return tree_.add_branch(name, type, count_branch);
    }
    void set_entry_bytes(int branch, std::span<const uint8_t> be) override
    {
        tree_.set_entry_bytes(branch, be);
    }
    void fill() override { tree_.fill(); }

private:
    rootio::TreeWriter& tree_;
};

}  // namespace make_example
