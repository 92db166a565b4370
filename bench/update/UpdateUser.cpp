// Linked into the updater's own main for the update benchmark: a user who presses Send once it is
// enabled and answers every alert as soon as it has been painted. For each alert it prints
// "SHOWN <show> <paint> <text>": when the alert was shown and first painted, in nanoseconds of
// CLOCK_MONOTONIC, the clock of the kernel's process events.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

long long now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class User : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box == nullptr) {
            return false;
        }
        if (event->type() == QEvent::Show) {
            shown_.insert(box, now());
        } else if (event->type() == QEvent::Paint && shown_.contains(box)) {
            say(QStringLiteral("SHOWN %1 %2 %3").arg(shown_.take(box)).arg(now()).arg(box->text()));
            // Queued: the click ends the alert's own loop, which must not end inside its paint.
            QTimer::singleShot(0, box, [box] {
                QAbstractButton* button = box->defaultButton();
                (button != nullptr ? button : box->buttons().first())->click();
            });
        }
        return false;
    }

    void pressSendOnceEnabled() {
        if (pressed_) {
            return;
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* send = window->findChild<QPushButton*>(QStringLiteral("sendFile"));
            if (send != nullptr && send->isEnabled() && send->isVisible()) {
                pressed_ = true;
                say(QStringLiteral("SEND"));
                QTimer::singleShot(0, send, [send] { send->click(); });
                return;
            }
        }
    }

private:
    QHash<QMessageBox*, long long> shown_;
    bool pressed_ = false;
};

void answerAsAUser() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return; // the command line's core application
    }
    auto* user = new User(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(user);
    auto* look = new QTimer(user);
    QObject::connect(look, &QTimer::timeout, user, &User::pressSendOnceEnabled);
    look->start(20);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(answerAsAUser)
