#include "QuitSignals.h"

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

// The write end, for the handler: it may run on any thread, at any moment.
std::atomic<int> writeEnd{-1};

extern "C" void onQuitSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    const int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readEnd_ = fds[0];
    writeEnd.store(fds[1]);
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::drain);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(signal, &action, nullptr);
        installed_.push_back(signal);
    }
}

QuitSignals::~QuitSignals() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (const int signal : installed_) {
        ::sigaction(signal, &fallback, nullptr);
    }
    notifier_.reset();
    const int fd = writeEnd.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
    if (readEnd_ >= 0) {
        ::close(readEnd_);
    }
}

void QuitSignals::drain() {
    unsigned char byte = 0;
    while (::read(readEnd_, &byte, 1) == 1) {
        emit received(byte);
    }
}
