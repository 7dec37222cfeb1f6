#include "rootio/tree/opened_files.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "rootio/format/error.h"
#include "rootio/tree/tree_reader.h"

namespace rootio {
namespace {

struct KeptFile {
    std::shared_ptr<const RootFile> file;
    std::exception_ptr error;
    int uses = 0;
};

struct TreeAhead {
    std::weak_ptr<const RootFile> file;  // a later file at the same address is another file
    int64_t seek_key = 0;
    std::future<std::optional<TreeInfo>> tree;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, KeptFile> files;
    std::unordered_map<const RootFile*, TreeAhead> trees;
};

Registry& registry()
{
    static Registry r;
    return r;
}

// The tree `name` of `file`, or nullopt when it cannot be read (its reader reads it again).
std::optional<TreeInfo> try_read_tree(const RootFile& file, const KeyHeader& key, std::string_view name)
{
    try {
        return read_tree(file, key, name);
    } catch (const RootError&) {
        return std::nullopt;
    }
}

std::future<std::optional<TreeInfo>> ready(std::optional<TreeInfo> tree)
{
    std::promise<std::optional<TreeInfo>> promise;
    promise.set_value(std::move(tree));
    return promise.get_future();
}

}  // namespace

void open_files_ahead(std::span<const std::string> paths, std::string_view tree_name, int uses, int concurrency)
{
    struct Opened {
        KeptFile kept;
        std::optional<KeyHeader> key;
        std::optional<TreeInfo> tree;
    };
    std::vector<Opened> opened(paths.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
            Opened& o = opened[i];
            try {
                std::shared_ptr<const RootFile> file = RootFile::open(paths[i]);
                o.key = file->find_path(tree_name);
                if (o.key && is_tree_class(o.key->class_name)) o.tree = try_read_tree(*file, *o.key, tree_name);
                o.kept.file = std::move(file);
            } catch (const RootError&) {
                o.kept.error = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    const size_t count = std::min<size_t>(paths.size(), static_cast<size_t>(std::max(1, concurrency)));
    for (size_t t = 1; t < count; ++t) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    for (size_t i = 0; i < paths.size(); ++i) {
        Opened& o = opened[i];
        KeptFile& kept = r.files[paths[i]];
        if (kept.uses > 0) {  // listed twice: one file serves every use
            kept.uses += uses;
            continue;
        }
        if (o.tree) r.trees[o.kept.file.get()] = {o.kept.file, o.key->seek_key, ready(std::move(o.tree))};
        kept = std::move(o.kept);
        kept.uses = uses;
    }
}

std::shared_ptr<const RootFile> take_opened_file(const std::string& path)
{
    Registry& r = registry();
    std::shared_ptr<const RootFile> file;
    std::exception_ptr error;
    {
        const std::lock_guard lock(r.mutex);
        const auto found = r.files.find(path);
        if (found == r.files.end()) return nullptr;
        file = found->second.file;
        error = found->second.error;
        if (--found->second.uses <= 0) r.files.erase(found);
    }
    if (error) std::rethrow_exception(error);
    return file;
}

std::optional<TreeInfo> take_tree_read_ahead(const RootFile& file, const KeyHeader& key)
{
    Registry& r = registry();
    std::future<std::optional<TreeInfo>> tree;
    {
        const std::lock_guard lock(r.mutex);
        const auto found = r.trees.find(&file);
        if (found == r.trees.end()) return std::nullopt;
        const bool same_key =
            found->second.file.lock().get() == &file && found->second.seek_key == key.seek_key;
        tree = std::move(found->second.tree);
        r.trees.erase(found);
        if (!same_key) return std::nullopt;
    }
    return tree.get();
}

void read_tree_ahead(const std::string& path, std::string_view tree_name)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    const auto found = r.files.find(path);
    if (found == r.files.end() || !found->second.file || r.trees.contains(found->second.file.get())) return;
    const std::shared_ptr<const RootFile> file = found->second.file;
    const std::optional<KeyHeader> key = file->find_path(tree_name);
    if (!key || !is_tree_class(key->class_name)) return;
    // The thread holds the file, so it outlives the read whoever takes it meanwhile.
    r.trees[file.get()] = {file, key->seek_key, std::async(std::launch::async, [file, key = *key, name = std::string(tree_name)] {
                                               return try_read_tree(*file, key, name);
                                           })};
}

}  // namespace rootio
