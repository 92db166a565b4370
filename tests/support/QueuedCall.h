// A queued call onto another thread's event loop that ThreadSanitizer can follow. Qt hands a
// queued call over under its own event-queue mutex, which TSan cannot see (Qt is not
// instrumented), so the receiving thread's use and deletion of the call look unsynchronised with
// its creation. Here the sender holds one more lock while it queues the call, and the call takes
// it before it runs: the same hand-over, now visible.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <mutex>
#include <utility>

namespace queuedcall {

inline std::recursive_mutex& handover() {
    static std::recursive_mutex m;
    return m;
}

template <typename Work> void post(QObject* context, Work work) {
    const std::lock_guard lock(handover());
    QMetaObject::invokeMethod(
        context,
        [work = std::move(work)]() mutable {
            { const std::lock_guard seen(handover()); }
            work();
        },
        Qt::QueuedConnection);
}

} // namespace queuedcall
