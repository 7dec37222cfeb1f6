#pragma once
// What an event of the example file holds: its collections, per-object and per-event
// fields, trigger bits, and how each value is drawn. Plain tables; drawing is elsewhere.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/format/leaf_type.h"

namespace make_example {

// How a field's values are drawn. Parameters a and b are read per shape.
enum class Shape : uint8_t {
    Model,  // filled by the event model (selection inputs, ids, pile-up, weights, MET)
    Pt,     // the collection's own kinematics
    Eta,
    Phi,
    Mass,
    Uniform,      // in [a, b)
    Exponential,  // b + exponential of mean a
    Quantized,    // exponential of mean a in steps of b (hardware-level quantities)
    Sparse,       // 0, or with probability a an exponential of mean b
    Gauss,        // mean a, width b
    Score,        // discriminant in [0, 1]: u^a piles up at 0 for a > 1
    Bool,         // true with probability a
    Integer,      // uniform in [a, b]
    Geometric,    // working point k in [0, b] with P(k) ~ a^k
    Index,        // -1 with probability a, otherwise in [0, b)
    Charge,       // +-1
    PdgId,        // +-a
    Constant,     // a
    Bitmap,       // one level 0..4 repeated in each of b 3-bit groups (id bitmaps)
    Trigger,      // bit from the trigger table (index a)
};

struct Field {
    std::string_view name;  // appended to "Collection_"; empty: the collection's own name
    rootio::LeafType type;
    Shape shape;
    float a = 0;
    float b = 0;
    int8_t mantissa_bits = 23;  // floats: mantissa bits kept, 23 = full precision
};

// Per-collection object model for collections drawn generically.
struct ObjectModel {
    double mean_count = 0;  // Poisson mean (or the count itself when fixed)
    int max_count = 0;
    bool fixed_count = false;
    double pt_min = 0;  // power-law pt spectrum from pt_min
    double pt_index = 4;
    double eta_sigma = 1.5;  // central Gaussian, cut at eta_max
    double eta_max = 2.5;
    double mass_lo = 0;  // mass in [lo, hi), as a fraction of pt when mass_from_pt
    double mass_hi = 0;
    bool mass_from_pt = false;
    double massless_fraction = 0;  // objects stored with mass exactly 0
    bool sorted = true;            // objects ordered by decreasing pt
};

struct Collection {
    std::string_view name;  // "Electron": count branch nElectron, arrays Electron_*
    bool from_event_model;  // counts and kinematics come from the event model
    ObjectModel objects;
    std::vector<Field> fields;
};

// What a trigger bit looks at.
enum class TriggerObject : uint8_t { None, Muon, Electron, Photon, Tau, Jet, FatJet, HT, MET };

struct Trigger {
    std::string name;
    TriggerObject object;
    float threshold;   // GeV on the object's leading pt, HT or MET
    float efficiency;  // probability to fire above threshold (or at all, for None)
};

// One branch of the output tree, in file order.
struct BranchPlan {
    std::string name;
    rootio::LeafType type;
    Field field;
    int collection = -1;    // index into collections(), -1 for per-event branches
    bool is_count = false;  // the unsigned count of `collection`
};

std::span<const Collection> collections();
std::span<const Field> event_fields();
std::span<const Trigger> triggers();  // HLT_* then L1_*
// Every branch in file order: per-event fields, then each collection's count and arrays,
// then triggers and flags.
std::vector<BranchPlan> branch_plan();

}  // namespace make_example
