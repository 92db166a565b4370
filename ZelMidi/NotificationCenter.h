// The process-wide notification centre: named notifications posted synchronously, on the posting
// thread, to every observer of that name (and, if the observer asked for one, of that sender).
#pragma once

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct Notification {
    std::string name;
    const void* object = nullptr; // the sender
    std::map<std::string, std::any> userInfo;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    // object == nullptr observes every sender. The token removes the observer again.
    Token addObserver(std::string name, const void* object, Observer observer);
    void removeObserver(Token token);

    // Calls the matching observers in the order they were added. Observers may add or remove
    // observers while they run: one added joins from the next post, one removed is not called
    // again, not even later in the same post.
    void post(const Notification& notification);

private:
    struct Registered {
        Observer observer;
        std::atomic<bool> removed{false};
    };
    struct Entry {
        Token token;
        std::string name;
        const void* object;
        std::shared_ptr<Registered> registered;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token nextToken_ = 1;
};

// Removes its observer when it goes out of scope.
class ScopedObserver {
public:
    ScopedObserver() = default;
    ScopedObserver(std::string name, const void* object, NotificationCenter::Observer observer)
        : token_(NotificationCenter::defaultCenter().addObserver(std::move(name), object,
                                                                 std::move(observer))) {}
    ~ScopedObserver() { reset(); }
    ScopedObserver(ScopedObserver&& other) noexcept : token_(std::exchange(other.token_, 0)) {}
    ScopedObserver& operator=(ScopedObserver&& other) noexcept {
        reset();
        token_ = std::exchange(other.token_, 0);
        return *this;
    }
    void reset() {
        if (token_ != 0) {
            NotificationCenter::defaultCenter().removeObserver(std::exchange(token_, 0));
        }
    }

private:
    NotificationCenter::Token token_ = 0;
};
