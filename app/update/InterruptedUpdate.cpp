#include "InterruptedUpdate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

InterruptedUpdate::InterruptedUpdate(QString stateDirectory) {
    if (stateDirectory.isEmpty()) {
        stateDirectory = defaultDirectory();
    }
    notePath_ = stateDirectory + QStringLiteral("/interrupted-update");
}

QString InterruptedUpdate::defaultDirectory() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/vq320-updater");
}

bool InterruptedUpdate::record(const QString& firmwarePath) {
    if (!QDir().mkpath(QFileInfo(notePath_).absolutePath())) {
        return false;
    }
    QSaveFile note(notePath_);
    if (!note.open(QIODevice::WriteOnly)) {
        return false;
    }
    // The firmware's path first; then when, for whoever reads the note by hand.
    note.write(firmwarePath.toUtf8() + '\n' +
               QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n');
    return note.commit();
}

void InterruptedUpdate::clear() {
    QFile::remove(notePath_);
}

std::optional<QString> InterruptedUpdate::recorded() const {
    QFile note(notePath_);
    if (!note.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return QString::fromUtf8(note.readLine(64 * 1024)).trimmed();
}
