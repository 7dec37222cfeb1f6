#pragma once
// Write side of a ROOT file ("RECREATE"): records are appended as they come; close() writes
// the streamer infos, keys list, directory, free-segments record and header. Every failed
// write, seek or close reaches the caller as a RootError with the file name and the
// system's reason. The file appears under its name only once closed successfully (see
// output_file.h): until then, and after any failure, whatever stood there before is kept.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/file/basket_pipeline.h"
#include "rootio/format/bytes.h"
#include "rootio/codec/compression.h"
#include "rootio/file/root_file.h"

namespace rootio {

class OutputFile;

// Offsets beyond this need 64-bit fields (ROOT's kStartBigFile).
inline constexpr int64_t kStartBigFile = 2000000000;

class FileWriter {
public:
    // Creates or replaces `path` (when closed). `compression` is the file's setting (ROOT
    // numbering).
    FileWriter(std::string path, int compression = 101, std::string title = "");
    // A file not closed with close() is removed: it would look like a complete file to a
    // reader while missing its tree.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    const std::string& path() const { return path_; }
    int compression() const { return compression_; }
    // Bytes in the file so far (queued baskets are written first).
    int64_t end();

    // Where a basket record went: its seek and total bytes (it is not listed in the keys).
    struct BasketWritten {
        int64_t seek = 0;
        int32_t nbytes = 0;
        int32_t objlen = 0;
        int16_t keylen = 0;
    };
    // Told where each of its baskets went, in the order it queued them.
    class BasketOwner {
    public:
        virtual void basket_written(int tag, const BasketWritten& written) = 0;

    protected:
        ~BasketOwner() = default;
    };

    // Queues one basket record (key class TBasket, v1004 header, fSeekPdir 100). `header`
    // is the 19-byte basket part of the key (version, buffer size, nevbufsize, nevbuf,
    // last, flag) and counts in fKeylen; `payload` is copied, then compressed with setting
    // `compression` (on a worker thread when there are several) unless that does not pay.
    // Records are appended in the order they are queued, at the offsets they would have if
    // each were written at once, so the file does not depend on the thread count. Once
    // written, `owner.basket_written(tag, ...)` is called, from within a later call on this
    // file. A basket that fails to compress or write discards the file and the error is
    // thrown from whichever call writes it; flush_baskets() writes all queued ones.
    void queue_basket(BasketOwner& owner, int tag, std::string_view branch_name, std::string_view tree_name,
                      int16_t cycle, std::span<const uint8_t> basket_header, std::span<const uint8_t> payload,
                      int compression);
    void flush_baskets();
    // Writes one basket at once, compressed on this thread with `compressor`, after the
    // queued ones.
    BasketWritten write_basket(std::string_view branch_name, std::string_view tree_name, int16_t cycle,
                               std::span<const uint8_t> basket_header, std::span<const uint8_t> payload,
                               Compressor& compressor);
    // Threads compressing baskets: rootio::thread_count() unless set before the first basket
    // (1: each basket is compressed and written when queued).
    void set_compression_threads(int threads);

    // fKeylen of a basket record of this branch and tree (v1004 key + the 19 basket bytes):
    // entry offsets inside a basket count from the key's first byte.
    static int16_t basket_key_length(std::string_view branch_name, std::string_view tree_name);

    // Appends whole records made elsewhere (baskets copied from another file), back to back;
    // their keys must already name their seeks, the first end(). Not listed in the keys.
    // Returns the first seek.
    int64_t append_record_copy(std::span<const uint8_t> records);

    // Appends an unlisted record of class RBlob (no name, no title), as RNTuple pages and
    // envelopes are stored: `data` as it stands (compressed by the caller, if at all), then
    // `trailer` (e.g. a page checksum). `objlen` is the uncompressed length. Returns the
    // offset of data[0] in the file, which is what RNTuple locators point at.
    int64_t write_blob(std::span<const uint8_t> data, std::span<const uint8_t> trailer, int64_t objlen);

    // Appends a user object listed in the keys list (e.g. a TTree). The object bytes carry
    // key-relative tags, so `stream` is called with the key length the record will have and
    // must append the object to the buffer it is given. Compressed with the file setting.
    // A second object of the same name gets the next cycle.
    void write_object(std::string_view class_name, std::string_view name, std::string_view title,
                      const std::function<void(ByteWriter&, int keylen)>& stream);

    // Records that the file holds objects of `class_name` (e.g. a leaf class), so that the
    // StreamerInfo record describes it. Classes of written objects are recorded already.
    void note_class(std::string_view class_name);

    // Writes the closing records and the header, syncs and closes the file and moves it to
    // its name. Throws on any failure, after which the file is removed.
    void close();
    // As close(), but the file stays complete under its temporary name, for the caller to
    // move into place together with others (commit_together); removed if it never is.
    OutputFile& close_uncommitted();
    bool is_closed() const { return closed_; }

    // Testing: skips `bytes` (4 .. 2^31-1) at the end, leaving a sparse hole marked and
    // listed as a free gap, so that 64-bit layouts can be tested without writing gigabytes.
    void leave_hole_for_testing(int64_t bytes);
    // Testing: compressing the next basket queued for `branch_name` fails with `message`.
    void fail_compression_for_testing(std::string branch_name, std::string message);

private:
    struct State;
    void write_at(int64_t offset, std::span<const uint8_t> bytes);
    BasketPipeline& pipeline();
    bool write_oldest_basket(bool wait);
    BasketWritten append_basket(std::string_view branch_name, std::string_view tree_name, int16_t cycle,
                                std::span<const uint8_t> basket_header, size_t payload_size,
                                std::span<const uint8_t> stored);
    void flush_pending();
    void append_record(std::span<const uint8_t> key_header, std::span<const uint8_t> object);
    int64_t allocate(int64_t nbytes);
    void write_closing_records();
    [[noreturn]] void fail_sys(std::string_view what, int err) const;
    // A failed write leaves a partial record: the file is discarded at once and refuses
    // everything after.
    [[noreturn]] void fail_write(int err);
    void check_writable(std::string_view object) const;
    void discard() noexcept;

    std::unique_ptr<State> state_;
    std::string path_;
    int compression_;
    std::string title_;
    int64_t end_ = 0;
    bool closed_ = false;
};

}  // namespace rootio
