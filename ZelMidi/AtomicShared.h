// A shared_ptr slot that one thread may replace while others read it: a reader gets its own
// reference, which stays valid however often the slot is replaced meanwhile. The lock is held
// only for the copy of the pointer, never while the object is used.
#pragma once

#include <memory>
#include <mutex>

template <typename T> class AtomicShared {
public:
    AtomicShared() = default;
    explicit AtomicShared(std::shared_ptr<T> value) : value_(std::move(value)) {}
    AtomicShared(const AtomicShared&) = delete;
    AtomicShared& operator=(const AtomicShared&) = delete;

    std::shared_ptr<T> load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    void store(std::shared_ptr<T> value) {
        // The old object is released outside the lock: its destructor may take time or re-enter.
        std::shared_ptr<T> old = exchange(std::move(value));
    }

    std::shared_ptr<T> exchange(std::shared_ptr<T> value) {
        std::lock_guard lock(mutex_);
        value_.swap(value);
        return value;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};
