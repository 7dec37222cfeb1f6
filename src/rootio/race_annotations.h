#pragma once
// Hand-overs a race detector cannot see. oneTBB's library is not built with
// ThreadSanitizer, so when it passes a task to a worker the sanitizer does not know that
// everything the spawning thread did before happens before the task. The spawning thread
// calls handing_over(x) before spawning, and the task calls taken_over(x) first; the calls
// vanish unless the sanitizer is on.
#if defined(__SANITIZE_THREAD__)
#define ROOTIO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ROOTIO_TSAN 1
#endif
#endif

#ifdef ROOTIO_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace rootio {

inline void handing_over([[maybe_unused]] void* token)
{
#ifdef ROOTIO_TSAN
    __tsan_release(token);
#endif
}

inline void taken_over([[maybe_unused]] void* token)
{
#ifdef ROOTIO_TSAN
    __tsan_acquire(token);
#endif
}

}  // namespace rootio
