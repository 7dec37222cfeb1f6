#pragma once
// Builds small ROOT files byte by byte (header, top directory, object records, keys list),
// independently of the engine's writer, so the reader can be tested on layouts no reference
// file has: the large-file header, v1004 keys everywhere, several cycles of one name.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rootio/format/bytes.h"

namespace handmade {

struct Object {
    std::string class_name;
    std::string name;
    int16_t cycle = 1;
    std::vector<uint8_t> stored;  // bytes after the key header, as stored
    int32_t objlen = -1;          // -1: same as stored (not compressed)
    std::string title = "";       // the key's title; object tags count from the key's start
};

struct Layout {
    bool big = false;  // large-file header, v1005 directory, v1004 keys
};

inline constexpr size_t kHeaderSize = 100;

inline void key_header(rootio::ByteWriter& w, bool big, int32_t nbytes, int32_t objlen, int16_t keylen, int16_t cycle,
                       int64_t seek_key, int64_t seek_pdir, const std::string& cls, const std::string& name,
                       const std::string& title)
{
    w.i32(nbytes);
    w.i16(big ? 1004 : 4);
    w.i32(objlen);
    w.u32(1);  // datime
    w.i16(keylen);
    w.i16(cycle);
    if (big) {
        w.i64(seek_key);
        w.i64(seek_pdir);
    } else {
        w.i32(static_cast<int32_t>(seek_key));
        w.i32(static_cast<int32_t>(seek_pdir));
    }
    w.tstring(cls);
    w.tstring(name);
    w.tstring(title);
}

inline int16_t key_length(bool big, const std::string& cls, const std::string& name, const std::string& title)
{
    return static_cast<int16_t>((big ? 34 : 26) + rootio::tstring_size(cls) + rootio::tstring_size(name) +
                                rootio::tstring_size(title));
}

inline std::vector<uint8_t> build(const std::vector<Object>& objects, Layout layout = {})
{
    const bool big = layout.big;
    const std::string fname = "handmade.root";
    std::vector<uint8_t> out(kHeaderSize, 0);
    rootio::ByteWriter w(out);

    // Top directory record at 100.
    const int16_t top_keylen = key_length(big, "TFile", fname, "");
    const int32_t nbytes_name = top_keylen + static_cast<int32_t>(rootio::tstring_size(fname) + 1);
    const int32_t top_nbytes = nbytes_name + 60;
    key_header(w, big, top_nbytes, top_nbytes - top_keylen, top_keylen, 1, 100, 0, "TFile", fname, "");
    w.tstring(fname);
    w.tstring("");
    const size_t dir_at = out.size();
    out.resize(dir_at + 60, 0);

    // Object records, remembering their headers for the keys list.
    std::vector<std::vector<uint8_t>> headers;
    for (const Object& o : objects) {
        const int16_t keylen = key_length(big, o.class_name, o.name, o.title);
        const int32_t objlen = o.objlen < 0 ? static_cast<int32_t>(o.stored.size()) : o.objlen;
        const int64_t seek = static_cast<int64_t>(out.size());
        std::vector<uint8_t> h;
        rootio::ByteWriter hw(h);
        key_header(hw, big, keylen + static_cast<int32_t>(o.stored.size()), objlen, keylen, o.cycle, seek, 100,
                   o.class_name, o.name, o.title);
        headers.push_back(h);
        w.bytes(h);
        w.bytes(o.stored);
    }

    // Keys list.
    const int64_t seek_keys = static_cast<int64_t>(out.size());
    const int16_t list_keylen = key_length(big, "TFile", fname, "");
    int32_t list_objlen = 4;
    for (const auto& h : headers) list_objlen += static_cast<int32_t>(h.size());
    const int32_t nbytes_keys = list_keylen + list_objlen;
    key_header(w, big, nbytes_keys, list_objlen, list_keylen, 1, seek_keys, 100, "TFile", fname, "");
    w.i32(static_cast<int32_t>(headers.size()));
    for (const auto& h : headers) w.bytes(h);
    const int64_t end = static_cast<int64_t>(out.size());

    // Directory data.
    std::vector<uint8_t> dir;
    rootio::ByteWriter dw(dir);
    dw.i16(big ? 1005 : 5);
    dw.u32(1);
    dw.u32(1);
    dw.i32(nbytes_keys);
    dw.i32(nbytes_name);
    if (big) {
        dw.i64(100);
        dw.i64(0);
        dw.i64(seek_keys);
    } else {
        dw.i32(100);
        dw.i32(0);
        dw.i32(static_cast<int32_t>(seek_keys));
    }
    std::copy(dir.begin(), dir.end(), out.begin() + static_cast<std::ptrdiff_t>(dir_at));

    // Header.
    std::vector<uint8_t> head;
    head.reserve(kHeaderSize);
    rootio::ByteWriter hw(head);
    for (char c : {'r', 'o', 'o', 't'}) hw.u8(static_cast<uint8_t>(c));
    hw.i32(big ? 1062206 : 62206);
    hw.i32(100);
    if (big) {
        hw.i64(end);
        hw.i64(0);  // no free-segments record
    } else {
        hw.i32(static_cast<int32_t>(end));
        hw.i32(0);
    }
    hw.i32(0);
    hw.i32(0);
    hw.i32(nbytes_name);
    hw.u8(big ? 8 : 4);
    hw.i32(101);
    std::copy(head.begin(), head.end(), out.begin());
    return out;
}

inline void write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> read(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// A fresh directory under the system's temp folder, removed with the object.
class TempDir {
public:
    TempDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "rootio-test-XXXXXX").string();
        path_ = ::mkdtemp(templ.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace handmade
