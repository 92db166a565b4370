// Time bounds for tests that wait for something to happen "soon". A bound is set for a plain
// build on a real processor; sanitizer builds run the same code several times slower, so their
// bound is scaled by one factor per sanitizer, and a harness that runs the tests on an emulated
// processor (the test VM) sets VQ_TIME_BOUND_FACTOR to scale it further. No test guesses its own
// allowance.
#pragma once

#include <chrono>
#include <cstdlib>

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

// VQ_TIME_BOUND_FACTOR, a whole number from 1 to 100; 1 when unset or not one.
inline int environmentFactor() {
    static const int factor = [] {
        const char* text = std::getenv("VQ_TIME_BOUND_FACTOR");
        const int value = text != nullptr ? std::atoi(text) : 1;
        return value >= 1 && value <= 100 ? value : 1;
    }();
    return factor;
}

template <typename Rep, typename Period>
std::chrono::duration<Rep, Period> scaled(std::chrono::duration<Rep, Period> bound) {
    return bound * kSlowdown * environmentFactor();
}

} // namespace timebounds
