#pragma once
// The input files of a merge, each opened once. A merge reads its inputs twice: a check of
// every input before the output is created (so a bad one leaves nothing behind), then the
// copy. A file opened for the check stays open for the copy, up to kKeptOpen files; later
// ones are opened again for their copy, so that thousands of inputs hold no more
// descriptors or connections than that.
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "rootio/file/root_file.h"

namespace rootio {

class MergeInputs {
public:
    static constexpr size_t kKeptOpen = 256;

    // Called with each input as it is opened (for the check, and again if it is opened
    // anew for the copy); it may refuse the input by throwing.
    using OnOpen = std::function<void(size_t input, const RootFile& file)>;

    explicit MergeInputs(std::span<const std::string> paths, OnOpen on_open = {});

    size_t size() const { return paths_.size(); }
    const std::string& path(size_t i) const { return paths_[i]; }

    // Input `i` for the check, opened on its first call; valid until the next call for
    // another input that is not kept.
    const RootFile& for_check(size_t i);
    // Whether input `i`, once checked, stays open for its copy.
    bool kept(size_t i) const { return i < kept_.size() && kept_[i] != nullptr; }
    // Input `i` for the copy: the file the check opened, or opened anew. Inputs are copied
    // in order, each once.
    std::unique_ptr<RootFile> for_copy(size_t i);

private:
    std::unique_ptr<RootFile> open(size_t i) const;

    std::vector<std::string> paths_;
    OnOpen on_open_;
    std::vector<std::unique_ptr<RootFile>> kept_;  // by input; null past the budget or once copied
    std::unique_ptr<RootFile> checked_;            // the last checked input not kept
    size_t checked_index_ = 0;
};

}  // namespace rootio
