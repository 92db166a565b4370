#include "MainThreadInbox.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

std::shared_ptr<MainThreadInbox> MainThreadInbox::create() {
    return std::shared_ptr<MainThreadInbox>(new MainThreadInbox());
}

MainThreadInbox::MainThreadInbox() {
    eventFd_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!eventFd_.valid()) {
        throw std::runtime_error("MainThreadInbox: eventfd failed");
    }
    notifier_ = std::make_unique<QSocketNotifier>(eventFd_.get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(); });
}

MainThreadInbox::~MainThreadInbox() {
    // The notifier, if the owner forgot close(), can only be released safely on its own thread;
    // it is released here anyway so nothing leaks, the common case being the main thread.
    notifier_.reset();
}

bool MainThreadInbox::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        queue_.push_back(std::move(work));
    }
    const uint64_t one = 1;
    // Never blocks: the fd is non-blocking, and a full counter already means "wake up".
    ssize_t written;
    do {
        written = ::write(eventFd_.get(), &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    return true;
}

bool MainThreadInbox::takeNext(std::function<void()>* work) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    *work = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void MainThreadInbox::drain() {
    // Reset the counter first: work posted from now on wakes the watcher again.
    uint64_t count = 0;
    ssize_t got;
    do {
        got = ::read(eventFd_.get(), &count, sizeof count);
    } while (got < 0 && errno == EINTR);
    // Work may drop the inbox's owner, and with it the last reference to the inbox.
    const std::shared_ptr<MainThreadInbox> self = shared_from_this();
    ++drainDepth_;
    std::function<void()> work;
    while (takeNext(&work)) {
        work();
        work = nullptr;
    }
    --drainDepth_;
}

void MainThreadInbox::drainAndClose() {
    std::deque<std::function<void()>> last;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        last.swap(queue_);
    }
    stopWatching();
    for (auto& work : last) {
        work();
    }
}

void MainThreadInbox::close() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(queue_);
    }
    stopWatching();
    // `dropped` is released here, on the main thread, outside the lock.
}

void MainThreadInbox::stopWatching() {
    if (notifier_ != nullptr) {
        notifier_->setEnabled(false);
        if (drainDepth_ > 0) {
            // Closed from inside the notifier's own signal: delete it once that has returned.
            notifier_.release()->deleteLater();
        } else {
            notifier_.reset();
        }
    }
}

bool MainThreadInbox::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::size_t MainThreadInbox::pendingCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}
