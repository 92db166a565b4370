// The log line format of failed platform calls, and the notification centre.
#include "NotificationCenter.h"
#include "SystemLog.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

TEST(LogStatusError, WritesLabelSignedStatusAndMachDescription) {
    SystemLogCapture log;
    logStatusError(-10830, "Create MIDI client");
    logStatusError(noErr, "Create output MIDI port");
    logStatusError(5, "Sending MIDI");
    ASSERT_EQ(log.lines().size(), 2) << "a status of 0 writes nothing";
    EXPECT_EQ(log.lines()[0],
              "Error (Create MIDI client): -10830:Error Domain=NSMachErrorDomain Code=-10830");
    EXPECT_EQ(log.lines()[1], "Error (Sending MIDI): 5:Error Domain=NSMachErrorDomain Code=5");
}

TEST(LogStatusError, PrintsTheMostNegativeStatusNegative) {
    SystemLogCapture log;
    logStatusError(INT32_MIN, "Dispose MIDI port");
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("Error (Dispose MIDI port): -2147483648:"));
}

TEST(NotificationCenter, DeliversByNameAndSenderInOrderUntilRemoved) {
    auto& center = NotificationCenter::defaultCenter();
    int sender = 0;
    int other = 0;
    std::vector<std::string> seen;
    ScopedObserver any("N", nullptr, [&](const Notification& n) {
        seen.push_back("any:" + std::any_cast<std::string>(n.userInfo.at("k")));
    });
    auto fromSender =
        center.addObserver("N", &sender, [&](const Notification&) { seen.push_back("sender"); });
    ScopedObserver otherName("M", nullptr, [&](const Notification&) { seen.push_back("M"); });

    center.post({"N", &sender, {{"k", std::string("1")}}});
    center.post({"N", &other, {{"k", std::string("2")}}});
    center.removeObserver(fromSender);
    center.post({"N", &sender, {{"k", std::string("3")}}});

    EXPECT_EQ(seen, (std::vector<std::string>{"any:1", "sender", "any:2", "any:3"}));
}

// One observer removes itself and the one after it, whose state goes with it: neither is
// called again, not even later in the same post.
TEST(NotificationCenter, AnObserverRemovedDuringAPostIsNotCalledAgain) {
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    int secondCalls = 0;
    std::optional<ScopedObserver> second;
    NotificationCenter::Token first = 0;
    first = center.addObserver("Once", nullptr, [&](const Notification&) {
        ++calls;
        center.removeObserver(first);
        second.reset();
    });
    second.emplace("Once", nullptr, [&](const Notification&) { ++secondCalls; });
    center.post({"Once", nullptr, {}});
    center.post({"Once", nullptr, {}});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(secondCalls, 0);
}

} // namespace
