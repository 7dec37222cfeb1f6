#include "rootio/file/root_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace rootio {

namespace {

constexpr int64_t kHeaderSize = 100;  // fBEGIN in every file ROOT writes
// Read together at opening: the first bytes hold the header and the top directory (its key
// read with up to 64 KiB of names), the last ones the keys list, the StreamerInfo and the
// records written when the file was closed.
constexpr int64_t kOpeningHeadBytes = kHeaderSize + 64 * 1024 + 1024;
constexpr int64_t kOpeningTailBytes = 256 * 1024;
constexpr int kSmallKeyFixed = 26;    // key header bytes before the strings, 32-bit seeks
constexpr int kBigKeyFixed = 34;      // same with 64-bit seeks
constexpr int16_t kBigVersionOffset = 1000;
constexpr int64_t kSeekPdirMask = 0x0000FFFFFFFFFFFF;  // v1004 keeps a pid offset in the top bits
constexpr size_t kMaxDirectoryDepth = 64;              // deeper nesting is a loop, not a real file

// The most output a block of each codec can yield per input byte (plus a small constant):
// deflate peaks near 1032:1, LZ4 near 255:1, xz near 6500:1 on 16 MiB of zeros, and zstd's
// run-length blocks near 32768:1. Anything claiming more is corrupt, not compressible.
int64_t max_expansion(uint8_t a, uint8_t b)
{
    if ((a == 'Z' && b == 'L') || (a == 'C' && b == 'S')) return 1100;
    if (a == 'L' && b == '4') return 260;
    if (a == 'X' && b == 'Z') return 8192;
    if (a == 'Z' && b == 'S') return 33000;
    return 0;
}

// Where a directory's keys list is, from its directory data (v5 or v1005 with 64-bit seeks).
struct KeysListPlace {
    int64_t seek = 0;
    int32_t nbytes = 0;
};

KeysListPlace read_directory_data(ByteReader& d)
{
    const int16_t version = d.i16();
    d.u32();  // fDatimeC
    d.u32();  // fDatimeM
    KeysListPlace list;
    list.nbytes = d.i32();
    d.i32();  // fNbytesName
    const bool big = version > kBigVersionOffset;
    big ? d.i64() : d.i32();  // fSeekDir
    big ? d.i64() : d.i32();  // fSeekParent
    list.seek = big ? d.i64() : d.i32();
    return list;
}

}  // namespace

KeyHeader read_key_header(ByteReader& in, bool check_lengths)
{
    KeyHeader key;
    read_key_header(in, key, check_lengths);
    return key;
}

void read_key_header(ByteReader& in, KeyHeader& key, bool check_lengths)
{
    const size_t start = in.pos();
    key.nbytes = in.i32();
    key.version = in.i16();
    key.objlen = in.i32();
    key.datime = in.u32();
    key.keylen = in.i16();
    key.cycle = in.i16();
    const bool big = key.version > kBigVersionOffset;
    if (big) {
        key.seek_key = in.i64();
        key.seek_pdir = in.i64() & kSeekPdirMask;
    } else {
        key.seek_key = in.i32();
        key.seek_pdir = in.i32();
    }
    key.class_name.assign(in.tstring_view());
    key.name.assign(in.tstring_view());
    key.title.assign(in.tstring_view());
    const size_t header_len = in.pos() - start;
    if (!check_lengths) return;
    if (key.keylen < static_cast<int>(big ? kBigKeyFixed : kSmallKeyFixed) || static_cast<size_t>(key.keylen) < header_len)
        in.fail_at(start, "key '" + printable(key.name) + "': key length " + std::to_string(key.keylen) +
                              " is shorter than its header (" + std::to_string(header_len) + " bytes)");
    if (key.nbytes < key.keylen)
        in.fail_at(start, "key '" + printable(key.name) + "': record length " + std::to_string(key.nbytes) +
                              " is shorter than its key length " + std::to_string(key.keylen));
    if (key.objlen < 0) in.fail_at(start, "key '" + printable(key.name) + "': negative object length");
    if (key.seek_key < 0 || key.seek_pdir < 0) in.fail_at(start, "key '" + printable(key.name) + "': negative seek");
}

void check_compressed_layout(std::span<const uint8_t> stored, int64_t objlen, std::string_view context)
{
    size_t pos = 0;
    int64_t produced = 0;
    while (pos < stored.size()) {
        auto bad = [&](const std::string& what) {
            throw RootError(std::string(context) + ": compressed block at byte " + std::to_string(pos) + ": " + what);
        };
        if (stored.size() - pos < kBlockHeaderSize) bad("truncated block header");
        const uint8_t* h = stored.data() + pos;
        const int64_t ratio = max_expansion(h[0], h[1]);
        if (ratio == 0) bad("unknown compression algorithm");
        const auto c = static_cast<int64_t>(block_compressed_size(h));
        const auto u = static_cast<int64_t>(block_uncompressed_size(h));
        if (static_cast<int64_t>(stored.size() - pos - kBlockHeaderSize) < c)
            bad("block of " + std::to_string(c) + " bytes runs past the end of the record");
        if (u > c * ratio + 1024)
            bad("claims " + std::to_string(u) + " bytes from " + std::to_string(c) + ", more than its codec can produce");
        produced += u;
        pos += kBlockHeaderSize + c;
        if (produced >= objlen) break;
    }
    if (produced != objlen || pos != stored.size())
        throw RootError(std::string(context) + ": compressed blocks hold " + std::to_string(produced) +
                        " bytes in " + std::to_string(pos) + " of " + std::to_string(stored.size()) +
                        " stored bytes, but the key says " + std::to_string(objlen));
}

// Reads header, top directory and keys list of a file; RootFile's only way in.
class RootFileOpener {
public:
    static std::unique_ptr<RootFile> open(const std::string& path)
    {
        std::unique_ptr<RootFile> file(new RootFile());
        file->path_ = path;
        file->source_ = open_byte_source(path);
        file->size_ = file->source_->size();
        file->decompressor_ = std::make_unique<Decompressor>();
        if (file->size_ >= 4) read_opening_bytes(*file);  // shorter: refused as having no header
        read_header_and_directory(*file);
        return file;
    }

    // The file's head and tail in one batched request (the whole file when they would meet).
    static void read_opening_bytes(RootFile& f)
    {
        const int64_t tail_start = std::max<int64_t>(0, f.size_ - kOpeningTailBytes);
        if (tail_start <= kOpeningHeadBytes) {
            f.opening_bytes_.push_back({0, ByteBuffer(static_cast<size_t>(f.size_))});
        } else {
            f.opening_bytes_.push_back({0, ByteBuffer(static_cast<size_t>(kOpeningHeadBytes))});
            f.opening_bytes_.push_back({tail_start, ByteBuffer(static_cast<size_t>(f.size_ - tail_start))});
        }
        std::vector<ByteRange> ranges;
        for (RootFile::HeldBytes& held : f.opening_bytes_) ranges.push_back({held.seek, held.bytes});
        f.source_->read(ranges, "file header");
        f.holds_opening_bytes_.store(true, std::memory_order_release);
    }

    static void read_header_and_directory(RootFile& f)
    {
        const std::string& path = f.path_;
        if (f.size_ < 4) fail(path, "", "not a ROOT file (too short for a header)");
        std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(f.size_, kHeaderSize)));
        f.read_at(0, head, "file header");
        if (std::memcmp(head.data(), "root", 4) != 0) fail(path, "", "not a ROOT file (no 'root' magic)");
        const std::string header_ctx = path + ": file header";
        ByteReader h(head, header_ctx);
        h.skip(4);
        f.version_ = h.i32();
        const bool big = f.version_ >= 1000000;
        const int64_t begin = h.i32();
        const int64_t end = big ? h.i64() : h.i32();
        big ? h.i64() : h.i32();  // fSeekFree
        h.i32();                  // fNbytesFree
        h.i32();                  // nfree
        const int64_t nbytes_name = h.i32();
        h.u8();  // fUnits
        f.compression_ = h.i32();
        f.seek_info_ = big ? h.i64() : h.i32();
        f.nbytes_info_ = h.i32();

        // A cut file is the likelier story than a bad first-record offset, so say that first.
        if (end > f.size_)
            fail(path, "", "truncated: the header says the file is " + std::to_string(end) + " bytes, but it has " +
                               std::to_string(f.size_));
        if (begin < 64 || begin >= f.size_)
            fail(path, "file header", "first record at " + std::to_string(begin) + " lies outside the file");
        if (!is_known_setting(f.compression_))
            fail(path, "file header", "invalid compression setting " + std::to_string(f.compression_));

        // Top directory record: key, then name and title, then the directory data.
        const KeyHeader top = read_record_key(f, begin, "top directory");
        if (nbytes_name < top.keylen || nbytes_name > top.nbytes)
            fail(path, "top directory", "name length " + std::to_string(nbytes_name) + " lies outside its record");
        std::vector<uint8_t> dir(static_cast<size_t>(top.nbytes - nbytes_name));
        f.read_at(begin + nbytes_name, dir, "top directory");
        const std::string dir_ctx = path + ": top directory";
        ByteReader d(dir, dir_ctx, static_cast<size_t>(nbytes_name));
        const KeysListPlace list = read_directory_data(d);
        if (list.seek == 0) return;  // a directory that never got a keys list holds nothing
        f.keys_ = read_keys_list(f, list.seek, list.nbytes, "keys list");
    }

    // A directory's keys as ROOT reads them: `nbytes` bytes at `seek`, stored as they are
    // (never compressed), starting with a key header whose lengths are not trusted; then the
    // key count and the keys, each parsed field by field and followed by the next.
    static std::vector<KeyHeader> read_keys_list(const RootFile& f, int64_t seek, int32_t nbytes, const std::string& what)
    {
        if (nbytes <= 0 || seek < 0 || seek > f.size_ || nbytes > f.size_ - seek)
            fail(f.path_, what, "record at " + std::to_string(seek) + " of " + std::to_string(nbytes) +
                                    " bytes lies outside the file (" + std::to_string(f.size_) + " bytes)");
        std::vector<uint8_t> list(static_cast<size_t>(nbytes));
        f.read_at(seek, list, what);
        const std::string ctx = f.path_ + ": " + what;
        ByteReader in(list, ctx);
        read_key_header(in, false);
        const int32_t nkeys = in.i32();
        if (nkeys < 0 || static_cast<size_t>(nkeys) > in.remaining() / kSmallKeyFixed)
            fail(f.path_, what, std::to_string(nkeys) + " keys cannot fit in " + std::to_string(in.remaining()) + " bytes");
        std::vector<KeyHeader> keys;
        keys.reserve(static_cast<size_t>(nkeys));
        for (int32_t i = 0; i < nkeys; ++i) {
            // As ROOT, refuse keys that point outside the file; lengths that make no sense
            // fail only when the object is read.
            KeyHeader key = read_key_header(in, false);
            check_record_bounds(f, key, "key '" + printable(key.name) + "'");
            keys.push_back(std::move(key));
        }
        return keys;
    }

    static void check_record_bounds(const RootFile& f, const KeyHeader& key, const std::string& what)
    {
        if (key.seek_key < 64 || key.seek_key > f.size_ || key.nbytes > f.size_ - key.seek_key)
            fail(f.path_, what, "record at " + std::to_string(key.seek_key) + " of " + std::to_string(key.nbytes) +
                                    " bytes lies outside the file (" + std::to_string(f.size_) + " bytes)");
    }

    // The key header of the record at `seek`, checked to lie inside the file.
    static KeyHeader read_record_key(const RootFile& f, int64_t seek, const std::string& what)
    {
        if (seek < 0 || seek >= f.size_)
            fail(f.path_, what, "record at " + std::to_string(seek) + " lies outside the file");
        // A key header is 34 bytes plus three strings; longer names than this are not real.
        const int64_t want = std::min<int64_t>(f.size_ - seek, 64 * 1024);
        std::vector<uint8_t> buf(static_cast<size_t>(want));
        f.read_at(seek, buf, what);
        const std::string ctx = f.path_ + ": " + what;
        ByteReader in(buf, ctx);
        KeyHeader key = read_key_header(in);
        if (key.seek_key != seek && key.seek_key != 0)
            fail(f.path_, what, "record at " + std::to_string(seek) + " says it is at " + std::to_string(key.seek_key));
        key.seek_key = seek;
        check_record_bounds(f, key, what);
        return key;
    }
};

std::unique_ptr<RootFile> RootFile::open(const std::string& path) { return RootFileOpener::open(path); }

bool RootFile::is_directory(const KeyHeader& key)
{
    return key.class_name == "TDirectoryFile" || key.class_name == "TDirectory";
}

std::vector<KeyHeader> RootFile::directory_keys(const KeyHeader& dir, std::string_view path) const
{
    const std::string what = "directory '" + std::string(path) + "'";
    // A subdirectory's record holds the directory data right after its key (no name and
    // title, unlike the top directory's).
    const std::vector<uint8_t> data = read_object(dir);
    const std::string ctx = path_ + ": " + what;
    ByteReader d(data, ctx, static_cast<size_t>(dir.keylen));
    const KeysListPlace list = read_directory_data(d);
    if (list.seek == 0) return {};
    return RootFileOpener::read_keys_list(*this, list.seek, list.nbytes, what + " keys list");
}

std::vector<PathKey> RootFile::all_keys() const
{
    std::vector<PathKey> out;
    // Each directory record is listed once: keys that lead back to one already listed would
    // make a loop, or repeat a whole subtree for every path to it.
    std::unordered_set<int64_t> listed;
    auto walk = [&](auto& self, const std::vector<KeyHeader>& keys, const std::string& prefix, size_t depth) -> void {
        for (const KeyHeader& key : keys) {
            out.push_back({prefix + key.name, key});
            if (!is_directory(key)) continue;
            const std::string path = prefix + key.name;
            if (!listed.insert(key.seek_key).second || depth >= kMaxDirectoryDepth)
                fail(path_, "directory '" + printable(path) + "'", "leads back to a directory listed before (record at " +
                                                          std::to_string(key.seek_key) + ")");
            self(self, directory_keys(key, path), path + "/", depth + 1);
        }
    };
    walk(walk, keys_, "", 0);
    return out;
}

std::optional<KeyHeader> RootFile::find_path(std::string_view path, int cycle) const
{
    std::vector<KeyHeader> owned;
    const std::vector<KeyHeader>* keys = &keys_;
    size_t start = 0;
    while (true) {
        const size_t slash = path.find('/', start);
        const std::string_view name = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
        const bool last = slash == std::string_view::npos;
        const KeyHeader* best = nullptr;
        for (const KeyHeader& k : *keys)
            if (k.name == name && (last && cycle >= 0 ? k.cycle == cycle : !best || k.cycle > best->cycle)) best = &k;
        if (!best) return std::nullopt;
        if (last) return *best;
        if (!is_directory(*best)) return std::nullopt;
        owned = directory_keys(*best, path.substr(0, slash));
        keys = &owned;
        start = slash + 1;
    }
}

RootFile::~RootFile() = default;

const KeyHeader* RootFile::find_key(std::string_view name) const
{
    const KeyHeader* best = nullptr;
    for (const KeyHeader& k : keys_)
        if (k.name == name && (!best || k.cycle > best->cycle)) best = &k;
    return best;
}

void RootFile::read_at(int64_t seek, std::span<uint8_t> out, std::string_view context) const
{
    if (holds_opening_bytes_.load(std::memory_order_acquire) && copy_opening_bytes(seek, out)) return;
    const ByteRange range{seek, out};
    source_->read(std::span(&range, 1), context);
}

bool RootFile::copy_opening_bytes(int64_t seek, std::span<uint8_t> out) const
{
    const std::lock_guard lock(opening_mutex_);
    for (const HeldBytes& held : opening_bytes_) {
        const auto size = static_cast<int64_t>(held.bytes.size());
        if (seek < held.seek || seek - held.seek > size || static_cast<int64_t>(out.size()) > size - (seek - held.seek))
            continue;
        std::copy_n(held.bytes.begin() + (seek - held.seek), out.size(), out.begin());
        return true;
    }
    // Reading elsewhere: opening is over.
    opening_bytes_ = {};
    holds_opening_bytes_.store(false, std::memory_order_release);
    return false;
}

void RootFile::drop_opening_bytes() const
{
    if (!holds_opening_bytes_.load(std::memory_order_acquire)) return;
    const std::lock_guard lock(opening_mutex_);
    opening_bytes_ = {};
    holds_opening_bytes_.store(false, std::memory_order_release);
}

std::vector<uint8_t> RootFile::read_object(const KeyHeader& key) const
{
    const std::string what = "key '" + printable(key.name) + "'";
    if (key.keylen <= 0 || key.nbytes < key.keylen || key.seek_key < 0 || key.seek_key > size_ ||
        key.nbytes > size_ - key.seek_key)
        fail(path_, what, "record lies outside the file");
    if (key.objlen < 0) fail(path_, what, "negative object length " + std::to_string(key.objlen));
    std::vector<uint8_t> record(static_cast<size_t>(key.nbytes));
    read_at(key.seek_key, record, what);

    // As ROOT does, the key that led here says where the object starts and how long it is;
    // the record's own copy of the header is not consulted (some writers leave it different).
    const std::string ctx = path_ + ": " + what;
    const auto stored = std::span<const uint8_t>(record).subspan(static_cast<size_t>(key.keylen));
    if (!key.is_compressed()) {
        return std::vector<uint8_t>(stored.begin(), stored.begin() + key.objlen);
    }
    std::vector<uint8_t> object;
    decompress_object(decompressor(), stored, key.objlen, object, ctx);
    object.resize(static_cast<size_t>(key.objlen));
    return object;
}

}  // namespace rootio
