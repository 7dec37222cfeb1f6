#include "rootio/file/merge_inputs.h"

namespace rootio {

MergeInputs::MergeInputs(std::span<const std::string> paths, OnOpen on_open)
    : paths_(paths.begin(), paths.end()), on_open_(std::move(on_open))
{
}

std::unique_ptr<RootFile> MergeInputs::open(size_t i) const
{
    std::unique_ptr<RootFile> file = RootFile::open(paths_.at(i));
    if (on_open_) on_open_(i, *file);
    return file;
}

const RootFile& MergeInputs::for_check(size_t i)
{
    if (kept(i)) return *kept_[i];
    if (checked_ && checked_index_ == i) return *checked_;
    std::unique_ptr<RootFile> file = open(i);
    if (i < kKeptOpen) {
        if (kept_.size() <= i) kept_.resize(i + 1);
        kept_[i] = std::move(file);
        return *kept_[i];
    }
    checked_ = std::move(file);
    checked_index_ = i;
    return *checked_;
}

std::unique_ptr<RootFile> MergeInputs::for_copy(size_t i)
{
    if (kept(i)) return std::move(kept_[i]);
    if (checked_ && checked_index_ == i) return std::move(checked_);
    return open(i);
}

}  // namespace rootio
