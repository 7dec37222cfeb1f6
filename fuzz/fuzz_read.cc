// libFuzzer target: any byte string opened as a ROOT file must read through or fail with a
// RootError that names the file in one printable line (whatever names the file holds); no
// crash, hang, leak, undefined behaviour or huge allocation. Every tree and every entry of
// every readable branch is read; every RNTuple likewise, field by field and then every
// column of every cluster through the bulk path.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/field_values.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"

namespace {

// The input lives in an anonymous in-memory file, opened through its /proc path exactly as
// a file on disk would be: no disk traffic, no temp files left behind.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("fuzz.root", MFD_CLOEXEC))
    {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& fill(const uint8_t* data, size_t size)
    {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
        return path_;
    }

private:
    int fd_;
    std::string path_;
};

// A message fit for a terminal: names the file, one line, printable ASCII only.
bool is_good_message(std::string_view message, const std::string& path)
{
    const bool printable = std::all_of(message.begin(), message.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    return printable && message.find(path) != std::string_view::npos;
}

void check_message(const rootio::RootError& e, const std::string& path)
{
    if (is_good_message(e.what(), path)) return;
    std::fprintf(stderr, "error message without the file name or not one printable line: %s\n", e.what());
    std::abort();
}

void read_branch(const rootio::RootFile& file, const rootio::TreeInfo& tree, int index)
{
    rootio::BranchReader reader(file, tree, index);
    const size_t element = static_cast<size_t>(reader.info().element_size());
    for (int64_t entry = 0; entry < tree.entries; ++entry) {
        const auto bytes = reader.entry_bytes(entry);
        // Entries are whole elements; touching every byte lets ASan check the span.
        if (bytes.size() % element != 0) std::abort();
        volatile uint8_t sink = 0;
        for (uint8_t b : bytes) sink = sink ^ b;
    }
}

// Takes every value it is given and touches it, so ASan checks what the reader hands out.
class TouchingSink final : public rootio::ntuple::ValueSink {
public:
    void null_value() override {}
    void boolean(bool v) override { sum_ = sum_ + v; }
    void signed_integer(int64_t v) override { sum_ = sum_ + static_cast<uint64_t>(v); }
    void unsigned_integer(uint64_t v) override { sum_ = sum_ + v; }
    void real32(float v) override { sum_ = sum_ + static_cast<uint64_t>(v == v); }
    void real64(double v) override { sum_ = sum_ + static_cast<uint64_t>(v == v); }
    void string(std::string_view v) override
    {
        for (char c : v) sum_ = sum_ + static_cast<uint8_t>(c);
    }
    void begin_array() override {}
    void end_array() override {}
    void begin_record() override {}
    void key(std::string_view) override {}
    void end_record() override {}

private:
    volatile uint64_t sum_ = 0;
};

void read_ntuple(const rootio::RootFile& file, const std::string& name, const std::string& path)
{
    using namespace rootio::ntuple;
    const auto reader = NtupleReader::open(file, name);
    const Descriptor& d = reader->descriptor();
    for (uint32_t id : d.top_level) {
        if (!EntryReader::readable(d, id)) continue;
        try {
            const uint32_t one[] = {id};
            EntryReader entries(*reader, one);
            TouchingSink sink;
            for (uint64_t e = 0; e < d.entries; ++e) entries.read(e, 0, sink);
        } catch (const rootio::RootError& e) {
            check_message(e, path);
        }
    }
    ClusterCache cache(*reader);
    std::vector<uint32_t> columns(d.columns.size());
    for (uint32_t c = 0; c < columns.size(); ++c) columns[c] = c;
    for (size_t c = 0; c < d.clusters.size(); ++c) {
        try {
            cache.load(c, columns);
            for (uint32_t col : columns) {
                const ColumnData* data = cache.find(col);
                if (!data) continue;
                volatile uint8_t sink = 0;
                for (uint8_t b : data->values) sink = sink ^ b;
            }
        } catch (const rootio::RootError& e) {
            check_message(e, path);
        }
    }
}

void read_everything(const std::string& path)
{
    const auto file = rootio::RootFile::open(path);
    for (const rootio::PathKey& key : file->all_keys()) {
        if (key.key.class_name == rootio::ntuple::kAnchorClassName) {
            try {
                read_ntuple(*file, key.path, path);
            } catch (const rootio::RootError& e) {
                check_message(e, path);
            }
            continue;
        }
        if (!rootio::is_tree_class(key.key.class_name)) continue;
        try {
            const rootio::TreeInfo tree = rootio::read_tree(*file, key.path);
            for (size_t b = 0; b < tree.branches.size(); ++b) {
                if (!tree.branches[b].is_supported()) continue;
                try {
                    read_branch(*file, tree, static_cast<int>(b));
                } catch (const rootio::RootError& e) {
                    check_message(e, path);
                }
            }
        } catch (const rootio::RootError& e) {
            check_message(e, path);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryFile memory;
    const std::string& path = memory.fill(data, size);
    try {
        read_everything(path);
    } catch (const rootio::RootError& e) {
        check_message(e, path);
    }
    return 0;
}
