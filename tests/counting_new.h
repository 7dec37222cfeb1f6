#pragma once
// Replaces the global operator new and delete with versions that count allocations, so a
// test or benchmark can show that a warm path allocates nothing. Include it in exactly one
// source file of a program.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

inline std::atomic<long> g_allocations{0};

// ThreadSanitizer's runtime brings its own operator new; there nothing is counted and the
// tests that count skip themselves.
#if defined(__SANITIZE_THREAD__)
#define COUNTING_NEW_REPLACED_BY_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define COUNTING_NEW_REPLACED_BY_SANITIZER 1
#endif
#endif

#ifdef COUNTING_NEW_REPLACED_BY_SANITIZER
inline constexpr bool kAllocationsCounted = false;
#else
inline constexpr bool kAllocationsCounted = true;

// g++ sees the malloc/free pair behind the replaced operators and warns about a mismatch
// that is not one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif
