#pragma once
// Writes one RNTuple into a ROOT file being written: the fields a skim of event data needs
// (fundamental types, std::string, std::vector / ROOT::VecOps::RVec of fundamentals,
// untyped collections with projected RVec and cardinality fields), then entries. Each
// column collects its elements in memory form; a page is sealed every ~64 KiB and goes to
// the page sink (compressed on the workers); a cluster is closed once the entries since
// the last one hold `cluster_bytes` of data. write() adds the page list, the footer and
// the ROOT::RNTuple anchor key. The header is written when the first entry is filled, so
// fields are added before that.
//
// Per entry, every data-bearing field is set exactly once (a collection's members with
// as many elements as its size), then fill(). A mistake throws RootError and leaves the
// writer unusable; the file writer then discards the file when it is not closed.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/format/leaf_type.h"

namespace rootio::ntuple {

struct WriteOptions {
    int compression = -1;                    // ROOT numbering; -1: the file's setting
    size_t page_bytes = size_t{64} << 10;    // a page is sealed at this many bytes in memory
    size_t cluster_bytes = size_t{100} << 20;  // a cluster is closed past this many bytes
    int threads = 0;                         // compressing threads; 0: rootio::thread_count()
    uint64_t max_key_size = uint64_t{1} << 30;  // larger pages and envelopes span several records
    std::string description;
};

// The C++ type name RNTuple stores for a fundamental type ("std::int32_t", "float", ...).
std::string_view fundamental_type_name(LeafType type);

class NTupleWriter {
public:
    // A field that receives values: a fundamental field, a string, a vector, a collection
    // (its size) or a member of a collection.
    struct Slot {
        int index = -1;
    };
    struct Collection {
        int slot = -1;       // slot of the collection's size
        uint32_t field = 0;  // the collection field
    };

    NTupleWriter(FileWriter& file, std::string name, WriteOptions options = {});
    ~NTupleWriter();
    NTupleWriter(const NTupleWriter&) = delete;
    NTupleWriter& operator=(const NTupleWriter&) = delete;

    // Top-level fields.
    Slot add_fundamental(const std::string& name, LeafType type);
    Slot add_string(const std::string& name);
    // std::vector<T>, or ROOT::VecOps::RVec<T> with `rvec`.
    Slot add_vector(const std::string& name, LeafType type, bool rvec = false);
    // An untyped collection of untyped records (subfield "_0"), whose members are added
    // with add_member, each a fundamental field of the record.
    Collection add_collection(const std::string& name);
    Slot add_member(const Collection& collection, const std::string& name, LeafType type);
    // Projected top-level fields: `ROOT::VecOps::RVec<T>` presenting one member of a
    // collection, and `ROOT::RNTupleCardinality<std::uint32_t>` (or uint64_t) its size.
    void add_projected_rvec(const std::string& name, const Collection& collection, const Slot& member);
    void add_cardinality(const std::string& name, const Collection& collection, bool wide = false);

    // Values of the current entry. For a fundamental field exactly one element; for a
    // member as many as the collection's size.
    template <class T>
    void set_values(Slot slot, std::span<const T> values)
    {
        append(slot, reinterpret_cast<const uint8_t*>(values.data()), values.size(), sizeof(T), false);
    }
    template <class T>
    void set_value(Slot slot, T value)
    {
        set_values<T>(slot, std::span<const T>(&value, 1));
    }
    // The same from big-endian element bytes, as a TTree basket stores them.
    void set_values_be(Slot slot, std::span<const uint8_t> be);
    void set_string(Slot slot, std::string_view text);
    void set_size(const Collection& collection, uint64_t size);

    void fill();
    uint64_t entries() const;
    // Closes the current cluster now (when it holds entries).
    void commit_cluster();
    // Writes what is left: pages, page list, footer, anchor.
    void write();

private:
    struct State;
    void append(Slot slot, const uint8_t* data, size_t count, size_t size, bool big_endian);
    std::unique_ptr<State> state_;
};

}  // namespace rootio::ntuple
