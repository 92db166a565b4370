// Hands work from any thread to the main thread without waiting and without Qt's own event
// posting, whose locks ThreadSanitizer cannot see: a std::mutex-guarded queue plus an eventfd
// that a QSocketNotifier on the main thread watches.
#pragma once

#include "UniqueFd.h"

#include <QObject>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

class MainThreadInbox : public std::enable_shared_from_this<MainThreadInbox> {
public:
    // Create on the main thread, which must run a Qt event loop; work runs there.
    static std::shared_ptr<MainThreadInbox> create();
    // Any thread. Closes the eventfd; the owner must have called close() on the main thread.
    ~MainThreadInbox();
    MainThreadInbox(const MainThreadInbox&) = delete;
    MainThreadInbox& operator=(const MainThreadInbox&) = delete;

    // Any thread; never blocks on the main thread. Work posted after close() is dropped.
    // Returns whether the work was queued.
    bool post(std::function<void()> work);

    // Main thread: runs queued work in posting order, one item at a time, so work that enters a
    // nested event loop lets later items keep their order. Called by the watcher; tests may call
    // it.
    void drain();

    // Main thread, by the owner before it goes away: drops queued work, stops watching, and
    // makes every later post() a no-op. Idempotent.
    void close();
    // Main thread: closes, and runs the work queued until then instead of dropping it (a post()
    // refused from then on tells its caller to do the work itself).
    void drainAndClose();

    bool isClosed() const;
    std::size_t pendingCount() const;

private:
    MainThreadInbox();
    bool takeNext(std::function<void()>* work);
    void stopWatching();

    mutable std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool closed_ = false;
    UniqueFd eventFd_;
    // Main thread only.
    std::unique_ptr<QSocketNotifier> notifier_;
    int drainDepth_ = 0;
};
