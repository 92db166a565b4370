// Preloaded into a Qt Widgets program (LD_PRELOAD), ends it the moment its first window has been
// painted, so that the time from exec to exit is the start-up to the first frame, for any
// program, unchanged. The exit skips teardown: only the start-up is measured.
#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>
#include <unistd.h>

namespace {

class FirstFrame : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && widget->window()->isVisible()) {
                seen_ = true;
                // Queued: runs once the paint and the flush to the window have finished.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [] { ::_exit(0); }, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    bool seen_ = false;
};

void installProbe() {
    QCoreApplication::instance()->installEventFilter(new FirstFrame);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
