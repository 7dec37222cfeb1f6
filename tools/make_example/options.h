#pragma once
// Command line of make-example.
#include <cstdint>
#include <string>
#include <vector>

namespace make_example {

struct Options {
    int64_t events = 100000;
    uint64_t seed = 1;
    int compression = 209;   // LZMA level 9, as production files of this kind
    int64_t cluster = 3000;  // entries per cluster
    std::string output = "example_RunIISummer20UL18.root";
    double pass_fraction = 0;  // 0: the default mix of topologies
    bool rntuple = false;  // --format rntuple: an RNTuple "Events" instead of a tree
    bool help = false;
    bool quiet = false;

    // Share of events drawn with the boosted topology, the one the skim keeps.
    double boosted_fraction() const;
};

// Throws std::invalid_argument naming the offending option.
Options parse_options(const std::vector<std::string>& args);
std::string usage();

}  // namespace make_example
