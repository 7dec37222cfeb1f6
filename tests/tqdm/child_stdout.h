#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tqdm.h"

// Runs code in a forked child whose standard output is a pseudo-terminal (output
// post-processing off, so bytes arrive unchanged) or a pipe, and collects what it wrote.
namespace tqdm_testing {

enum class StdoutKind { terminal, pipe };

// Multiplexer variables for the child; nullopt unsets the variable.
struct ChildEnv {
    std::optional<std::string> sty;
    std::optional<std::string> tmux;
};

struct ChildResult {
    std::string out;     // bytes written to the child's standard output
    std::string report;  // the string the body returned
    bool clean_exit = false;
};

// The child ends with _exit() right after the body: stdio buffers it left unflushed
// never reach the output, which is how tests see a missing flush.
ChildResult run_in_child(StdoutKind kind, const ChildEnv& env, const std::function<std::string()>& body);

// A clock tests move by hand; it counts how often it is read.
struct FakeClock {
    static long long now_ns;
    static int reads;
    static void set_seconds(double s);
    static tqdm::time_point now();
};

}  // namespace tqdm_testing
