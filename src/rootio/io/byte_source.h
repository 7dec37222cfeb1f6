#pragma once
// Where a file's bytes come from. Everything above this reads through one call, "fill
// these byte ranges", so a local file and a remote one look the same; a source that can
// answer several ranges in one request (a vector read) does so.
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace rootio {

struct ByteRange {
    int64_t seek = 0;
    std::span<uint8_t> out;  // filled with bytes [seek, seek + out.size())
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // The path or URL, as the user gave it: every message names it.
    const std::string& name() const { return name_; }
    int64_t size() const { return size_; }

    // Fills every range. Safe to call from several threads at once. Throws RootError naming
    // the source and `context` when a range lies outside the source or the read fails.
    void read(std::span<const ByteRange> ranges, std::string_view context) const;

    // Requests sent so far; a batch answered by one request counts once.
    uint64_t requests() const { return requests_.load(std::memory_order_relaxed); }

protected:
    ByteSource(std::string name, int64_t size) : name_(std::move(name)), size_(size) {}
    // Ranges are checked to lie inside [0, size()) before this is called.
    virtual void read_ranges(std::span<const ByteRange> ranges, std::string_view context) const = 0;
    void count_requests(uint64_t n) const;

private:
    std::string name_;
    int64_t size_ = 0;
    mutable std::atomic<uint64_t> requests_{0};
};

// What every source of the process has read so far, as the framework's
// TFile::GetFileReadCalls and TFile::GetFileBytesRead report it.
struct ReadTotals {
    uint64_t requests = 0;
    uint64_t bytes = 0;
};
ReadTotals read_totals();

// Opens `path` for reading. A root:// or xroot:// URL is read from its XRootD server
// (xrootd_plugin.h). Local files are opened without blocking and must be regular
// files: a FIFO, device or directory is refused, so nothing can hang in open(). Throws
// RootError naming `path`.
std::unique_ptr<ByteSource> open_byte_source(const std::string& path);

}  // namespace rootio
