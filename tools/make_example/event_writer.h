#pragma once
// Declares every branch of the catalogue on a sink (a tree or an RNTuple), then draws
// events and hands each branch its big-endian bytes. All buffers are sized at construction: writing an event
// allocates nothing.
#include <cstdint>
#include <vector>

#include "catalogue.h"
#include "event_model.h"
#include "objects.h"
#include "random.h"
#include "event_sink.h"

namespace make_example {

class EventWriter {
public:
    EventWriter(EventSink& sink, uint64_t seed, double boosted_fraction);

    // Draws the next event and fills it into the sink.
    void write_next();
    int64_t entries() const { return entry_; }

private:
    struct Column {
        int branch = -1;  // index in the sink
        const BranchPlan* plan = nullptr;
        Objects* objects = nullptr;    // the collection's kinematics, for arrays and counts
        ModelSource model{};           // for Shape::Model
        uint32_t mantissa_mask = ~0u;  // floats: low mantissa bits cleared
    };

    void draw_collections();
    void fire_triggers();
    size_t encode(const Column& column);  // this event's bytes of the column into bytes_
    double draw(const Field& field, const Objects* objects, int element);

    EventSink& sink_;
    Random rng_;
    EventModel model_;
    std::vector<BranchPlan> plan_;
    std::vector<Column> columns_;
    std::vector<Objects> objects_;  // one per collection, same order as collections()
    std::vector<uint8_t> fired_;    // one per trigger
    std::vector<uint8_t> bytes_;    // big-endian scratch, sized for the largest branch
    int64_t entry_ = 0;
    int electrons_ = -1, muons_ = -1, jets_ = -1, fat_jets_ = -1, photons_ = -1, taus_ = -1;
};

}  // namespace make_example
