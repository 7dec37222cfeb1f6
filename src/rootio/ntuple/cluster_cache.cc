#include "rootio/ntuple/cluster_cache.h"

#include <oneapi/tbb/task_group.h>

#include <algorithm>
#include <atomic>

#include "rootio/format/error.h"
#include "rootio/parallel/task_handoff.h"
#include "rootio/parallel/threads.h"

namespace rootio::ntuple {

void ClusterCache::load(size_t cluster, std::span<const uint32_t> columns)
{
    const Descriptor& d = reader_.descriptor();
    if (!loaded_ || cluster != cluster_) {
        slot_of_.assign(d.columns.size(), -1);
        held_ = 0;
    }
    std::vector<uint32_t>& wanted = wanted_;
    wanted.clear();
    for (uint32_t c : columns)
        if (c < d.columns.size() && slot_of_[c] < 0) {
            slot_of_[c] = static_cast<int32_t>(held_ + wanted.size());
            wanted.push_back(c);
        }
    if (loaded_ && cluster == cluster_ && wanted.empty()) return;
    loaded_ = false;  // until the new columns are decoded: a failure starts the cluster anew
    cluster_ = cluster;
    reader_.fetch_pages(cluster, wanted, pages_);
    const ClusterPages& pages = pages_;
    if (data_.size() < held_ + wanted.size()) data_.resize(held_ + wanted.size());
    const std::span<ColumnData> data = std::span(data_).subspan(held_, wanted.size());
    const size_t workers = std::min<size_t>(static_cast<size_t>(thread_count()), wanted.size());
    while (decompressors_.size() < std::max<size_t>(workers, 1)) decompressors_.push_back(std::make_unique<Decompressor>());
    scratch_.resize(decompressors_.size());
    if (workers <= 1) {
        for (size_t i = 0; i < wanted.size(); ++i) reader_.decode_column(pages, wanted[i], *decompressors_[0], scratch_[0], data[i]);
    } else {
        // The workers take the columns one at a time, the largest first, so that they finish
        // together; each has its own codec state. The first error in column order is the one
        // reported, whatever the thread timing.
        std::vector<uint64_t> stored(wanted.size(), 0);
        for (const RawPage& p : pages.pages) stored[static_cast<size_t>(slot_of_[p.column]) - held_] += p.size;
        order_.resize(wanted.size());
        for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
        std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) { return stored[a] > stored[b]; });
        std::atomic<size_t> next{0};
        std::vector<std::exception_ptr> errors(wanted.size());
        // A task group rather than parallel_for: its hand-over is the one the thread
        // sanitizer build is told about (task_handoff.h).
        tbb::task_group group;  // made before the hand-over, so the workers see it made
        task_handoff_release();
        worker_arena().execute([&] {
            for (size_t w = 0; w < workers; ++w)
                group.run([&, w] {
                    task_handoff_acquire();
                    for (size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < order_.size();) {
                        const size_t i = order_[k];
                        try {
                            reader_.decode_column(pages, wanted[i], *decompressors_[w], scratch_[w], data[i]);
                        } catch (...) {
                            errors[i] = std::current_exception();
                        }
                    }
                    task_handoff_release();  // acquired once the group has been waited for
                });
            group.wait();
        });
        task_handoff_acquire();
        for (auto& e : errors)
            if (e) std::rethrow_exception(e);
    }
    held_ += wanted.size();
    loaded_ = true;
}

const ColumnData* ClusterCache::find(uint32_t column) const
{
    if (!loaded_ || column >= slot_of_.size() || slot_of_[column] < 0) return nullptr;
    return &data_[static_cast<size_t>(slot_of_[column])];
}

const ColumnData& ClusterCache::get(uint32_t column) const
{
    const ColumnData* c = find(column);
    if (!c) {
        const Descriptor& d = reader_.descriptor();
        fail(reader_.context(), column < d.columns.size() ? "field " + d.field_path(d.columns[column].field) : "",
             "column " + std::to_string(column) + " of cluster " + std::to_string(cluster_) + " was not loaded");
    }
    return *c;
}

std::optional<uint32_t> active_column(const Descriptor& d, const FieldDescriptor& f, size_t cluster, size_t k)
{
    const ClusterDescriptor& c = d.clusters.at(cluster);
    for (const auto& rep : f.representations)
        if (k < rep.size() && !c.columns[rep[k]].suppressed) return rep[k];
    return std::nullopt;
}

}  // namespace rootio::ntuple
