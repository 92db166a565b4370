// The hand-over of work from background threads to the main thread.
#include "MainThreadInbox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

bool runUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return condition();
}

TEST(MainThreadInbox, WorkFromOtherThreadsRunsOnTheMainThreadInEachThreadsOrder) {
    const auto inbox = MainThreadInbox::create();
    const std::thread::id mainThread = std::this_thread::get_id();
    constexpr int kThreads = 4;
    constexpr int kItems = 200;
    std::vector<std::vector<int>> seen(kThreads); // main thread only
    bool offMain = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                inbox->post([&, t, i] {
                    offMain = offMain || std::this_thread::get_id() != mainThread;
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_TRUE(runUntil([&] { return inbox->pendingCount() == 0; }));
    EXPECT_FALSE(offMain);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), size_t{kItems});
        for (int i = 0; i < kItems; ++i) {
            ASSERT_EQ(seen[t][i], i);
        }
    }
    inbox->close();
}

TEST(MainThreadInbox, ClosingDropsQueuedAndLaterWork) {
    auto inbox = MainThreadInbox::create();
    int runs = 0;
    inbox->post([&] { ++runs; });
    inbox->close();
    EXPECT_TRUE(inbox->isClosed());
    EXPECT_EQ(inbox->pendingCount(), 0u);
    EXPECT_FALSE(inbox->post([&] { ++runs; }));
    QCoreApplication::processEvents();
    inbox->drain();
    EXPECT_EQ(runs, 0);
    inbox->close(); // twice is fine
}

TEST(MainThreadInbox, AThreadOutlivingTheOwnerPostsSafely) {
    auto inbox = MainThreadInbox::create();
    std::atomic<bool> closed{false};
    std::atomic<int> refused{0};
    std::thread late([keep = inbox, &closed, &refused] {
        while (!closed.load()) {
            std::this_thread::yield();
        }
        refused += keep->post([] { FAIL() << "work ran after close"; }) ? 0 : 1;
    });
    inbox->close();
    inbox.reset(); // the thread now holds the last reference
    closed = true;
    late.join();
    EXPECT_EQ(refused.load(), 1);
    QCoreApplication::processEvents();
}

TEST(MainThreadInbox, WorkThatRunsANestedLoopKeepsTheOrder) {
    const auto inbox = MainThreadInbox::create();
    std::vector<int> order;
    inbox->post([&] {
        order.push_back(1);
        inbox->post([&] { order.push_back(3); });
        QEventLoop nested;
        QTimer::singleShot(20, &nested, &QEventLoop::quit);
        nested.exec(); // runs what is queued meanwhile: item 2, then 3
        order.push_back(4);
    });
    inbox->post([&] { order.push_back(2); });
    ASSERT_TRUE(runUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    inbox->close();
}

TEST(MainThreadInbox, WorkMayCloseTheInboxAndDropTheLastReference) {
    auto holder = std::make_shared<std::shared_ptr<MainThreadInbox>>(MainThreadInbox::create());
    bool ran = false;
    (*holder)->post([&ran, holder] {
        ran = true;
        (*holder)->close();
        holder->reset();
    });
    ASSERT_TRUE(runUntil([&] { return ran; }));
    QCoreApplication::processEvents(); // the notifier's deferred deletion
    EXPECT_EQ(*holder, nullptr);
}

} // namespace
