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

#include "rootio/bytes.h"
#include "rootio/compression.h"
#include "rootio/root_file.h"

namespace rootio {

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
    int64_t end() const { return end_; }

    // Appends one basket record (key class TBasket, v1004 header, fSeekPdir 100). `header`
    // is the 19-byte basket part of the key (version, buffer size, nevbufsize, nevbuf,
    // last, flag) and counts in fKeylen; `payload` is compressed with `compressor` unless
    // that does not pay. Returns the record's seek and total bytes; not listed in the keys.
    struct BasketWritten {
        int64_t seek = 0;
        int32_t nbytes = 0;
        int32_t objlen = 0;
        int16_t keylen = 0;
    };
    BasketWritten write_basket(std::string_view branch_name, std::string_view tree_name, int16_t cycle,
                               std::span<const uint8_t> basket_header, std::span<const uint8_t> payload,
                               Compressor& compressor);

    // fKeylen of a basket record of this branch and tree (v1004 key + the 19 basket bytes):
    // entry offsets inside a basket count from the key's first byte.
    static int16_t basket_key_length(std::string_view branch_name, std::string_view tree_name);

    // Appends whole records made elsewhere (baskets copied from another file), back to back;
    // their keys must already name their seeks, the first end(). Not listed in the keys.
    // Returns the first seek.
    int64_t append_record_copy(std::span<const uint8_t> records);

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
    bool is_closed() const { return closed_; }

    // Testing: skips `bytes` (4 .. 2^31-1) at the end, leaving a sparse hole marked and
    // listed as a free gap, so that 64-bit layouts can be tested without writing gigabytes.
    void leave_hole_for_testing(int64_t bytes);

private:
    struct State;
    void write_at(int64_t offset, std::span<const uint8_t> bytes);
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
