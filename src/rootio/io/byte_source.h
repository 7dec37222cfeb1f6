#pragma once
// Where a file's bytes come from. Everything above this reads through one call, "fill
// these byte ranges", so a local file and a remote one look the same; a source that can
// answer several ranges in one request (a vector read) does so.
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace rootio {

struct ByteRange {
    int64_t seek = 0;
    std::span<uint8_t> out;  // filled with bytes [seek, seek + out.size())
};

class ByteSource;

// A batch of ranges sent with ByteSource::submit. The bytes land in the ranges' buffers,
// which must stay alive as long as this handle: its destructor waits for the answers.
class PendingRead {
public:
    PendingRead(const ByteSource& source, int parts) : source_(&source), remaining_(parts) {}
    ~PendingRead();
    PendingRead(const PendingRead&) = delete;
    PendingRead& operator=(const PendingRead&) = delete;

    // Every byte has arrived, or the read has failed. Never blocks.
    bool arrived() const { return remaining_.load(std::memory_order_acquire) == 0; }
    // Blocks until arrived() (counted as a wait of the source when it had not); then throws
    // the RootError the read met, if any.
    void wait();

    // For sources: one of the batch's requests has been answered (`error` when it failed).
    // Called once per request, from any thread.
    void part_done(std::exception_ptr error);

private:
    const ByteSource* source_;
    std::atomic<int> remaining_;
    std::mutex error_mutex_;
    std::exception_ptr error_;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // The path or URL, as the user gave it: every message names it.
    const std::string& name() const { return name_; }
    int64_t size() const { return size_; }
    // Whether an answer takes a round trip across a network, so that asking ahead of need
    // hides it; a local file answers at once, and bytes asked for early only take memory.
    virtual bool answers_after_a_round_trip() const { return false; }

    // Fills every range. Safe to call from several threads at once. Throws RootError naming
    // the source and `context` when a range lies outside the source or the read fails.
    void read(std::span<const ByteRange> ranges, std::string_view context) const;

    // Sends the reads of `ranges` and returns without waiting for them (a source that
    // answers at once, like a local file, has filled them when this returns). The handle
    // reports the arrival and the error; the same range checks as read() throw here.
    std::unique_ptr<PendingRead> submit(std::span<const ByteRange> ranges, std::string_view context) const;

    // Requests sent so far; a batch answered by one request counts once.
    uint64_t requests() const { return requests_.load(std::memory_order_relaxed); }
    // Times a thread stopped for this source's bytes: every read(), and every wait for a
    // submitted batch that had not arrived yet.
    uint64_t blocking_reads() const { return blocking_reads_.load(std::memory_order_relaxed); }
    uint64_t waits() const { return waits_.load(std::memory_order_relaxed); }
    // Counts a wait of this thread for bytes another thread reads from this source.
    void count_wait() const;

protected:
    ByteSource(std::string name, int64_t size);  // counted in read_totals().opened
    // Ranges are checked to lie inside [0, size()) before these are called.
    virtual void read_ranges(std::span<const ByteRange> ranges, std::string_view context) const = 0;
    // Sends the ranges and returns a handle the answers complete. By default the ranges
    // are read at once, so the handle returned has arrived.
    virtual std::unique_ptr<PendingRead> submit_ranges(std::span<const ByteRange> ranges,
                                                       std::string_view context) const;
    void count_requests(uint64_t n) const;

private:
    friend class PendingRead;
    void check_ranges(std::span<const ByteRange> ranges, std::string_view context) const;

    std::string name_;
    int64_t size_ = 0;
    mutable std::atomic<uint64_t> requests_{0};
    mutable std::atomic<uint64_t> blocking_reads_{0};
    mutable std::atomic<uint64_t> waits_{0};
};

// What every source of the process has read so far, as the framework's
// TFile::GetFileReadCalls and TFile::GetFileBytesRead report it, and how often a thread
// stopped for bytes (synchronous reads, and waits for batches sent ahead that had not
// arrived).
struct ReadTotals {
    uint64_t requests = 0;
    uint64_t bytes = 0;
    uint64_t blocking_reads = 0;
    uint64_t waits = 0;
    uint64_t opened = 0;  // sources opened
};
ReadTotals read_totals();

// How often the calling thread stopped for bytes: its synchronous reads, and its waits for
// bytes on their way.
struct ThreadStops {
    uint64_t blocking_reads = 0;
    uint64_t waits = 0;
    uint64_t total() const { return blocking_reads + waits; }
};
ThreadStops this_thread_stops();

// Opens `path` for reading. A root:// or xroot:// URL is read from its XRootD server
// (xrootd_plugin.h). Local files are opened without blocking and must be regular
// files: a FIFO, device or directory is refused, so nothing can hang in open(). Throws
// RootError naming `path`.
std::unique_ptr<ByteSource> open_byte_source(const std::string& path);

}  // namespace rootio
