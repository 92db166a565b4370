// The allocation counter sees every way to the heap, so "no allocation" means none.
#include "AllocationCounter.h"

#include <cctype>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct AllocationForm {
    std::string name;
    std::function<void()> allocateAndFree;
};

void PrintTo(const AllocationForm& form, std::ostream* out) {
    *out << form.name;
}

// Keeps the compiler from dropping an allocation whose result is otherwise unused.
void* volatile escape = nullptr;

struct alignas(64) Wide {
    char bytes[64];
};

std::vector<AllocationForm> forms() {
    return {
        {"malloc",
         [] {
             escape = std::malloc(24);
             std::free(escape);
         }},
        {"calloc",
         [] {
             escape = std::calloc(3, 8);
             std::free(escape);
         }},
        {"realloc",
         [] {
             escape = std::realloc(nullptr, 40);
             std::free(escape);
         }},
        {"aligned_alloc",
         [] {
             escape = std::aligned_alloc(64, 128);
             std::free(escape);
         }},
        {"posix_memalign",
         [] {
             void* p = nullptr;
             ASSERT_EQ(posix_memalign(&p, 64, 100), 0);
             escape = p;
             std::free(p);
         }},
        {"new",
         [] {
             auto* p = new int(1);
             escape = p;
             delete p;
         }},
        {"new[]",
         [] {
             auto* p = new int[8];
             escape = p;
             delete[] p;
         }},
        {"nothrow new",
         [] {
             auto* p = new (std::nothrow) int(2);
             escape = p;
             delete p;
         }},
        {"nothrow new[]",
         [] {
             auto* p = new (std::nothrow) int[4];
             escape = p;
             delete[] p;
         }},
        {"aligned new",
         [] {
             auto* p = new Wide;
             escape = p;
             delete p;
         }},
        {"aligned new[]",
         [] {
             auto* p = new Wide[2];
             escape = p;
             delete[] p;
         }},
        {"make_shared",
         [] {
             auto p = std::make_shared<long>(3);
             escape = p.get();
         }},
    };
}

class AllocationCounterSees : public ::testing::TestWithParam<AllocationForm> {};

TEST_P(AllocationCounterSees, EachFormOnce) {
    int seen = 0;
    {
        AllocationCounter counter;
        GetParam().allocateAndFree();
        seen = counter.count();
    }
    EXPECT_EQ(seen, 1) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Forms, AllocationCounterSees, ::testing::ValuesIn(forms()),
                         [](const auto& param) {
                             std::string name;
                             for (const char c : param.param.name) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

TEST(AllocationCounter, WhatAPauseCoversIsNotCounted) {
    AllocationCounter counter;
    {
        AllocationCounter::Pause pause;
        escape = std::malloc(8);
        std::free(escape);
    }
    EXPECT_EQ(counter.count(), 0);
}

} // namespace
