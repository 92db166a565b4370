// Linked into the updater's own main (app/main.cpp) to make `vq_answered_updater`: the real
// program, its signal handling included, with a user who presses Send once it is enabled and
// the default button of every alert. It prints, one line each, "SEND" and "BOX <text>", so that
// a test in another process can follow it.
#include "AppDelegate.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void answerAsAUser() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return; // the command line's core application
    }
    auto* user = new QTimer(QCoreApplication::instance());
    auto* pressed = new bool(false);
    QObject::connect(user, &QTimer::destroyed, [pressed] { delete pressed; });
    QObject::connect(user, &QTimer::timeout, [pressed] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            // Answering hides it: a box seen visible again is shown anew (the replug request's
            // alert is reused for the outcome).
            if (box->isVisible()) {
                say(QStringLiteral("BOX ") + box->text());
                QAbstractButton* button = box->defaultButton();
                (button != nullptr ? button : box->buttons().first())->click();
            }
            return;
        }
        if (*pressed) {
            return;
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* send = window->findChild<QPushButton*>(QStringLiteral("sendFile"));
            if (send != nullptr && send->isEnabled() && send->isVisible()) {
                *pressed = true;
                say(QStringLiteral("SEND"));
                // Queued: the update's nested loops must not run inside this timer's call.
                QTimer::singleShot(0, send, [send] { send->click(); });
                return;
            }
        }
    });
    user->start(20);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(answerAsAUser)
