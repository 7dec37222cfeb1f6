#pragma once
// Structural checks that hold for any ROOT file a writer produces, made straight from the
// bytes (not through the engine's reader): header fields, every record's key header
// consistent and inside the file, records contiguous from 100 to fEND (freed gaps marked
// and listed), fEND equal to the file size, the keys list equal to the on-disk headers,
// the directory and the free-segments record pointing where they should.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "rootio/format/bytes.h"

namespace file_structure {

struct Record {
    int64_t seek = 0;
    int32_t nbytes = 0;
    int16_t version = 0;
    int32_t objlen = 0;
    int16_t keylen = 0;
    int16_t cycle = 0;
    int64_t seek_key = 0;
    int64_t seek_pdir = 0;
    std::string class_name, name, title;
    std::vector<uint8_t> header;  // the key header bytes as on disk
};

struct Summary {
    bool big = false;
    int64_t end = 0;
    int32_t nfree = 0;
    std::vector<Record> records;                   // in file order
    std::vector<std::pair<int64_t, int64_t>> gaps;  // marked holes [first, last]
    std::vector<std::pair<int64_t, int64_t>> free_segments;
    std::vector<std::vector<uint8_t>> listed_keys;  // headers copied into the keys list
};

class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {}
    ~File()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int64_t size() const
    {
        struct stat sb{};
        ::fstat(fd_, &sb);
        return sb.st_size;
    }
    std::vector<uint8_t> read(int64_t at, size_t n) const
    {
        std::vector<uint8_t> b(n);
        const ssize_t got = ::pread(fd_, b.data(), n, at);
        b.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return b;
    }

private:
    int fd_;
};

inline Record parse_key(const File& f, int64_t at)
{
    Record r;
    r.seek = at;
    const std::vector<uint8_t> head = f.read(at, 1024);
    rootio::ByteReader in(head, "key");
    r.nbytes = in.i32();
    r.version = in.i16();
    r.objlen = in.i32();
    in.u32();
    r.keylen = in.i16();
    r.cycle = in.i16();
    r.seek_key = r.version > 1000 ? in.i64() : in.i32();
    r.seek_pdir = r.version > 1000 ? in.i64() : in.i32();
    r.class_name = in.tstring();
    r.name = in.tstring();
    r.title = in.tstring();
    const size_t named = in.pos();
    const size_t header_len = r.class_name == "TBasket" ? named + 19 : named;
    r.header.assign(head.begin(), head.begin() + static_cast<long>(std::min(header_len, head.size())));
    return r;
}

// Runs every check (as gtest failures) and returns what it found, for further checks.
inline Summary check(const std::string& path)
{
    Summary s;
    File f(path);
    EXPECT_TRUE(f.ok()) << path;
    if (!f.ok()) return s;
    const std::vector<uint8_t> hb = f.read(0, 100);
    EXPECT_EQ(hb.size(), 100u);
    if (hb.size() < 100) return s;
    rootio::ByteReader h(hb, "header");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(hb.data()), 4), "root");
    h.seek(4);
    const int32_t version = h.i32();
    s.big = version >= 1000000;
    EXPECT_EQ(h.i32(), 100) << "fBEGIN";
    s.end = s.big ? h.i64() : h.i32();
    const int64_t seek_free = s.big ? h.i64() : h.i32();
    const int32_t nbytes_free = h.i32();
    s.nfree = h.i32();
    const int32_t nbytes_name = h.i32();
    const uint8_t units = h.u8();
    h.i32();  // compression
    const int64_t seek_info = s.big ? h.i64() : h.i32();
    const int32_t nbytes_info = h.i32();
    EXPECT_EQ(h.u16(), 1) << "UUID version";
    const auto uuid = h.bytes(16);
    for (size_t i = h.pos(); i < 100; ++i) EXPECT_EQ(hb[i], 0) << "header padding at " << i;

    EXPECT_EQ(s.end, f.size()) << "fEND must be the file size";
    EXPECT_EQ(s.big, s.end > 2000000000) << "large layout exactly when past 2 GB";
    EXPECT_EQ(units, s.big ? 8 : 4);

    // Walk every record.
    int64_t at = 100;
    while (at < s.end) {
        const std::vector<uint8_t> w = f.read(at, 4);
        EXPECT_EQ(w.size(), 4u) << "record at " << at << " runs past the file";
        if (w.size() < 4) return s;
        const int32_t first = rootio::load_be<int32_t>(w.data());
        if (first < 0) {
            s.gaps.emplace_back(at, at - int64_t{first} - 1);
            at -= first;
            continue;
        }
        const Record r = parse_key(f, at);
        EXPECT_GT(r.nbytes, 0) << "record at " << at;
        if (r.nbytes <= 0) return s;
        EXPECT_EQ(r.seek_key, at) << r.class_name << " " << r.name;
        EXPECT_TRUE(r.version == 4 || r.version == 1004) << r.name;
        if (r.class_name == "TBasket") {
            EXPECT_EQ(r.version, 1004) << "baskets always have 64-bit keys";
        }
        if (at > 2000000000) {
            EXPECT_EQ(r.version, 1004) << "record past 2 GB needs 64-bit seeks: " << r.name;
        }
        const size_t names = rootio::tstring_size(r.class_name) + rootio::tstring_size(r.name) +
                             rootio::tstring_size(r.title);
        EXPECT_EQ(r.keylen, (r.version > 1000 ? 34 : 26) + names + (r.class_name == "TBasket" ? 19 : 0)) << r.name;
        EXPECT_GE(r.nbytes, r.keylen);
        const int32_t stored = r.nbytes - r.keylen;
        EXPECT_GE(r.objlen, stored) << "compressed records shrink, raw ones equal fObjlen: " << r.name;
        EXPECT_EQ(r.seek_pdir, at == 100 ? 0 : 100) << r.name;
        EXPECT_LE(at + r.nbytes, s.end) << r.name;
        s.records.push_back(r);
        at += r.nbytes;
    }
    EXPECT_EQ(at, s.end) << "records must end exactly at fEND";
    if (s.records.empty()) return s;

    // Top directory.
    const Record& top = s.records.front();
    EXPECT_EQ(top.class_name, "TFile");
    EXPECT_EQ(top.seek, 100);
    EXPECT_EQ(top.nbytes, nbytes_name + 60);
    const std::vector<uint8_t> db = f.read(100 + nbytes_name, 60);
    rootio::ByteReader d(db, "directory");
    const int16_t dv = d.i16();
    d.u32();
    d.u32();
    const int32_t nbytes_keys = d.i32();
    EXPECT_EQ(d.i32(), nbytes_name);
    const bool dir_big = dv > 1000;
    EXPECT_EQ(dir_big ? d.i64() : d.i32(), 100) << "fSeekDir";
    EXPECT_EQ(dir_big ? d.i64() : d.i32(), 0) << "fSeekParent";
    const int64_t seek_keys = dir_big ? d.i64() : d.i32();
    EXPECT_EQ(dir_big, seek_keys > 2000000000);
    EXPECT_EQ(d.u16(), 1);
    const auto dir_uuid = d.bytes(16);
    EXPECT_TRUE(std::equal(uuid.begin(), uuid.end(), dir_uuid.begin())) << "header and directory share the UUID";

    auto record_at = [&](int64_t seek) -> const Record* {
        for (const Record& r : s.records)
            if (r.seek == seek) return &r;
        return nullptr;
    };

    const Record* info = record_at(seek_info);
    EXPECT_TRUE(info && info->class_name == "TList" && info->name == "StreamerInfo" && info->nbytes == nbytes_info);

    // Keys list: n headers, each equal to the header of the record it names.
    const Record* keys = record_at(seek_keys);
    EXPECT_TRUE(keys && keys->nbytes == nbytes_keys);
    if (keys) {
        const std::vector<uint8_t> kb = f.read(seek_keys + keys->keylen, static_cast<size_t>(keys->objlen));
        rootio::ByteReader k(kb, "keys list");
        const int32_t n = k.i32();
        size_t pos = 4;
        for (int32_t i = 0; i < n; ++i) {
            const Record listed = parse_key(f, seek_keys + keys->keylen + static_cast<int64_t>(pos));
            const std::vector<uint8_t> copy(kb.begin() + static_cast<long>(pos),
                                            kb.begin() + static_cast<long>(pos + listed.keylen));
            const Record* actual = record_at(listed.seek_key);
            EXPECT_TRUE(actual != nullptr) << "listed key " << listed.name << " points at no record";
            if (actual) {
                EXPECT_EQ(copy, actual->header) << "keys-list copy of " << listed.name;
            }
            s.listed_keys.push_back(copy);
            pos += static_cast<size_t>(listed.keylen);
        }
        EXPECT_EQ(kb.size() - pos, s.big ? 8u : 0u) << "spare bytes after the keys";
    }
    // Every user object is listed; baskets and the closing records are not.
    size_t user_objects = 0;
    for (const Record& r : s.records)
        if (r.class_name != "TBasket" && r.class_name != "TFile" && r.name != "StreamerInfo") ++user_objects;
    EXPECT_EQ(user_objects, s.listed_keys.size());

    // Free segments: the marked gaps, then [fEND, last].
    const Record* free = record_at(seek_free);
    EXPECT_TRUE(free && free->nbytes == nbytes_free && free->class_name == "TFile");
    if (free) {
        EXPECT_EQ(free->seek + free->nbytes, s.end) << "the free-segments record comes last";
        const std::vector<uint8_t> fb = f.read(seek_free + free->keylen, static_cast<size_t>(free->objlen));
        rootio::ByteReader fr(fb, "free segments");
        for (int32_t i = 0; i < s.nfree; ++i) {
            const int16_t v = fr.i16();
            const int64_t first = v > 1000 ? fr.i64() : fr.i32();
            const int64_t last = v > 1000 ? fr.i64() : fr.i32();
            EXPECT_EQ(v > 1000, last > 2000000000);
            s.free_segments.emplace_back(first, last);
        }
        EXPECT_EQ(fr.remaining(), 0u);
        EXPECT_EQ(s.free_segments.size(), s.gaps.size() + 1);
        for (size_t i = 0; i < s.gaps.size() && i < s.free_segments.size(); ++i)
            EXPECT_EQ(s.free_segments[i], s.gaps[i]);
        if (!s.free_segments.empty()) {
            EXPECT_EQ(s.free_segments.back().first, s.end);
            if (!s.big) {
                EXPECT_EQ(s.free_segments.back().second, 2000000000);
            }
            EXPECT_GE(s.free_segments.back().second, s.end);
        }
    }
    return s;
}

}  // namespace file_structure
