// The wait of an update behind its progress window: the window is shown application-modal, so it
// is the only one taking input, and a local event loop runs one pass per period, so the window
// repaints and its spinner turns all along. A pass advances the progress and, once the flasher
// has been silent too long, ends it with a time-out. A stop request (the flasher's result) ends
// it too.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>

class ModalSession : public QEventLoop {
    Q_OBJECT
public:
    // Passes 0..kProgressSteps set the progress pass/kProgressSteps; the first pass that follows
    // more than kTimeoutThreshold passes without word from the flasher ends the wait with a
    // time-out (without a `heard` handler: the first pass whose counter is above it).
    static constexpr int kProgressSteps = 140;
    static constexpr int kTimeoutThreshold = 240;

    struct Handlers {
        std::function<void(float)> progress; // a fraction 0..1, single precision
        std::function<void()> timeout;       // once, in the pass that gives up
        std::function<bool()> heard;         // each pass: word from the flasher since the last?
        std::function<void(int)> silence;    // each pass: the passes without word so far
    };

    ModalSession(QWidget* window, std::chrono::milliseconds passPeriod, Handlers handlers,
                 QObject* parent = nullptr);
    ~ModalSession() override;

    // Shows the window as the only one that takes input.
    void begin();
    // Processes pending events and posted work once; then, unless a stop was requested, runs
    // passes until one is. After the time-out's stop request, pending work is processed once
    // more, so a result that arrived meanwhile is still taken.
    void run();
    // Main thread, at any time (before run, inside it, after it): the wait ends, or does not
    // start.
    void stopModal();
    // Hides the window.
    void end();

    bool stopRequested() const { return stopRequested_; }
    bool timedOut() const { return timedOut_; }
    // The counter: the number of passes run so far.
    int passes() const { return counter_; }
    // The passes run since the flasher last said anything.
    int silentPasses() const { return silent_; }

private:
    void pass();

    QPointer<QWidget> window_;
    std::chrono::milliseconds passPeriod_;
    Handlers handlers_;
    bool stopRequested_ = false;
    bool timedOut_ = false;
    bool running_ = false;
    int counter_ = 0;
    int silent_ = 0;
};
