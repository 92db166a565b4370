#include "SystemLog.h"

#include <cstdio>
#include <syslog.h>
#include <vector>

namespace {

std::mutex& capturesMutex() {
    static std::mutex m;
    return m;
}
std::vector<SystemLogCapture*>& captures() {
    static std::vector<SystemLogCapture*> c;
    return c;
}

} // namespace

void systemLog(const QString& line) {
    const QByteArray utf8 = line.toUtf8();
    std::fprintf(stderr, "%s\n", utf8.constData());
    syslog(LOG_USER | LOG_NOTICE, "%s", utf8.constData());
    std::lock_guard lock(capturesMutex());
    for (SystemLogCapture* c : captures()) {
        c->append(line);
    }
}

QString machErrorDescription(OSStatus status) {
    const QString description =
        QStringLiteral("Error Domain=NSMachErrorDomain Code=%1").arg(status);
    if (status == kMIDIMessagePartlyDeliveredErr) {
        return description + QStringLiteral(" \"SysEx partly delivered, closed with F7\"");
    }
    return description;
}

void logStatusError(OSStatus status, const char* label) {
    if (status == noErr) {
        return;
    }
    const auto widened = static_cast<int64_t>(status);
    systemLog(QStringLiteral("Error (%1): %2:%3")
                  .arg(QString::fromUtf8(label))
                  .arg(widened)
                  .arg(machErrorDescription(status)));
}

SystemLogCapture::SystemLogCapture() {
    std::lock_guard lock(capturesMutex());
    captures().push_back(this);
}

SystemLogCapture::~SystemLogCapture() {
    std::lock_guard lock(capturesMutex());
    std::erase(captures(), this);
}

QStringList SystemLogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void SystemLogCapture::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void SystemLogCapture::append(const QString& line) {
    std::lock_guard lock(mutex_);
    lines_.append(line);
}
