#pragma once
// How many threads the engine may use, decided in one place for every program of the
// project, and the one pool of workers they share.
#include <oneapi/tbb/task_arena.h>

namespace rootio {

// SKIM_THREADS when set (a whole number from 1; 1 means everything runs on the calling
// thread), otherwise the cores this process may use: its CPU affinity, capped by a cgroup
// CPU quota. Read once. Throws RootError for a SKIM_THREADS that is not a thread count.
int thread_count();

// The shared oneTBB arena of thread_count() threads. Parallel work runs inside
// worker_arena().execute(...), so no program ever uses more threads than it was given.
tbb::task_arena& worker_arena();

}  // namespace rootio
