#pragma once
// treedump on an RNTuple: the field listing and the entries as JSON, in the forms the
// tree dump uses (json_values.h): one object per entry, top-level fields in field order.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "json_values.h"
#include "rootio/file/root_file.h"
#include "rootio/format/error.h"
#include "rootio/ntuple/field_values.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace treedump {

inline bool is_ntuple(const rootio::RootFile& file, std::string_view path)
{
    const auto key = file.find_path(path);
    return key && key->class_name == rootio::ntuple::kAnchorClassName;
}

// "entries N", then "NAME TYPE" per top-level field ("-" for an untyped one).
inline void list_fields(const rootio::ntuple::NtupleReader& reader)
{
    const rootio::ntuple::Descriptor& d = reader.descriptor();
    std::cout << "entries " << d.entries << '\n';
    for (uint32_t id : d.top_level) {
        const auto& f = d.fields[id];
        std::cout << f.name << ' ' << (f.type_name.empty() ? "-" : f.type_name) << '\n';
    }
}

// Writes the values as JSON text: arrays, objects, numbers as the tree dump writes them.
class JsonSink final : public rootio::ntuple::ValueSink {
public:
    explicit JsonSink(std::string& out) : out_(out) {}
    // Starts a member of the entry's object.
    void member(std::string_view name)
    {
        if (members_++) out_ += ',';
        append_key(out_, name);
        fresh_ = true;
    }
    void reset() { members_ = 0; }

    void null_value() override { sep(), out_ += "null"; }
    void boolean(bool v) override { sep(), out_ += v ? "true" : "false"; }
    void signed_integer(int64_t v) override { sep(), append_number(out_, v); }
    void unsigned_integer(uint64_t v) override { sep(), append_number(out_, v); }
    void real32(float v) override { sep(), append_number(out_, v); }
    void real64(double v) override { sep(), append_number(out_, v); }
    void string(std::string_view v) override
    {
        sep();
        // A JSON string is written as a key is, without the colon.
        append_key(out_, v);
        out_.pop_back();
    }
    void begin_array() override { sep(), out_ += '[', fresh_ = true; }
    void end_array() override { out_ += ']', fresh_ = false; }
    void begin_record() override { sep(), out_ += '{', fresh_ = true; }
    void key(std::string_view name) override
    {
        sep();
        append_key(out_, name);
        fresh_ = true;
    }
    void end_record() override { out_ += '}', fresh_ = false; }

private:
    // A comma before every value but the first of an array or object (and a member's).
    void sep()
    {
        if (!fresh_) out_ += ',';
        fresh_ = false;
    }
    std::string& out_;
    int members_ = 0;
    bool fresh_ = true;
};

// One JSON object per entry in [first, first + count) (count < 0: to the end), of the
// named top-level fields (field order, each once) or of every readable one.
inline void dump_fields_json(const rootio::ntuple::NtupleReader& reader, int64_t first, int64_t count,
                             const std::vector<std::string>& names)
{
    const rootio::ntuple::Descriptor& d = reader.descriptor();
    std::vector<uint32_t> fields;
    for (uint32_t id : d.top_level) {
        const bool asked = std::find(names.begin(), names.end(), d.fields[id].name) != names.end();
        if (names.empty() ? rootio::ntuple::EntryReader::readable(d, id) : asked) fields.push_back(id);
    }
    for (const std::string& name : names)
        if (!d.find_top_level(name)) rootio::fail(reader.context(), "", "no field named '" + name + "'");
    rootio::ntuple::EntryReader entries(reader, fields);

    const int64_t total = static_cast<int64_t>(d.entries);
    const int64_t begin = std::min(first, total);
    const int64_t end = count < 0 ? total : std::min(total, begin + count);
    std::string line;
    JsonSink sink(line);
    for (int64_t entry = begin; entry < end; ++entry) {
        line.clear();
        sink.reset();
        line += '{';
        for (size_t k = 0; k < fields.size(); ++k) {
            sink.member(d.fields[fields[k]].name);
            entries.read(static_cast<uint64_t>(entry), k, sink);
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
}

}  // namespace treedump
