#include "ModalSession.h"

#include <QCoreApplication>
#include <QTimer>
#include <utility>

ModalSession::ModalSession(QWidget* window, std::chrono::milliseconds passPeriod, Handlers handlers,
                           QObject* parent)
    : QEventLoop(parent), window_(window), passPeriod_(passPeriod), handlers_(std::move(handlers)) {
}

ModalSession::~ModalSession() = default;

void ModalSession::begin() {
    if (window_ == nullptr) {
        return;
    }
    window_->setWindowModality(Qt::ApplicationModal);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void ModalSession::run() {
    // The first poll: a result already posted ends the wait before any pass.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (stopRequested_) {
        return;
    }
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(passPeriod_);
    connect(&timer, &QTimer::timeout, this, &ModalSession::pass);
    timer.start();
    running_ = true;
    exec();
    running_ = false;
    timer.stop();
    if (timedOut_) {
        // The poll that follows the time-out step: a result waiting here still decides.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void ModalSession::stopModal() {
    stopRequested_ = true;
    if (running_) {
        quit();
    }
}

void ModalSession::end() {
    if (window_ != nullptr) {
        window_->hide();
    }
}

void ModalSession::pass() {
    if (stopRequested_) {
        return; // a tick already queued when the stop came
    }
    const int c = counter_;
    if (handlers_.heard && handlers_.heard()) {
        silent_ = 0;
    }
    if (c <= kProgressSteps && handlers_.progress) {
        handlers_.progress(static_cast<float>(c) / static_cast<float>(kProgressSteps));
    }
    if (handlers_.silence) {
        handlers_.silence(silent_);
    }
    if (silent_ > kTimeoutThreshold) {
        timedOut_ = true;
        stopModal();
        if (handlers_.timeout) {
            handlers_.timeout();
        }
    }
    counter_ = c + 1;
    ++silent_;
}
