// Time bounds for tests that wait for something to happen "soon". A bound is set for a plain
// build; sanitizer builds run the same code several times slower, so their bound is scaled by
// one factor per sanitizer instead of each test guessing its own allowance.
#pragma once

#include <chrono>

namespace timebounds {

#if defined(__SANITIZE_THREAD__)
#define VQ_TIME_BOUNDS_THREAD 1
#elif defined(__SANITIZE_ADDRESS__)
#define VQ_TIME_BOUNDS_ADDRESS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VQ_TIME_BOUNDS_THREAD 1
#elif __has_feature(address_sanitizer)
#define VQ_TIME_BOUNDS_ADDRESS 1
#endif
#endif

// How many times slower this build runs the MIDI and event-loop paths than a plain one
// (ThreadSanitizer measured at 2-5x, AddressSanitizer at 2-3x; with headroom).
#if defined(VQ_TIME_BOUNDS_THREAD)
inline constexpr int kSlowdown = 10;
#elif defined(VQ_TIME_BOUNDS_ADDRESS)
inline constexpr int kSlowdown = 4;
#else
inline constexpr int kSlowdown = 1;
#endif

template <typename Rep, typename Period>
constexpr std::chrono::duration<Rep, Period> scaled(std::chrono::duration<Rep, Period> bound) {
    return bound * kSlowdown;
}

} // namespace timebounds
