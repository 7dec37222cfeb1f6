#pragma once
// oneTBB hands a task to a worker inside its own library, which a ThreadSanitizer build
// does not instrument, so TSan cannot see that what the spawning thread did (building the
// task included) happens before the task runs. These mark that edge: release after making
// a task and before spawning it, acquire first thing in the task. They compile to nothing
// in other builds.
#if defined(__SANITIZE_THREAD__)
#define ROOTIO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ROOTIO_THREAD_SANITIZER 1
#endif
#endif

#ifdef ROOTIO_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace rootio {

#ifdef ROOTIO_THREAD_SANITIZER
inline char task_handoff_marker;  // one address for every hand-off
#endif

inline void task_handoff_release()
{
#ifdef ROOTIO_THREAD_SANITIZER
    __tsan_release(&task_handoff_marker);
#endif
}

inline void task_handoff_acquire()
{
#ifdef ROOTIO_THREAD_SANITIZER
    __tsan_acquire(&task_handoff_marker);
#endif
}

}  // namespace rootio
