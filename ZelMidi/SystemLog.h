// The system log: one plain line per call, to standard error and to syslog(3).
#pragma once

#include "MidiService.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

// Writes one line. Safe from any thread.
void systemLog(const QString& line);

// After a platform call: a nonzero status writes "Error (<label>): <status>:<description>",
// the status printed as a signed 64-bit number; 0 writes nothing.
void logStatusError(OSStatus status, const char* label);

// The description of a platform status, naming the Mach error domain and the code.
QString machErrorDescription(OSStatus status);

// Collects every line written while it exists (lines still go to the log too). For tests.
class SystemLogCapture {
public:
    SystemLogCapture();
    ~SystemLogCapture();
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

    QStringList lines() const;
    void clear();

private:
    friend void systemLog(const QString& line);
    void append(const QString& line);

    mutable std::mutex mutex_;
    QStringList lines_;
};
