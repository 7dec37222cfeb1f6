#pragma once
// Reshapes a small file our writer made (32-bit seeks) the way other writers and older ROOT
// versions lay files out: records are appended after the original bytes and a new keys list
// replaces the top directory's, so every seek in the original bytes still holds.
#include <cstdint>
#include <string>
#include <vector>

#include "rootio/handmade_file.h"
#include "rootio/format/bytes.h"

namespace appended {

using Bytes = std::vector<uint8_t>;

// Header fields of a small-layout file: fEND at 12, fNbytesName at 28.
inline constexpr size_t kEndAt = 12, kNbytesNameAt = 28;
// Top directory data: fNbytesKeys at 10, fSeekKeys at 26.
inline constexpr size_t kDirNbytesKeysAt = 10, kDirSeekKeysAt = 26;

struct Key {
    std::string class_name;
    std::string name;
    std::string title;
    int32_t nbytes = 0;
    int32_t objlen = 0;
    int16_t keylen = 0;
    int64_t seek = 0;
};

inline Bytes key_bytes(const Key& k, int64_t seek_pdir = 100)
{
    Bytes out;
    rootio::ByteWriter w(out);
    handmade::key_header(w, false, k.nbytes, k.objlen, k.keylen, 1, k.seek, seek_pdir, k.class_name, k.name,
                         k.title);
    return out;
}

class File {
public:
    explicit File(Bytes original) : bytes_(std::move(original)) {}

    Bytes& bytes() { return bytes_; }
    int64_t end() const { return static_cast<int64_t>(bytes_.size()); }

    // Appends an uncompressed record holding `object`; returns its key.
    Key append(const std::string& class_name, const std::string& name, const std::string& title,
               const Bytes& object)
    {
        Key k{class_name, name, title};
        k.keylen = handmade::key_length(false, class_name, name, title);
        k.nbytes = k.keylen + static_cast<int32_t>(object.size());
        k.objlen = static_cast<int32_t>(object.size());
        k.seek = end();
        const Bytes header = key_bytes(k);
        bytes_.insert(bytes_.end(), header.begin(), header.end());
        bytes_.insert(bytes_.end(), object.begin(), object.end());
        return k;
    }

    // Appends a keys-list record listing `entries` (key headers as stored in the list).
    // `stale_header` writes the list's own header as one writer does: its byte count covers
    // only the header and the key count. Returns {seek, true byte count}.
    std::pair<int64_t, int32_t> append_keys_list(const std::vector<Bytes>& entries, bool stale_header = false)
    {
        Bytes body;
        rootio::ByteWriter w(body);
        w.i32(static_cast<int32_t>(entries.size()));
        for (const Bytes& e : entries) w.bytes(e);
        Key k{"TFile", "appended.root", ""};
        k.keylen = handmade::key_length(false, k.class_name, k.name, k.title);
        k.nbytes = k.keylen + static_cast<int32_t>(body.size());
        k.objlen = static_cast<int32_t>(body.size());
        k.seek = end();
        Key stored = k;
        if (stale_header) stored.nbytes = stored.objlen = k.keylen + 4;
        const Bytes header = key_bytes(stored);
        bytes_.insert(bytes_.end(), header.begin(), header.end());
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        return {k.seek, k.nbytes};
    }

    // Points the top directory at a keys list and the header at the new end of the file.
    void set_top_keys(std::pair<int64_t, int32_t> list)
    {
        const size_t dir = 100 + static_cast<size_t>(rootio::load_be<int32_t>(bytes_.data() + kNbytesNameAt));
        rootio::store_be<int32_t>(bytes_.data() + dir + kDirNbytesKeysAt, list.second);
        rootio::store_be<int32_t>(bytes_.data() + dir + kDirSeekKeysAt, static_cast<int32_t>(list.first));
        rootio::store_be<int32_t>(bytes_.data() + kEndAt, static_cast<int32_t>(end()));
    }

    // Directory data of a subdirectory (version 5, 32-bit seeks) whose keys list is at `list`.
    static Bytes directory_data(std::pair<int64_t, int32_t> list, int32_t keylen, int64_t seek_dir)
    {
        Bytes out;
        rootio::ByteWriter w(out);
        w.i16(5);
        w.u32(1);
        w.u32(1);
        w.i32(list.second);
        w.i32(keylen);
        w.i32(static_cast<int32_t>(seek_dir));
        w.i32(100);
        w.i32(static_cast<int32_t>(list.first));
        out.resize(out.size() + 18, 0);  // UUID version and UUID
        return out;
    }

private:
    Bytes bytes_;
};

}  // namespace appended
