// Counts the heap allocations this thread makes while a counter is alive: every malloc, calloc,
// realloc, aligned allocation and every form of operator new. Without a sanitizer the test
// executable supplies the allocator entry points itself (on top of glibc's); under ASan or TSan,
// which own the allocator, their allocation hook does the counting.
#pragma once

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    int count() const;

    // Allocations made while a Pause lives on this thread are not counted (a test's own
    // bookkeeping in the middle of the code under test).
    class Pause {
    public:
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        bool was_;
    };

private:
    int start_;
};
