// Checks a firmware file before anything is sent to the mixer: a readable regular file with a
// valid DFU suffix (signature, length, CRC-32) for the mixer's loader (0483:df11, or the 0xFFFF
// wildcard), and, when it has a DfuSe prefix, a prefix whose image, target and element sizes
// agree with the file. Pure but for reading the file.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>

class DfuFileCheck {
    Q_DECLARE_TR_FUNCTIONS(DfuFileCheck)

public:
    // The mixer's loader, and the wildcard a suffix may hold instead.
    static constexpr uint16_t kVendor = 0x0483;
    static constexpr uint16_t kProduct = 0xDF11;
    static constexpr uint16_t kAny = 0xFFFF;
    // Larger files are no firmware for this mixer and are not read.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    struct Result {
        bool ok = false;
        QString problem; // what is wrong, for the user (empty when ok)
        QString summary; // what the file holds, for the user (when ok)
        bool dfuse = false;
        QString targetName; // the first target's name (DfuSe)
        int targets = 0;
        int elements = 0;
        uint64_t imageBytes = 0; // the bytes that will be written
    };

    static Result checkFile(const QString& path);
    static Result checkBytes(std::span<const uint8_t> bytes);
};
