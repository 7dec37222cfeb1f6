#include "rootio/tree/opened_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
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

// Bytes requested for the files after the next one, at most, held outside any read cache
// until their file's cache takes them.
constexpr int64_t kBeyondNextBytes = int64_t{32} << 20;
std::atomic<int64_t> g_beyond_next_bytes{0};

// A first-cluster request on its way from file to file: `hop` 0 is the next file's.
struct PassedOn {
    CarriedBranches carried;
    int hop = 0;
};

// A tree read ahead, shared with the thread reading it; first-cluster requests made before
// it was read are sent by that thread once it is.
struct TreeState {
    std::mutex mutex;
    bool read = false;
    bool taken = false;
    std::optional<TreeInfo> tree;  // nullopt: it could not be read (its reader reads it again)
    std::vector<PassedOn> requests;
    std::vector<std::unique_ptr<FirstClusterAhead>> first_cluster;
    std::unordered_set<std::string> requested;  // branches whose first cluster was requested
    int64_t beyond_next_bytes = 0;              // of first_cluster, counted in g_beyond_next_bytes

    ~TreeState() { release_beyond_next(); }
    void release_beyond_next() { g_beyond_next_bytes -= std::exchange(beyond_next_bytes, 0); }

    // Under `mutex`, once the tree is read: requests the first cluster of the branches of
    // `passed` not requested yet. When that cluster is the whole tree, the loop is through
    // this file at once: returns the request for the file after it, with the budget left.
    std::optional<PassedOn> send(const std::shared_ptr<const RootFile>& file, const PassedOn& passed)
    {
        if (!tree || taken) return std::nullopt;
        CarriedBranches fresh = passed.carried;
        auto drop_requested = [&](std::vector<std::string>& names) {
            std::erase_if(names, [&](const std::string& name) { return requested.contains(name); });
        };
        drop_requested(fresh.learned);
        drop_requested(fresh.kept);
        // Beyond the next file, within kBeyondNextBytes for all of them (a request sent at the
        // same time for another file may pass it by its own size).
        if (passed.hop > 0)
            fresh.budget_bytes = std::clamp<int64_t>(kBeyondNextBytes - g_beyond_next_bytes.load(), 0, fresh.budget_bytes);
        int64_t used = 0;
        if (fresh.budget_bytes > 0 && (!fresh.learned.empty() || !fresh.kept.empty()))
            // Beyond the next file a part would only be finished by the file's own cache, a
            // round trip of its own: all of it or nothing.
            if (auto ahead = request_first_cluster(file, *tree, fresh, passed.hop > 0)) {
                used = ahead->held_bytes();
                for (const FirstClusterAhead::Basket& basket : ahead->baskets)
                    requested.insert(tree->branches[static_cast<size_t>(basket.branch)].name);
                first_cluster.push_back(std::move(ahead));
            }
        if (passed.hop > 0) {
            g_beyond_next_bytes += used;
            beyond_next_bytes += used;
        }
        if (passed.hop + 1 >= kFilesAhead || first_cluster_end(*tree, passed.carried) < tree->entries) return std::nullopt;
        PassedOn onward{passed.carried, passed.hop + 1};
        onward.carried.budget_bytes -= used;
        if (onward.carried.budget_bytes <= 0) return std::nullopt;
        return onward;
    }
};

struct TreeAhead {
    std::weak_ptr<const RootFile> file;  // a later file at the same address is another file
    int64_t seek_key = 0;
    std::shared_ptr<TreeState> state;
    std::future<void> reading;  // the thread reading it, while it may still run
    int64_t copy_bytes = 0;     // a copy kept for a later take: its estimated size
};

// Copies of trees kept for a later take of their file, at most (estimated): the memory of
// a few large trees, or of the trees of many small files.
constexpr int64_t kKeptCopiesBytes = int64_t{32} << 20;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, KeptFile> files;
    std::unordered_map<const RootFile*, TreeAhead> trees;
    std::unordered_map<std::string, std::string> next_files;  // path read next after path
    int64_t copies_bytes = 0;
};

// The memory a tree's description takes, roughly: its branches and their basket tables.
int64_t tree_bytes(const TreeInfo& tree)
{
    int64_t bytes = sizeof(TreeInfo);
    for (const BranchInfo& b : tree.branches)
        bytes += static_cast<int64_t>(sizeof(BranchInfo) + b.name.size() + b.title.size() + 2 * b.leaf.title.size() +
                                      20 * b.basket_seek.size());
    return bytes;
}

// Never destroyed: files still kept at exit (a run that stopped early) are not closed then,
// when the network client they may be read through is already torn down; the system and
// the servers close them.
Registry& registry()
{
    static Registry* const r = std::make_unique<Registry>().release();
    return *r;
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

std::shared_ptr<TreeState> read_state(std::optional<TreeInfo> tree)
{
    auto state = std::make_shared<TreeState>();
    state->read = true;
    state->tree = std::move(tree);
    return state;
}

// Sends `passed` to the file read after `current`, and on from there while the files are
// one cluster each (TreeState::send).
void pass_on(const std::string& current, PassedOn passed)
{
    Registry& r = registry();
    std::string path;
    std::shared_ptr<const RootFile> file;
    std::shared_ptr<TreeState> state;
    {
        const std::lock_guard lock(r.mutex);
        const auto next = r.next_files.find(current);
        if (next == r.next_files.end()) return;
        const auto kept = r.files.find(next->second);
        if (kept == r.files.end() || !kept->second.file) return;  // not opened: its take reports why
        const auto tree = r.trees.find(kept->second.file.get());
        if (tree == r.trees.end()) return;
        // A local file's first cluster is read when its loop gets there: nothing to hide.
        if (!kept->second.file->source().answers_after_a_round_trip()) return;
        path = next->second;
        file = kept->second.file;
        state = tree->second.state;
    }
    std::optional<PassedOn> onward;
    {
        const std::lock_guard lock(state->mutex);
        if (state->read) onward = state->send(file, passed);
        else state->requests.push_back(std::move(passed));
    }
    if (onward) pass_on(path, std::move(*onward));
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
        if (o.tree) r.trees[o.kept.file.get()] = {o.kept.file, o.key->seek_key, read_state(std::move(o.tree)), {}, 0};
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

std::optional<TreeTakenAhead> take_tree_read_ahead(const RootFile& file, const KeyHeader& key)
{
    Registry& r = registry();
    TreeAhead ahead;
    {
        const std::lock_guard lock(r.mutex);
        const auto found = r.trees.find(&file);
        if (found == r.trees.end()) return std::nullopt;
        ahead = std::move(found->second);
        r.trees.erase(found);
        r.copies_bytes -= ahead.copy_bytes;
    }
    if (ahead.reading.valid()) {
        if (ahead.reading.wait_for(std::chrono::seconds(0)) != std::future_status::ready) file.source().count_wait();
        ahead.reading.wait();
    }
    const std::shared_ptr<const RootFile> owner = ahead.file.lock();
    if (owner.get() != &file || ahead.seek_key != key.seek_key) return std::nullopt;
    TreeTakenAhead taken;
    {
        const std::lock_guard lock(ahead.state->mutex);
        ahead.state->taken = true;
        ahead.state->release_beyond_next();  // the file's cache takes them in
        if (!ahead.state->tree) return std::nullopt;
        taken = {std::move(*ahead.state->tree), std::move(ahead.state->first_cluster)};
    }
    const std::lock_guard lock(r.mutex);
    const bool kept_for_another_take = std::any_of(r.files.begin(), r.files.end(), [&](const auto& kept) {
        return kept.second.file.get() == &file && kept.second.uses > 0;
    });
    if (kept_for_another_take && !r.trees.contains(&file)) {
        const int64_t bytes = tree_bytes(taken.tree);
        if (r.copies_bytes + bytes <= kKeptCopiesBytes) {
            r.trees[&file] = {owner, key.seek_key, read_state(taken.tree), {}, bytes};
            r.copies_bytes += bytes;
        }
    }
    return taken;
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
    auto state = std::make_shared<TreeState>();
    auto reading = std::async(std::launch::async, [file, state, key = *key, name = std::string(tree_name), path] {
        std::optional<TreeInfo> tree = try_read_tree(*file, key, name);
        std::vector<PassedOn> onward;
        {
            const std::lock_guard state_lock(state->mutex);
            state->tree = std::move(tree);
            state->read = true;
            for (const PassedOn& passed : state->requests)
                if (auto further = state->send(file, passed)) onward.push_back(std::move(*further));
            state->requests.clear();
        }
        for (PassedOn& further : onward) pass_on(path, std::move(further));
    });
    r.trees[file.get()] = {file, key->seek_key, std::move(state), std::move(reading), 0};
}

void read_files_ahead(std::span<const std::string> paths, size_t current, std::string_view tree_name)
{
    for (size_t i = current; i < current + kFilesAhead && i + 1 < paths.size(); ++i) {
        if (paths[i + 1] == paths[i]) continue;  // the same file again serves itself
        read_tree_ahead(paths[i + 1], tree_name);
        Registry& r = registry();
        const std::lock_guard lock(r.mutex);
        r.next_files[paths[i]] = paths[i + 1];
    }
}

void request_first_cluster_after(const std::string& current, const CarriedBranches& carried)
{
    pass_on(current, {carried, 0});
}

}  // namespace rootio
