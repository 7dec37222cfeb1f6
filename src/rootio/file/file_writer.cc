#include "rootio/file/file_writer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>

#include "rootio/format/error.h"
#include "rootio/io/output_file.h"
#include "rootio/format/streamer_info.h"
#include "rootio/parallel/threads.h"

namespace rootio {

namespace {

constexpr int32_t kFileVersion = 62208;  // layouts and bits are those of ROOT 6.22
constexpr int64_t kBegin = 100;
constexpr int32_t kDirectoryDataSize = 60;
constexpr int16_t kKeyVersion = 4;
constexpr int16_t kBigKeyVersion = 1004;
constexpr int32_t kBasketHeaderSize = 19;
constexpr int32_t kCompressMinimum = 256;  // ROOT stores smaller objects raw
constexpr size_t kFlushThreshold = size_t{4} << 20;
constexpr int64_t kFreeStep = 1000000000;

int key_length(bool big, std::string_view class_name, std::string_view name, std::string_view title)
{
    return (big ? 34 : 26) + static_cast<int>(tstring_size(class_name) + tstring_size(name) + tstring_size(title));
}

struct KeyFields {
    int32_t nbytes = 0;
    int16_t version = kKeyVersion;
    int32_t objlen = 0;
    uint32_t datime = 0;
    int16_t keylen = 0;
    int16_t cycle = 1;
    int64_t seek_key = 0;
    int64_t seek_pdir = 0;
    std::string_view class_name, name, title;
};

void put_key(ByteWriter& w, const KeyFields& k)
{
    w.i32(k.nbytes);
    w.i16(k.version);
    w.i32(k.objlen);
    w.u32(k.datime);
    w.i16(k.keylen);
    w.i16(k.cycle);
    if (k.version > 1000) {
        w.i64(k.seek_key);
        w.i64(k.seek_pdir);
    } else {
        w.i32(static_cast<int32_t>(k.seek_key));
        w.i32(static_cast<int32_t>(k.seek_pdir));
    }
    w.tstring(k.class_name);
    w.tstring(k.name);
    w.tstring(k.title);
}

// TDatime packing of the local time (UTC for a fixed build time, so that it does not
// depend on the time zone either).
uint32_t pack_datime(std::time_t t, bool utc)
{
    std::tm tm{};
    if (utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    return static_cast<uint32_t>(tm.tm_year + 1900 - 1995) << 26 | static_cast<uint32_t>(tm.tm_mon + 1) << 22 |
           static_cast<uint32_t>(tm.tm_mday) << 17 | static_cast<uint32_t>(tm.tm_hour) << 12 |
           static_cast<uint32_t>(tm.tm_min) << 6 | static_cast<uint32_t>(tm.tm_sec);
}

// SOURCE_DATE_EPOCH (seconds since 1970) asks for reproducible output: every time stamp
// is that time and the UUID derives from it, so the same content gives the same bytes.
std::optional<std::time_t> source_date_epoch()
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return std::nullopt;
    long long seconds = 0;
    const auto [end, ec] = std::from_chars(text, text + std::strlen(text), seconds);
    if (ec != std::errc{} || *end != '\0' || seconds < 0) return std::nullopt;
    return static_cast<std::time_t>(seconds);
}

void fixed_uuid(std::time_t seed, std::array<uint8_t, 16>& uuid)
{
    uint64_t x = static_cast<uint64_t>(seed);
    for (size_t i = 0; i < uuid.size(); i += 8) {
        x += 0x9E3779B97F4A7C15ull;  // splitmix64
        uint64_t z = x;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(uuid.data() + i, &z, 8);
    }
}

// fKeylen is 16 bits wide: names and titles must leave the key header below that.
int16_t checked_keylen(int keylen, const std::string& path, std::string_view what)
{
    if (keylen > INT16_MAX) fail(path, printable(what), "name and title too long for a key (" + std::to_string(keylen) + " bytes)");
    return static_cast<int16_t>(keylen);
}

int32_t checked_nbytes(int64_t n, const std::string& path, std::string_view what)
{
    if (n > INT32_MAX) fail(path, printable(what), "record of " + std::to_string(n) + " bytes exceeds the 2 GiB record limit");
    return static_cast<int32_t>(n);
}

}  // namespace

struct FileWriter::State {
    std::optional<OutputFile> out;

    // Bytes not yet written, starting at file offset pending_start.
    std::vector<uint8_t> pending;
    int64_t pending_start = 0;

    struct ListedKey {
        std::string name;
        int16_t cycle;
        std::vector<uint8_t> header;
    };
    std::vector<ListedKey> keys;
    std::vector<std::string> classes;  // held by the file, in order of first use

    std::unique_ptr<Compressor> compressor;  // the file setting, for keys
    std::unique_ptr<BasketPipeline> pipeline;  // created with the first basket
    std::pair<std::string, std::string> fail_for_testing;  // branch, message
    std::vector<uint8_t> object, zipped, key;

    int64_t free_last = kStartBigFile;                // end of the last free segment, as ROOT extends it
    std::vector<std::pair<int64_t, int64_t>> gaps;    // holes left inside the file [first, last]
    int32_t nbytes_name = 0;
    uint32_t datime_created = 0;
    std::array<uint8_t, 16> uuid{};

    std::time_t datime_second = -1;
    uint32_t datime = 0;
    std::optional<std::time_t> fixed_time = source_date_epoch();

    uint32_t now()
    {
        const std::time_t t = fixed_time ? *fixed_time : std::time(nullptr);
        if (t != datime_second) {
            datime_second = t;
            datime = pack_datime(t, fixed_time.has_value());
        }
        return datime;
    }
};

FileWriter::FileWriter(std::string path, int compression, std::string title)
    : state_(std::make_unique<State>()), path_(std::move(path)), compression_(compression), title_(std::move(title))
{
    State& st = *state_;
    st.compressor = std::make_unique<Compressor>(compression_);
    st.out.emplace(path_);

    // Nothing below should fail; if it does, the file just created must not stay behind.
    try {
        if (st.fixed_time) {
            fixed_uuid(*st.fixed_time, st.uuid);
        } else {
            std::random_device rd;
            for (size_t i = 0; i < st.uuid.size(); i += 4) {
                const uint32_t r = rd();
                std::memcpy(st.uuid.data() + i, &r, 4);
            }
        }
        st.uuid[6] = static_cast<uint8_t>((st.uuid[6] & 0x0F) | 0x40);  // random (version 4) UUID
        st.uuid[8] = static_cast<uint8_t>((st.uuid[8] & 0x3F) | 0x80);
        st.datime_created = st.now();

        // The header stays zero until close(): an unfinished file is not a ROOT file.
        st.pending.reserve(kFlushThreshold + (kFlushThreshold >> 2));
        st.pending.assign(kBegin, 0);
        end_ = kBegin;

        // Top directory record; its directory data is rewritten by close().
        const int keylen = checked_keylen(key_length(false, "TFile", path_, title_), path_, "directory");
        const int namelen = static_cast<int>(tstring_size(path_) + tstring_size(title_));
        const int32_t nbytes = checked_nbytes(int64_t{keylen} + namelen + kDirectoryDataSize, path_, "directory");
        st.nbytes_name = keylen + namelen;
        const int64_t seek = allocate(nbytes);
        ByteWriter w(st.pending);
        put_key(w, {nbytes, kKeyVersion, namelen + kDirectoryDataSize, st.datime_created, static_cast<int16_t>(keylen), 1,
                    seek, 0, "TFile", path_, title_});
        w.tstring(path_);
        w.tstring(title_);
        w.bytes(std::vector<uint8_t>(kDirectoryDataSize, 0));
    } catch (...) {
        discard();
        throw;
    }
}

FileWriter::~FileWriter()
{
    if (!closed_) discard();
}

void FileWriter::fail_sys(std::string_view what, int err) const { fail(path_, what, std::strerror(err)); }

void FileWriter::fail_write(int err)
{
    discard();
    fail_sys("write failed", err);
}

void FileWriter::check_writable(std::string_view object) const
{
    if (closed_) fail(path_, printable(object), "written after the file was closed");
    if (!state_->out->is_open()) fail(path_, printable(object), "file was discarded after an earlier failure");
}

void FileWriter::discard() noexcept
{
    if (!state_) return;
    State& st = *state_;
    if (st.pipeline) {
        try {
            st.pipeline->clear();
        } catch (...) {  // the file must be removed regardless
        }
    }
    if (st.out) st.out->discard();
}

void FileWriter::write_at(int64_t offset, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(state_->out->fd(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_write(errno);
        if (n == 0) fail_write(ENOSPC);
        bytes = bytes.subspan(static_cast<size_t>(n));
        offset += n;
    }
}

void FileWriter::flush_pending()
{
    State& st = *state_;
    write_at(st.pending_start, st.pending);
    st.pending_start += static_cast<int64_t>(st.pending.size());
    st.pending.clear();
}

int64_t FileWriter::allocate(int64_t nbytes)
{
    // ROOT keeps one open-ended free segment and pushes its end out by 10^9 bytes whenever a
    // record does not fit (TFree::GetBestFree, TKey::Create); its final value is recorded.
    State& st = *state_;
    const int64_t left = st.free_last - end_ + 1;
    if (left != nbytes && left <= nbytes + 3) st.free_last += kFreeStep;
    const int64_t seek = end_;
    end_ += nbytes;
    if (end_ > st.free_last) st.free_last += kFreeStep;
    return seek;
}

void FileWriter::append_record(std::span<const uint8_t> key_header, std::span<const uint8_t> object)
{
    State& st = *state_;
    if (object.size() >= kFlushThreshold) {
        // Large records go straight to the file rather than through the buffer.
        flush_pending();
        write_at(st.pending_start, key_header);
        write_at(st.pending_start + static_cast<int64_t>(key_header.size()), object);
        st.pending_start += static_cast<int64_t>(key_header.size() + object.size());
        return;
    }
    st.pending.insert(st.pending.end(), key_header.begin(), key_header.end());
    st.pending.insert(st.pending.end(), object.begin(), object.end());
    if (st.pending.size() >= kFlushThreshold) flush_pending();
}

int16_t FileWriter::basket_key_length(std::string_view branch_name, std::string_view tree_name)
{
    return static_cast<int16_t>(key_length(true, "TBasket", branch_name, tree_name) + kBasketHeaderSize);
}

void FileWriter::set_compression_threads(int threads)
{
    State& st = *state_;
    if (st.pipeline && !st.pipeline->empty()) fail(path_, "", "thread count changed while baskets are queued");
    st.pipeline = std::make_unique<BasketPipeline>(threads);
}

BasketPipeline& FileWriter::pipeline()
{
    State& st = *state_;
    if (!st.pipeline) st.pipeline = std::make_unique<BasketPipeline>(thread_count());
    return *st.pipeline;
}

void FileWriter::fail_compression_for_testing(std::string branch_name, std::string message)
{
    state_->fail_for_testing = {std::move(branch_name), std::move(message)};
}

void FileWriter::queue_basket(BasketOwner& owner, int tag, std::string_view branch_name, std::string_view tree_name,
                              int16_t cycle, std::span<const uint8_t> basket_header, std::span<const uint8_t> payload,
                              int compression)
{
    check_writable(branch_name);
    if (basket_header.size() != kBasketHeaderSize) fail(path_, printable(branch_name), "basket header must be 19 bytes");
    State& st = *state_;
    BasketPipeline& line = pipeline();
    while (line.full()) write_oldest_basket(true);

    BasketPipeline::Basket& b = line.next();
    b.owner = &owner;
    b.tag = tag;
    b.branch_name.assign(branch_name);
    b.tree_name.assign(tree_name);
    b.cycle = cycle;
    std::copy(basket_header.begin(), basket_header.end(), b.header.begin());
    b.compression = compression;
    b.payload.assign(payload.begin(), payload.end());
    if (!st.fail_for_testing.first.empty() && st.fail_for_testing.first == branch_name) {
        b.fail_for_testing = std::move(st.fail_for_testing.second);
        st.fail_for_testing = {};
    }
    line.submit();
    // Whatever is ready goes out now: the file then trails the filling by a few baskets.
    while (!line.empty() && write_oldest_basket(false)) {
    }
}

void FileWriter::flush_baskets()
{
    State& st = *state_;
    while (st.pipeline && !st.pipeline->empty()) write_oldest_basket(true);
}

FileWriter::BasketWritten FileWriter::write_basket(std::string_view branch_name, std::string_view tree_name,
                                                   int16_t cycle, std::span<const uint8_t> basket_header,
                                                   std::span<const uint8_t> payload, Compressor& compressor)
{
    check_writable(branch_name);
    if (basket_header.size() != kBasketHeaderSize) fail(path_, printable(branch_name), "basket header must be 19 bytes");
    flush_baskets();
    State& st = *state_;
    const bool zipped = compressor.compress(payload, st.zipped);
    return append_basket(branch_name, tree_name, cycle, basket_header, payload.size(),
                         zipped ? std::span<const uint8_t>(st.zipped) : payload);
}

FileWriter::BasketWritten FileWriter::append_basket(std::string_view branch_name, std::string_view tree_name,
                                                    int16_t cycle, std::span<const uint8_t> basket_header,
                                                    size_t payload_size, std::span<const uint8_t> stored)
{
    State& st = *state_;
    const int16_t keylen = basket_key_length(branch_name, tree_name);
    const int32_t nbytes = checked_nbytes(int64_t{keylen} + static_cast<int64_t>(stored.size()), path_, branch_name);
    const int32_t objlen = checked_nbytes(static_cast<int64_t>(payload_size), path_, branch_name);
    const int64_t seek = allocate(nbytes);

    st.key.clear();
    ByteWriter w(st.key);
    put_key(w, {nbytes, kBigKeyVersion, objlen, st.now(), keylen, cycle, seek, kBegin, "TBasket", branch_name,
                tree_name});
    w.bytes(basket_header);
    append_record(st.key, stored);
    return {seek, nbytes, objlen, keylen};
}

bool FileWriter::write_oldest_basket(bool wait)
{
    State& st = *state_;
    const BasketPipeline::Basket* b = st.pipeline->oldest(wait);
    if (!b) return false;
    try {
        if (b->error) std::rethrow_exception(b->error);
        const BasketWritten written =
            append_basket(b->branch_name, b->tree_name, b->cycle, b->header, b->payload.size(), b->stored());
        static_cast<BasketOwner*>(b->owner)->basket_written(b->tag, written);
    } catch (...) {
        // Later baskets would land at other offsets than they should: nothing more is written.
        discard();
        throw;
    }
    st.pipeline->pop();
    return true;
}

int64_t FileWriter::end()
{
    if (!closed_ && state_->out->is_open()) flush_baskets();
    return end_;
}

int64_t FileWriter::append_record_copy(std::span<const uint8_t> records)
{
    check_writable("copied records");
    flush_baskets();
    const int64_t seek = allocate(static_cast<int64_t>(records.size()));
    // Straight to the file: the caller's buffer is still in cache, a copy into the pending
    // buffer would only add one.
    State& st = *state_;
    flush_pending();
    write_at(st.pending_start, records);
    st.pending_start += static_cast<int64_t>(records.size());
    return seek;
}

int64_t FileWriter::write_blob(std::span<const uint8_t> data, std::span<const uint8_t> trailer, int64_t objlen)
{
    check_writable("RBlob");
    flush_baskets();
    State& st = *state_;
    const bool big = end_ > kStartBigFile;
    const int keylen = key_length(big, "RBlob", "", "");
    const int32_t nbytes = checked_nbytes(int64_t{keylen} + static_cast<int64_t>(data.size() + trailer.size()),
                                          path_, "RBlob");
    const int64_t seek = allocate(nbytes);
    st.key.clear();
    ByteWriter w(st.key);
    put_key(w, {nbytes, big ? kBigKeyVersion : kKeyVersion, checked_nbytes(objlen, path_, "RBlob"), st.now(),
                static_cast<int16_t>(keylen), 1, seek, kBegin, "RBlob", "", ""});
    append_record(st.key, data);
    if (!trailer.empty()) {
        st.pending.insert(st.pending.end(), trailer.begin(), trailer.end());
        if (st.pending.size() >= kFlushThreshold) flush_pending();
    }
    return seek + keylen;
}

void FileWriter::write_object(std::string_view class_name, std::string_view name, std::string_view title,
                              const std::function<void(ByteWriter&, int keylen)>& stream)
{
    check_writable(name);
    flush_baskets();
    State& st = *state_;
    const bool big = end_ > kStartBigFile;
    const int keylen = checked_keylen(key_length(big, class_name, name, title), path_, name);
    int16_t cycle = 1;
    for (const auto& k : st.keys)
        if (k.name == name) cycle = std::max<int16_t>(cycle, static_cast<int16_t>(k.cycle + 1));

    st.object.clear();
    ByteWriter ow(st.object);
    stream(ow, keylen);
    const bool zipped = st.object.size() > kCompressMinimum && st.compressor->compress(st.object, st.zipped);
    const std::span<const uint8_t> stored = zipped ? std::span<const uint8_t>(st.zipped) : st.object;
    const int32_t nbytes = checked_nbytes(int64_t{keylen} + static_cast<int64_t>(stored.size()), path_, name);
    const int32_t objlen = checked_nbytes(static_cast<int64_t>(st.object.size()), path_, name);
    const int64_t seek = allocate(nbytes);

    st.key.clear();
    ByteWriter w(st.key);
    put_key(w, {nbytes, big ? kBigKeyVersion : kKeyVersion, objlen, st.now(), static_cast<int16_t>(keylen), cycle,
                seek, kBegin, class_name, name, title});
    st.keys.push_back({std::string(name), cycle, st.key});
    append_record(st.key, stored);
    if (has_streamer_info(class_name)) note_class(class_name);
}

void FileWriter::note_class(std::string_view class_name)
{
    if (!has_streamer_info(class_name)) fail(path_, printable(class_name), "no streamer info for this class");
    auto& classes = state_->classes;
    if (std::find(classes.begin(), classes.end(), class_name) == classes.end()) classes.emplace_back(class_name);
}

void FileWriter::leave_hole_for_testing(int64_t bytes)
{
    if (bytes < 4 || bytes > INT32_MAX) fail(path_, "", "hole size out of range");
    flush_baskets();
    State& st = *state_;
    const int64_t first = allocate(bytes);
    // A negative length marks a freed gap for anyone walking the records.
    ByteWriter(st.pending).i32(static_cast<int32_t>(-bytes));
    flush_pending();
    st.pending_start = end_;
    st.gaps.emplace_back(first, first + bytes - 1);
}

void FileWriter::write_closing_records()
{
    State& st = *state_;

    // StreamerInfo: every class the file holds (nothing listed for a file without trees).
    std::vector<std::string> classes = st.classes;
    if (std::find(classes.begin(), classes.end(), "TTree") != classes.end()) {
        std::vector<std::string> leaves;
        for (const auto& c : classes)
            if (c.starts_with("TLeaf")) leaves.push_back(c);
        classes = streamer_classes_for_trees(leaves);
    }
    const bool info_big = end_ > kStartBigFile;
    const int info_keylen = key_length(info_big, "TList", "StreamerInfo", "Doubly linked list");
    st.object.clear();
    ByteWriter ow(st.object);
    stream_streamer_infos(ow, info_keylen, classes);
    const bool zipped = st.object.size() > kCompressMinimum && st.compressor->compress(st.object, st.zipped);
    const std::span<const uint8_t> stored = zipped ? std::span<const uint8_t>(st.zipped) : st.object;
    const int32_t nbytes_info = checked_nbytes(int64_t{info_keylen} + static_cast<int64_t>(stored.size()), path_,
                                               "StreamerInfo");
    const int64_t seek_info = allocate(nbytes_info);
    st.key.clear();
    ByteWriter kw(st.key);
    put_key(kw, {nbytes_info, info_big ? kBigKeyVersion : kKeyVersion, static_cast<int32_t>(st.object.size()),
                 st.now(), static_cast<int16_t>(info_keylen), 1, seek_info, kBegin, "TList", "StreamerInfo",
                 "Doubly linked list"});
    append_record(st.key, stored);

    // Keys list: a copy of each listed record's key header.
    const bool keys_big = end_ > kStartBigFile;
    const int keys_keylen = key_length(keys_big, "TFile", path_, title_);
    st.object.clear();
    ByteWriter lw(st.object);
    lw.i32(static_cast<int32_t>(st.keys.size()));
    for (const auto& k : st.keys) lw.bytes(k.header);
    if (keys_big) lw.i64(0);  // ROOT reserves 8 bytes in large files
    const int32_t nbytes_keys =
        checked_nbytes(int64_t{keys_keylen} + static_cast<int64_t>(st.object.size()), path_, "keys list");
    const int64_t seek_keys = allocate(nbytes_keys);
    st.key.clear();
    ByteWriter kw2(st.key);
    put_key(kw2, {nbytes_keys, keys_big ? kBigKeyVersion : kKeyVersion, static_cast<int32_t>(st.object.size()),
                  st.now(), static_cast<int16_t>(keys_keylen), 1, seek_keys, kBegin, "TFile", path_, title_});
    append_record(st.key, st.object);

    // Free segments: the holes, then [end, free_last]. A segment past 2 GB takes 18 bytes,
    // and placing this record may push free_last there, so settle its size first.
    const bool free_big = end_ > kStartBigFile;
    const int free_keylen = key_length(free_big, "TFile", path_, title_);
    auto segment_size = [](int64_t last) { return last > kStartBigFile ? 18 : 10; };
    int32_t gaps_size = 0;
    for (const auto& g : st.gaps) gaps_size += segment_size(g.second);
    const int64_t saved_end = end_, saved_last = st.free_last;
    int32_t free_payload = gaps_size + segment_size(st.free_last);
    allocate(free_keylen + free_payload);
    if (free_payload != gaps_size + segment_size(st.free_last)) {
        end_ = saved_end;
        st.free_last = saved_last + kFreeStep;
        free_payload = gaps_size + segment_size(st.free_last);
        allocate(free_keylen + free_payload);
    }
    const int64_t seek_free = end_ - free_keylen - free_payload;
    const int32_t nbytes_free = free_keylen + free_payload;
    st.key.clear();
    ByteWriter fw(st.key);
    put_key(fw, {nbytes_free, free_big ? kBigKeyVersion : kKeyVersion, free_payload, st.now(),
                 static_cast<int16_t>(free_keylen), 1, seek_free, kBegin, "TFile", path_, title_});
    auto put_segment = [&fw](int64_t first, int64_t last) {
        if (last > kStartBigFile) {
            fw.i16(1001);
            fw.i64(first);
            fw.i64(last);
        } else {
            fw.i16(1);
            fw.i32(static_cast<int32_t>(first));
            fw.i32(static_cast<int32_t>(last));
        }
    };
    for (const auto& g : st.gaps) put_segment(g.first, g.second);
    put_segment(end_, st.free_last);
    append_record(st.key, {});

    flush_pending();

    // Directory data, now pointing at the keys list.
    std::vector<uint8_t>& dir = st.object;
    dir.clear();
    ByteWriter dw(dir);
    const bool dir_big = seek_keys > kStartBigFile;
    dw.i16(dir_big ? 1005 : 5);
    dw.u32(st.datime_created);
    dw.u32(st.now());
    dw.i32(nbytes_keys);
    dw.i32(st.nbytes_name);
    if (dir_big) {
        dw.i64(kBegin);
        dw.i64(0);
        dw.i64(seek_keys);
    } else {
        dw.i32(static_cast<int32_t>(kBegin));
        dw.i32(0);
        dw.i32(static_cast<int32_t>(seek_keys));
    }
    dw.u16(1);
    dw.bytes(st.uuid);
    dir.resize(kDirectoryDataSize, 0);
    write_at(kBegin + st.nbytes_name, dir);

    // Header.
    std::vector<uint8_t>& hdr = st.key;
    hdr.clear();
    ByteWriter hw(hdr);
    const bool big = end_ > kStartBigFile;
    hw.u32(0x726F6F74);  // "root"
    hw.i32(kFileVersion + (big ? 1000000 : 0));
    hw.i32(static_cast<int32_t>(kBegin));
    const int32_t nfree = static_cast<int32_t>(st.gaps.size() + 1);
    if (big) {
        hw.i64(end_);
        hw.i64(seek_free);
        hw.i32(nbytes_free);
        hw.i32(nfree);
        hw.i32(st.nbytes_name);
        hw.u8(8);
        hw.i32(compression_);
        hw.i64(seek_info);
        hw.i32(nbytes_info);
    } else {
        hw.i32(static_cast<int32_t>(end_));
        hw.i32(static_cast<int32_t>(seek_free));
        hw.i32(nbytes_free);
        hw.i32(nfree);
        hw.i32(st.nbytes_name);
        hw.u8(4);
        hw.i32(compression_);
        hw.i32(static_cast<int32_t>(seek_info));
        hw.i32(nbytes_info);
    }
    hw.u16(1);
    hw.bytes(st.uuid);
    hdr.resize(kBegin, 0);
    write_at(0, hdr);
}

void FileWriter::close()
{
    if (closed_) return;
    OutputFile& out = close_uncommitted();
    try {
        out.commit();
    } catch (...) {
        closed_ = false;  // removed, not closed
        throw;
    }
}

OutputFile& FileWriter::close_uncommitted()
{
    State& st = *state_;
    if (closed_) fail(path_, "", "closed already");
    if (!st.out->is_open()) fail(path_, "", "file was discarded after an earlier failure");
    try {
        flush_baskets();
        write_closing_records();
        st.out->finish();
    } catch (...) {
        discard();
        throw;
    }
    closed_ = true;
    return *st.out;
}

}  // namespace rootio
