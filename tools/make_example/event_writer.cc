#include "event_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "rootio/format/bytes.h"

namespace make_example {
namespace {

using rootio::LeafType;

int collection_index(std::string_view name)
{
    const auto all = collections();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].name == name) return static_cast<int>(i);
    throw std::logic_error("no collection " + std::string(name));
}

uint32_t mantissa_mask(int bits)
{
    return bits >= 23 ? ~0u : ~((1u << (23 - bits)) - 1u);
}

void store(uint8_t* p, LeafType type, double value, uint32_t mask)
{
    switch (type) {
        case LeafType::Bool:
            *p = value != 0;
            break;
        case LeafType::Int8:
            rootio::store_be<int8_t>(p, static_cast<int8_t>(value));
            break;
        case LeafType::UInt8:
            *p = static_cast<uint8_t>(value);
            break;
        case LeafType::Int16:
            rootio::store_be<int16_t>(p, static_cast<int16_t>(value));
            break;
        case LeafType::UInt16:
            rootio::store_be<uint16_t>(p, static_cast<uint16_t>(value));
            break;
        case LeafType::Int32:
            rootio::store_be<int32_t>(p, static_cast<int32_t>(value));
            break;
        case LeafType::UInt32:
            rootio::store_be<uint32_t>(p, static_cast<uint32_t>(value));
            break;
        case LeafType::Int64:
            rootio::store_be<int64_t>(p, static_cast<int64_t>(value));
            break;
        case LeafType::UInt64:
            rootio::store_be<uint64_t>(p, static_cast<uint64_t>(value));
            break;
        case LeafType::Float:
            rootio::store_be<uint32_t>(p, std::bit_cast<uint32_t>(static_cast<float>(value)) & mask);
            break;
        case LeafType::Double:
            rootio::store_be<double>(p, value);
            break;
    }
}

// Model values are stored in their own type; copy them without a detour through double
// so 64-bit ids stay exact.
void store_model(uint8_t* p, const ModelSource& src, int i, uint32_t mask)
{
    switch (src.type) {
        case LeafType::Bool:
            *p = static_cast<const uint8_t*>(src.data)[i] != 0;
            break;
        case LeafType::Int32:
            rootio::store_be<int32_t>(p, static_cast<const int32_t*>(src.data)[i]);
            break;
        case LeafType::UInt32:
            rootio::store_be<uint32_t>(p, static_cast<const uint32_t*>(src.data)[i]);
            break;
        case LeafType::UInt64:
            rootio::store_be<uint64_t>(p, static_cast<const uint64_t*>(src.data)[i]);
            break;
        case LeafType::Float:
            rootio::store_be<uint32_t>(
                p, std::bit_cast<uint32_t>(static_cast<const float*>(src.data)[i]) & mask);
            break;
        default:
            throw std::logic_error("event model holds no values of this type");
    }
}

}  // namespace

EventWriter::EventWriter(EventSink& sink, uint64_t seed, double boosted_fraction)
    : sink_(sink), rng_(seed), model_(seed, boosted_fraction), plan_(branch_plan())
{
    const auto all = collections();
    objects_.reserve(all.size());
    for (const Collection& c : all) objects_.emplace_back(c.objects.max_count);
    electrons_ = collection_index("Electron");
    muons_ = collection_index("Muon");
    jets_ = collection_index("Jet");
    fat_jets_ = collection_index("FatJet");
    photons_ = collection_index("Photon");
    taus_ = collection_index("Tau");
    // The event model fills these four; their storage must match its limits.
    objects_[electrons_] = Objects(EventModel::kMaxElectrons);
    objects_[muons_] = Objects(EventModel::kMaxMuons);
    objects_[jets_] = Objects(EventModel::kMaxJets);
    objects_[fat_jets_] = Objects(EventModel::kMaxFatJets);
    fired_.assign(triggers().size(), 0);

    size_t largest = 8;
    columns_.reserve(plan_.size());
    for (const BranchPlan& p : plan_) {
        Column col;
        col.plan = &p;
        if (p.collection >= 0) {
            col.objects = &objects_[p.collection];
            std::string count = "n";
            count += all[p.collection].name;
            col.branch =
                p.is_count ? sink.add_branch(p.name, p.type) : sink.add_branch(p.name, p.type, count);
            largest = std::max(largest, static_cast<size_t>(col.objects->capacity()) * 8);
        } else {
            col.branch = sink.add_branch(p.name, p.type);
        }
        if (!p.is_count && p.field.shape == Shape::Model) col.model = model_.source(p.name);
        col.mantissa_mask = mantissa_mask(p.field.mantissa_bits);
        columns_.push_back(col);
    }
    bytes_.resize(largest);
    sink.begin();
}

void EventWriter::write_next()
{
    model_.generate(rng_, entry_, objects_[electrons_], objects_[muons_], objects_[jets_],
                    objects_[fat_jets_]);
    draw_collections();
    fire_triggers();
    for (const Column& column : columns_) {
        const size_t n = encode(column);
        sink_.set_entry_bytes(column.branch, std::span<const uint8_t>(bytes_.data(), n));
    }
    sink_.fill();
    ++entry_;
}

void EventWriter::draw_collections()
{
    const auto all = collections();
    for (size_t c = 0; c < all.size(); ++c) {
        const Collection& collection = all[c];
        if (collection.from_event_model) continue;
        const ObjectModel& m = collection.objects;
        Objects& o = objects_[c];
        o.count = m.fixed_count ? static_cast<int>(m.mean_count)
                                : std::min(rng_.poisson(m.mean_count), m.max_count);
        if (m.pt_min <= 0) continue;  // value-only collections: no kinematics
        for (int i = 0; i < o.count; ++i) {
            o.pt[i] = static_cast<float>(std::min(rng_.power_law(m.pt_min, m.pt_index), 6500.0));
            double eta;
            do eta = rng_.normal(0, m.eta_sigma);
            while (std::abs(eta) >= m.eta_max);
            o.eta[i] = static_cast<float>(eta);
            o.phi[i] = static_cast<float>(rng_.phi());
        }
        // Directions are drawn independently of pt, so ordering the pts alone orders the objects.
        if (m.sorted) std::sort(o.pt.begin(), o.pt.begin() + o.count, std::greater<float>());
        for (int i = 0; i < o.count; ++i) {
            if (m.massless_fraction > 0 && rng_.chance(m.massless_fraction)) {
                o.mass[i] = 0;
                continue;
            }
            const double x = m.mass_lo == m.mass_hi ? m.mass_lo : rng_.uniform(m.mass_lo, m.mass_hi);
            o.mass[i] = static_cast<float>(m.mass_from_pt ? x * o.pt[i] : x);
        }
    }
}

void EventWriter::fire_triggers()
{
    const Objects& jets = objects_[jets_];
    float ht = 0;
    for (int i = 0; i < jets.count; ++i)
        if (jets.pt[i] > 30 && std::abs(jets.eta[i]) < 2.5f) ht += jets.pt[i];
    float leading[9] = {};
    leading[static_cast<int>(TriggerObject::Muon)] = objects_[muons_].leading_pt();
    leading[static_cast<int>(TriggerObject::Electron)] = objects_[electrons_].leading_pt();
    leading[static_cast<int>(TriggerObject::Photon)] = objects_[photons_].leading_pt();
    leading[static_cast<int>(TriggerObject::Tau)] = objects_[taus_].leading_pt();
    leading[static_cast<int>(TriggerObject::Jet)] = jets.leading_pt();
    leading[static_cast<int>(TriggerObject::FatJet)] = objects_[fat_jets_].leading_pt();
    leading[static_cast<int>(TriggerObject::HT)] = ht;
    leading[static_cast<int>(TriggerObject::MET)] = model_.met_pt();

    const auto bits = triggers();
    for (size_t t = 0; t < bits.size(); ++t) {
        const Trigger& trig = bits[t];
        const bool above =
            trig.object == TriggerObject::None || leading[static_cast<int>(trig.object)] > trig.threshold;
        fired_[t] = above && trig.efficiency > 0 && (trig.efficiency >= 1 || rng_.chance(trig.efficiency));
    }
}

size_t EventWriter::encode(const Column& column)
{
    const BranchPlan& p = *column.plan;
    const Field& field = p.field;
    const int size = rootio::leaf_type_size(p.type);
    if (p.is_count) {
        rootio::store_be<uint32_t>(bytes_.data(), static_cast<uint32_t>(column.objects->count));
        return 4;
    }
    if (field.shape == Shape::Trigger) {
        bytes_[0] = fired_[static_cast<size_t>(field.a)];
        return 1;
    }
    const int n = column.objects ? column.objects->count : 1;
    uint8_t* out = bytes_.data();
    if (field.shape == Shape::Model) {
        for (int i = 0; i < n; ++i) store_model(out + i * size, column.model, i, column.mantissa_mask);
    } else {
        for (int i = 0; i < n; ++i)
            store(out + i * size, p.type, draw(field, column.objects, i), column.mantissa_mask);
    }
    return static_cast<size_t>(n) * size;
}

double EventWriter::draw(const Field& f, const Objects* objects, int i)
{
    switch (f.shape) {
        case Shape::Pt:
            return objects->pt[i];
        case Shape::Eta:
            return objects->eta[i];
        case Shape::Phi:
            return objects ? objects->phi[i] : rng_.phi();
        case Shape::Mass:
            return objects->mass[i];
        case Shape::Uniform:
            return rng_.uniform(f.a, f.b);
        case Shape::Exponential:
            return f.b + rng_.exponential(f.a);
        case Shape::Quantized:
            return std::round(rng_.exponential(f.a) / f.b) * f.b;
        case Shape::Sparse:
            return rng_.chance(f.a) ? rng_.exponential(f.b) : 0.0;
        case Shape::Gauss:
            return rng_.normal(f.a, f.b);
        case Shape::Score:
            return std::pow(rng_.uniform(), f.a);
        case Shape::Bool:
            return f.a >= 1 || rng_.chance(f.a);
        case Shape::Integer:
            return rng_.integer(static_cast<int>(f.a), static_cast<int>(f.b));
        case Shape::Geometric: {
            int k = 0;
            while (k < f.b && rng_.chance(f.a)) ++k;
            return k;
        }
        case Shape::Index:
            return rng_.chance(f.a) ? -1 : rng_.integer(0, static_cast<int>(f.b) - 1);
        case Shape::Charge:
            return rng_.sign();
        case Shape::PdgId:
            return rng_.sign() * f.a;
        case Shape::Constant:
            return f.a;
        case Shape::Bitmap: {
            int level = 0;
            while (level < 4 && rng_.chance(0.5)) ++level;
            uint32_t bits = 0;
            for (int g = 0; g < static_cast<int>(f.b); ++g) bits |= static_cast<uint32_t>(level) << (3 * g);
            return static_cast<int32_t>(bits);
        }
        case Shape::Model:
        case Shape::Trigger:
            break;
    }
    throw std::logic_error("field has no generic shape");
}

}  // namespace make_example
