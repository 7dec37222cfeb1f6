#include "rootio/root_file.h"

#include <algorithm>
#include <cstring>

namespace rootio {

namespace {

constexpr int64_t kHeaderSize = 100;  // fBEGIN in every file ROOT writes
constexpr int kSmallKeyFixed = 26;    // key header bytes before the strings, 32-bit seeks
constexpr int kBigKeyFixed = 34;      // same with 64-bit seeks
constexpr int16_t kBigVersionOffset = 1000;
constexpr int64_t kSeekPdirMask = 0x0000FFFFFFFFFFFF;  // v1004 keeps a pid offset in the top bits

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
        read_header_and_directory(*file);
        return file;
    }

private:
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

        // A cut file is the likelier story than a bad first-record offset, so say that first.
        if (end > f.size_)
            fail(path, "", "truncated: the header says the file is " + std::to_string(end) + " bytes, but it has " +
                               std::to_string(f.size_));
        if (begin < 64 || begin >= f.size_)
            fail(path, "file header", "first record at " + std::to_string(begin) + " lies outside the file");

        // Top directory record: key, then name and title, then the directory data.
        const KeyHeader top = read_record_key(f, begin, "top directory");
        if (nbytes_name < top.keylen || nbytes_name > top.nbytes)
            fail(path, "top directory", "name length " + std::to_string(nbytes_name) + " lies outside its record");
        std::vector<uint8_t> dir(static_cast<size_t>(top.nbytes - nbytes_name));
        f.read_at(begin + nbytes_name, dir, "top directory");
        const std::string dir_ctx = path + ": top directory";
        ByteReader d(dir, dir_ctx, static_cast<size_t>(nbytes_name));
        const int16_t dir_version = d.i16();
        d.u32();  // fDatimeC
        d.u32();  // fDatimeM
        const int32_t nbytes_keys = d.i32();
        d.i32();  // fNbytesName
        const bool big_dir = dir_version > kBigVersionOffset;
        big_dir ? d.i64() : d.i32();  // fSeekDir
        big_dir ? d.i64() : d.i32();  // fSeekParent
        const int64_t seek_keys = big_dir ? d.i64() : d.i32();
        if (seek_keys == 0) return;  // a directory that never got a keys list holds nothing

        const KeyHeader list_key = read_record_key(f, seek_keys, "keys list");
        if (list_key.nbytes != nbytes_keys)
            fail(path, "keys list", "record has " + std::to_string(list_key.nbytes) + " bytes, directory says " +
                                        std::to_string(nbytes_keys));
        const std::vector<uint8_t> list = f.read_object(list_key);
        const std::string list_ctx = path + ": keys list";
        ByteReader in(list, list_ctx, static_cast<size_t>(list_key.keylen));
        const int32_t nkeys = in.i32();
        if (nkeys < 0 || static_cast<size_t>(nkeys) > in.remaining() / kSmallKeyFixed)
            fail(path, "keys list", std::to_string(nkeys) + " keys cannot fit in " + std::to_string(in.remaining()) + " bytes");
        f.keys_.reserve(static_cast<size_t>(nkeys));
        for (int32_t i = 0; i < nkeys; ++i) {
            const size_t start = in.pos();
            KeyHeader key = read_key_header(in);
            in.seek(start + static_cast<size_t>(key.keylen) <= in.size() ? start + key.keylen : in.size());
            check_record_bounds(f, key, "key '" + printable(key.name) + "'");
            f.keys_.push_back(std::move(key));
        }
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
    const ByteRange range{seek, out};
    source_->read(std::span(&range, 1), context);
}

std::vector<uint8_t> RootFile::read_object(const KeyHeader& key) const
{
    const std::string what = "key '" + printable(key.name) + "'";
    if (key.keylen <= 0 || key.nbytes < key.keylen || key.seek_key < 0 || key.seek_key > size_ ||
        key.nbytes > size_ - key.seek_key)
        fail(path_, what, "record lies outside the file");
    std::vector<uint8_t> record(static_cast<size_t>(key.nbytes));
    read_at(key.seek_key, record, what);

    // The record's own header must agree with the copy that led here.
    const std::string ctx = path_ + ": " + what;
    ByteReader in(record, ctx);
    const KeyHeader own = read_key_header(in);
    if (own.nbytes != key.nbytes || own.keylen != key.keylen || own.objlen != key.objlen)
        fail(path_, what, "record header disagrees with its key (bytes " + std::to_string(own.nbytes) + "/" +
                              std::to_string(key.nbytes) + ", key length " + std::to_string(own.keylen) + "/" +
                              std::to_string(key.keylen) + ", object length " + std::to_string(own.objlen) + "/" +
                              std::to_string(key.objlen) + ")");

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
