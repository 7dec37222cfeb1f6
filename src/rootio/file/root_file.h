#pragma once
// Read side of a ROOT file: header, top directory, keys, and bounds-checked access to
// records. Every offset and length taken from the file is checked against the file size
// before use.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rootio/io/byte_source.h"
#include "rootio/format/bytes.h"
#include "rootio/codec/compression.h"

namespace rootio {

struct KeyHeader {
    int32_t nbytes = 0;      // whole record: key header + stored object bytes
    int16_t version = 4;     // > 1000: 64-bit seeks
    int32_t objlen = 0;      // uncompressed object length
    uint32_t datime = 0;
    int16_t keylen = 0;
    int16_t cycle = 1;
    int64_t seek_key = 0;
    int64_t seek_pdir = 0;
    std::string class_name;
    std::string name;
    std::string title;

    bool is_compressed() const { return objlen > nbytes - keylen; }
};

// Parses a key header at the cursor (v4 or v1004 form). With `check_lengths` it also
// checks that keylen covers the header and nbytes covers keylen (baskets embedded in a
// tree record carry nbytes 0, so they are read without).
KeyHeader read_key_header(ByteReader& in, bool check_lengths = true);
// The same into an existing header, whose strings keep their storage: a reader that loads
// basket after basket parses their keys without allocating.
void read_key_header(ByteReader& in, KeyHeader& key, bool check_lengths = true);

// Checks the block headers of a compressed object before anything is allocated for it:
// the blocks must tile `stored` exactly, add up to `objlen` bytes, and each block must
// claim no more output than its codec can produce from its input. Throws RootError
// starting with `context`.
void check_compressed_layout(std::span<const uint8_t> stored, int64_t objlen, std::string_view context);

// Growing it leaves the new bytes uninitialised: a buffer about to be filled by a read or a
// decompression is not zero-filled first.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using ByteBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

// Checks the layout, then decompresses the object into `out[0, objlen)`, growing `out` one
// block at a time: a block is given room only after the ones before it decoded, so headers
// that lie about sizes cost at most one block (16 MiB) of memory, never what they claim.
// `out` keeps its storage (and may stay longer than objlen) so a reused buffer does not
// allocate.
template <class Vector>
void decompress_object(Decompressor& decompressor, std::span<const uint8_t> stored, int64_t objlen, Vector& out,
                       std::string_view context)
{
    check_compressed_layout(stored, objlen, context);
    size_t pos = 0;
    size_t done = 0;
    while (pos < stored.size()) {
        const uint8_t* h = stored.data() + pos;
        const size_t c = block_compressed_size(h);
        const size_t u = block_uncompressed_size(h);
        if (out.size() < done + u) out.resize(done + u);
        decompressor.decompress(stored.subspan(pos, kBlockHeaderSize + c), std::span<uint8_t>(out).subspan(done, u),
                                context);
        pos += kBlockHeaderSize + c;
        done += u;
    }
}

// A key with its path from the top directory: "name", or "dir/sub/name" in subdirectories.
struct PathKey {
    std::string path;
    KeyHeader key;
};

class RootFile {
public:
    // Opens and validates header, top directory and keys list. Throws RootError naming
    // `path` and what is wrong (missing, not a ROOT file, truncated, corrupt).
    static std::unique_ptr<RootFile> open(const std::string& path);
    ~RootFile();
    RootFile(const RootFile&) = delete;
    RootFile& operator=(const RootFile&) = delete;

    const std::string& path() const { return path_; }
    int64_t size() const { return size_; }
    int32_t version() const { return version_; }
    int32_t compression() const { return compression_; }
    // Where the StreamerInfo record is (0 when the header names none).
    int64_t seek_info() const { return seek_info_; }
    int32_t nbytes_info() const { return nbytes_info_; }

    // Keys of the top directory, in file order.
    const std::vector<KeyHeader>& keys() const { return keys_; }
    // The key with this name and the highest cycle, or nullptr.
    const KeyHeader* find_key(std::string_view name) const;

    // True for a key holding a directory (TDirectoryFile; TDirectory in older files).
    static bool is_directory(const KeyHeader& key);
    // The keys of the subdirectory stored under `dir`, in file order; `path` names it in errors.
    std::vector<KeyHeader> directory_keys(const KeyHeader& dir, std::string_view path) const;
    // Every key of the file, each directory's contents right after it (paths "dir/name").
    std::vector<PathKey> all_keys() const;
    // The key at `path` ("name" or "dir/sub/name"), or nullopt: the highest cycle at each
    // step, or at the last one exactly `cycle` when it is not negative.
    std::optional<KeyHeader> find_path(std::string_view path, int cycle = -1) const;

    // Reads [seek, seek + out.size()) of the file; throws when it lies outside the file.
    // Opening reads the file's first and last kilobytes in one request (the header, the
    // directory, the keys list and, in a file written in one go, the tree records lie
    // there); they serve these reads until one falls outside them or drop_opening_bytes().
    void read_at(int64_t seek, std::span<uint8_t> out, std::string_view context) const;
    // Frees the bytes read at opening: the reader of the file's tree is done with them.
    void drop_opening_bytes() const;
    // Where the bytes come from: several ranges can be read in one call.
    const ByteSource& source() const { return *source_; }

    // The object bytes of a key, decompressed when stored compressed. Index 0 is the byte at
    // key-relative position `key.keylen` (pass that as the ByteReader origin).
    std::vector<uint8_t> read_object(const KeyHeader& key) const;

    // Shared codec state for everything read from this file (single-threaded use).
    Decompressor& decompressor() const { return *decompressor_; }

private:
    RootFile() = default;
    std::string path_;
    std::unique_ptr<ByteSource> source_;
    int64_t size_ = 0;
    int32_t version_ = 0;
    int32_t compression_ = 0;
    int64_t seek_info_ = 0;
    int32_t nbytes_info_ = 0;
    std::vector<KeyHeader> keys_;
    std::unique_ptr<Decompressor> decompressor_;

    struct HeldBytes {
        int64_t seek = 0;
        ByteBuffer bytes;
    };
    bool copy_opening_bytes(int64_t seek, std::span<uint8_t> out) const;
    mutable std::atomic<bool> holds_opening_bytes_{false};
    mutable std::mutex opening_mutex_;
    mutable std::vector<HeldBytes> opening_bytes_;

    friend class RootFileOpener;
};

}  // namespace rootio
