// The timing the updater ships with. Tests shorten the pass period, so nothing else would notice
// if the default changed: the wait behind the progress window takes one pass a second and gives
// up in the 242nd pass, so an update times out after about four minutes.
#include "AppDelegate.h"
#include "MainWindow.h"
#include "ModalSession.h"
#include "SimulatedMidiService.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(ShippedTiming, ANewControllerTakesOnePassASecond) {
    MainWindow window;
    AppDelegate controller(std::make_shared<SimulatedMidiService>(), window);
    EXPECT_EQ(controller.updateSettings().passPeriod, 1000ms);
}

class TimeOutPass : public ::testing::TestWithParam<std::chrono::milliseconds> {};

// Whatever the period, the time-out is handled in the 242nd pass, and no pass follows it.
TEST_P(TimeOutPass, IsThe242nd) {
    QWidget window;
    ModalSession* running = nullptr;
    int passOfTimeOut = -1;
    int timeOuts = 0;
    ModalSession session(&window, GetParam(), {.timeout = [&] {
        ++timeOuts;
        passOfTimeOut = running->passes() + 1;
    }});
    running = &session;
    session.begin();
    session.run();
    session.end();
    EXPECT_EQ(timeOuts, 1);
    EXPECT_EQ(passOfTimeOut, 242);
    EXPECT_EQ(session.passes(), 242);
}

INSTANTIATE_TEST_SUITE_P(Periods, TimeOutPass, ::testing::Values(0ms, 1ms, 2ms));

} // namespace
