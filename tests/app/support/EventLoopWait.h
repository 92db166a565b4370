// Waiting on conditions, never on fixed sleeps: runs the main thread's event loop until the
// condition holds or the deadline passes.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <thread>

template <typename Condition>
bool waitUntil(Condition&& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Lets other threads (receive, send) run on a busy machine without a fixed sleep.
        std::this_thread::yield();
    }
    return true;
}

// Runs whatever is already queued for the main thread (inbox work, notices, deferred deletes).
inline void processPendingEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}
