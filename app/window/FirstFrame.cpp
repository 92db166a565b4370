#include "FirstFrame.h"

#include <QEvent>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>
#include <utility>

namespace {

// Lives as the window's child; it goes with the window, and with it the work not yet done.
class FirstFrameWatch : public QObject {
public:
    FirstFrameWatch(QWidget& window, std::function<void()> work, std::chrono::milliseconds wait)
        : QObject(&window), work_(std::move(work)) {
        window.installEventFilter(this);
        QTimer::singleShot(wait, this, [this] { run(); });
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            // Queued: the children are painted and the frame flushed before it runs.
            QMetaObject::invokeMethod(
                this, [this] { run(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void run() {
        if (!work_) {
            return;
        }
        const std::function<void()> work = std::exchange(work_, nullptr);
        parent()->removeEventFilter(this);
        deleteLater();
        work();
    }

    std::function<void()> work_;
};

} // namespace

void runAfterFirstFrame(QWidget& window, std::function<void()> work,
                        std::chrono::milliseconds longestWait) {
    new FirstFrameWatch(window, std::move(work), longestWait);
}
