#include "MainThreadTeardown.h"

#include "MainThreadInbox.h"

#include <QCoreApplication>
#include <QThread>
#include <memory>
#include <mutex>

namespace {

std::mutex& inboxMutex() {
    static std::mutex m;
    return m;
}

// Left to the end of the process: a teardown may be handed over until its very end.
std::shared_ptr<MainThreadInbox>& inbox() {
    static auto* held = new std::shared_ptr<MainThreadInbox>;
    return *held;
}

bool onMainThread(const QCoreApplication* app) {
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace

void MainThreadTeardown::prepare() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!onMainThread(app)) {
        return;
    }
    std::lock_guard lock(inboxMutex());
    if (inbox() != nullptr) {
        return; // made once; once closed, the loop has ended for good
    }
    auto created = MainThreadInbox::create();
    // What was handed over until then runs on the main thread; later teardowns run where they are.
    QObject::connect(app, &QCoreApplication::aboutToQuit, app,
                     [created] { created->drainAndClose(); });
    inbox() = std::move(created);
}

void MainThreadTeardown::run(std::function<void()> teardown) {
    if (!onMainThread(QCoreApplication::instance())) {
        std::shared_ptr<MainThreadInbox> target;
        {
            std::lock_guard lock(inboxMutex());
            target = inbox();
        }
        if (target != nullptr && target->post(teardown)) {
            return;
        }
    }
    teardown();
}

void MainThreadTeardown::whenLoopEnds(QObject* context, std::function<void()> atLoopEnd) {
    if (QCoreApplication* app = QCoreApplication::instance(); onMainThread(app)) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, context, std::move(atLoopEnd));
    }
}
