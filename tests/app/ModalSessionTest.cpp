// The wait behind the progress window: passes, progress, time-out, stop requests, and the window
// itself (application-modal, its spinner turning, its bar spanning 0..1).
#include "ModalSession.h"

#include "MainThreadInbox.h"
#include "ProgressDLG.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QProgressBar>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Posts from a thread of its own, the way the flasher run hands over its result.
void postFromAnotherThread(const std::shared_ptr<MainThreadInbox>& inbox,
                           std::function<void()> work) {
    std::thread([&] { inbox->post(std::move(work)); }).join();
}

class CountPaints : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

class ModalSessionTest : public ::testing::Test {
protected:
    void TearDown() override { inbox_->close(); }

    std::shared_ptr<MainThreadInbox> inbox_ = MainThreadInbox::create();
    ProgressDLG dialog_;
    std::vector<float> progress_;
    int timeouts_ = 0;
};

TEST_F(ModalSessionTest, WithoutAResultTheWaitTimesOutInPass241) {
    ModalSession session(&dialog_, 1ms,
                         {.progress = [this](float v) { progress_.push_back(v); },
                          .timeout = [this] { ++timeouts_; }});
    session.begin();
    session.run();
    session.end();

    ASSERT_EQ(progress_.size(), 141u);
    for (std::size_t c = 0; c < progress_.size(); ++c) {
        EXPECT_EQ(progress_[c], static_cast<float>(c) / 140.0f) << "pass " << c;
        EXPECT_LE(progress_[c], 1.0f);
    }
    EXPECT_EQ(progress_.back(), 1.0f);
    EXPECT_EQ(timeouts_, 1);
    EXPECT_TRUE(session.timedOut());
    EXPECT_EQ(session.passes(), 242); // passes 0..241, the last one gave up
    EXPECT_FALSE(dialog_.isVisible());
}

// The time-out counts the passes without word from the flasher: a write that keeps reporting is
// never cut, and a flasher that falls silent still times out 242 passes later.
TEST_F(ModalSessionTest, OutputPutsTheTimeOutOff) {
    std::vector<int> silence;
    ModalSession* self = nullptr;
    ModalSession session(
        &dialog_, 1ms,
        {.timeout = [this] { ++timeouts_; },
         .heard = [&] { return self->passes() % 50 == 0 && self->passes() <= 300; },
         .silence = [&](int passes) { silence.push_back(passes); }});
    self = &session;
    session.run();
    EXPECT_EQ(timeouts_, 1);
    ASSERT_EQ(silence.size(), 300u + 242u);
    EXPECT_TRUE(silence[300] == 0 && silence.back() == 241);
}

TEST_F(ModalSessionTest, AResultEndsTheWaitWithoutATimeOut) {
    ModalSession* sessionPtr = nullptr;
    ModalSession session(&dialog_, 1ms,
                         {.progress =
                              [&](float v) {
                                  progress_.push_back(v);
                                  if (progress_.size() == 3) {
                                      postFromAnotherThread(inbox_,
                                                            [&] { sessionPtr->stopModal(); });
                                  }
                              },
                          .timeout = [this] { ++timeouts_; }});
    sessionPtr = &session;
    session.begin();
    session.run();
    EXPECT_TRUE(session.stopRequested());
    EXPECT_FALSE(session.timedOut());
    EXPECT_EQ(timeouts_, 0);
    // The stop ran in the poll after pass 2, or in the next one if a tick came first.
    EXPECT_GE(session.passes(), 3);
    EXPECT_LE(session.passes(), 4);
}

TEST_F(ModalSessionTest, AResultAlreadyWaitingEndsTheWaitAtTheFirstPoll) {
    ModalSession session(&dialog_, 1ms,
                         {.progress = [this](float v) { progress_.push_back(v); },
                          .timeout = [this] { ++timeouts_; }});
    postFromAnotherThread(inbox_, [&] { session.stopModal(); });
    session.begin();
    session.run();
    EXPECT_EQ(session.passes(), 0);
    EXPECT_TRUE(progress_.empty());

    // A stop requested before the wait keeps it from starting too.
    ModalSession stopped(&dialog_, 1ms, {.progress = [this](float v) { progress_.push_back(v); }});
    stopped.stopModal();
    stopped.run();
    EXPECT_EQ(stopped.passes(), 0);
    EXPECT_TRUE(progress_.empty());
}

TEST_F(ModalSessionTest, AResultArrivingInTheTimeOutPassIsStillTaken) {
    bool resultTaken = false;
    ModalSession session(&dialog_, 1ms, {.timeout = [&] {
        ++timeouts_;
        postFromAnotherThread(inbox_, [&] { resultTaken = true; });
    }});
    session.begin();
    session.run();
    EXPECT_EQ(timeouts_, 1);
    EXPECT_TRUE(resultTaken);
}

TEST_F(ModalSessionTest, TheWindowIsTheOnlyOneTakingInputAndKeepsRepainting) {
    QWidget other;
    other.show();
    CountPaints spinnerPaints;
    ASSERT_TRUE(dialog_.spinIndicator());
    dialog_.spinIndicator()->installEventFilter(&spinnerPaints);
    EXPECT_NE(dialog_.spinIndicator()->maximum(), 0) << "turning before the window loaded";

    bool modalSeen = false;
    ModalSession* sessionPtr = nullptr;
    ModalSession session(&dialog_, 10ms, {.progress = [&](float) {
        modalSeen = QApplication::activeModalWidget() == &dialog_;
        // The busy indicator animates by itself: let it be drawn a
        // few times, then end the wait.
        if (spinnerPaints.paints >= 3) {
            sessionPtr->stopModal();
        }
    }});
    sessionPtr = &session;
    session.begin();
    EXPECT_TRUE(dialog_.isWindowLoaded());
    EXPECT_EQ(dialog_.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog_.spinIndicator()->minimum(), 0);
    EXPECT_EQ(dialog_.spinIndicator()->maximum(), 0); // the busy indicator
    session.run();
    EXPECT_TRUE(modalSeen);
    EXPECT_FALSE(session.timedOut())
        << "the spinner was drawn only " << spinnerPaints.paints << " times";
    EXPECT_GE(spinnerPaints.paints, 3);
    // Escape or the close button do not end the window; only the update does.
    dialog_.reject();
    EXPECT_TRUE(dialog_.isVisible());
    session.end();
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ModalSessionTest, TheBarSpansTheFractionsZeroToOne) {
    const QPointer<QProgressBar> bar = dialog_.progressBar();
    ASSERT_TRUE(bar);
    dialog_.setProgressValue(0.0f);
    EXPECT_EQ(bar->value(), bar->minimum());
    dialog_.setProgressValue(70.0f / 140.0f);
    EXPECT_EQ(bar->value(), (bar->minimum() + bar->maximum()) / 2);
    dialog_.setProgressValue(140.0f / 140.0f);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(dialog_.progressValue(), 1.0f);
}

} // namespace
