#include "FanOutMarks.h"

#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace zelmidi_detail {

constinit thread_local FanOutMarks::Record* FanOutMarks::current_ = nullptr;

namespace {

// Elsewhere every mark is a sequentially consistent exchange.
bool registerBarrier() {
#if defined(__linux__)
    const long supported = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    return supported >= 0 && (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
           syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
#else
    return false;
#endif
}

void passBarrierOnEveryThread() {
#if defined(__linux__)
    syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
#endif
}

} // namespace

// Records are never freed, since a writer may look at one while its thread ends; a thread's
// record goes back to the pool when it ends. The pool is filled before main, so a thread's first
// fan-out allocates nothing either (unless more than kPooled threads read MIDI at once).
struct FanOutMarks::Registry {
    static constexpr int kPooled = 64;

    Registry() {
        records.reserve(kPooled);
        for (int i = 0; i < kPooled; ++i) {
            records.push_back(new Record);
        }
        // A key's destructor, unlike a thread_local one, registers without allocating.
        pthread_key_create(&owner, [](void* record) {
            std::lock_guard lock(registry().mutex);
            static_cast<Record*>(record)->inUse.store(false, std::memory_order_relaxed);
            current_ = nullptr;
        });
    }

    std::mutex mutex;
    std::vector<Record*> records;
    pthread_key_t owner{};
};

FanOutMarks::Registry& FanOutMarks::registry() {
    static auto* r = new Registry; // outlives every thread's last fan-out
    return *r;
}

const bool FanOutMarks::barrier_ = (registry(), registerBarrier());

FanOutMarks::Record& FanOutMarks::adopt() {
    Registry& reg = registry();
    Record* record = nullptr;
    {
        std::lock_guard lock(reg.mutex);
        for (Record* r : reg.records) {
            if (!r->inUse.load(std::memory_order_relaxed)) {
                record = r;
                break;
            }
        }
        if (record == nullptr) {
            record = new Record;
            reg.records.push_back(record);
        }
        record->inUse.store(true, std::memory_order_relaxed);
    }
    pthread_setspecific(reg.owner, record);
    current_ = record;
    return *record;
}

void FanOutMarks::waitForOtherThreads(const void* source) {
    if (barrier_) {
        passBarrierOnEveryThread();
    }
    std::vector<Record*> others;
    {
        std::lock_guard lock(registry().mutex);
        for (Record* r : registry().records) {
            if (r != current_ && r->inUse.load(std::memory_order_relaxed)) {
                others.push_back(r);
            }
        }
    }
    for (Record* r : others) {
        for (Mark& m : r->marks) {
            if (m.source.load(std::memory_order_seq_cst) != source) {
                continue;
            }
            // A fan-out that began after the barrier walks the new list, so waiting for the one
            // seen here to end is enough even under steady input.
            const uint32_t seen = m.entries.load(std::memory_order_acquire);
            while (m.source.load(std::memory_order_acquire) == source &&
                   m.entries.load(std::memory_order_acquire) == seen) {
                std::this_thread::yield();
            }
        }
    }
}

} // namespace zelmidi_detail
