#pragma once
// Per-entry values of any field, as a stream of events to a ValueSink: scalars, strings,
// arrays (every collection, fixed-size arrays, bitsets), records (classes, untyped
// records, std::pair as first/second, std::tuple as _0, _1, ...), null for an empty
// optional or unique_ptr. Built once per field from the descriptor; reads go through a
// ClusterCache that holds the current cluster's columns, fetched in one batched read.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace rootio::ntuple {

class ValueSink {
public:
    virtual ~ValueSink() = default;
    virtual void null_value() = 0;
    virtual void boolean(bool v) = 0;
    virtual void signed_integer(int64_t v) = 0;
    virtual void unsigned_integer(uint64_t v) = 0;
    virtual void real32(float v) = 0;
    virtual void real64(double v) = 0;
    virtual void string(std::string_view v) = 0;
    virtual void begin_array() = 0;
    virtual void end_array() = 0;
    virtual void begin_record() = 0;
    virtual void key(std::string_view name) = 0;  // then the member's value
    virtual void end_record() = 0;
};

struct ValueNode;

// Reads the values of some top-level fields entry by entry.
class EntryReader {
public:
    // Throws RootError naming the field for one this reader cannot read (a ROOT-streamed
    // class, a column type that does not fit the field's type).
    EntryReader(const NtupleReader& reader, std::span<const uint32_t> fields);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // The value of fields[k] at `entry` (entry < entries). Damage is RootError naming the
    // file, the field and the entry.
    void read(uint64_t entry, size_t k, ValueSink& sink);

    // Nothing but the check: can this field be read (the constructor would not throw)?
    static bool readable(const Descriptor& d, uint32_t field, std::string* why = nullptr);

private:
    void enter_cluster(size_t cluster);

    const NtupleReader& reader_;
    std::vector<std::unique_ptr<ValueNode>> roots_;
    ClusterCache cache_;
    bool have_cluster_ = false;
    size_t cluster_ = 0;
};

}  // namespace rootio::ntuple
