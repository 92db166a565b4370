// Checks a firmware file before anything is sent to the mixer, as strictly as the flasher reads
// it (dfu-util -a 0 with a DfuSe file): a DFU signature at its end (length, CRC-32, 0483:df11 or
// the 0xFFFF wildcard, DFU version 1.1a), a DfuSe header, targets all for alternate setting 0,
// elements that are not empty and do not overlap, and sizes that agree with the file. Once the
// loader is known, `fitProblem` tells whether the image lies in the memory it can write. Pure but
// for reading the file.
#pragma once

#include "DfuseImage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringView>
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
        DfuseImage image;
    };

    // Reads the file once; `bytesRead`, when given, receives the bytes checked.
    static Result checkFile(const QString& path, QByteArray* bytesRead = nullptr);
    static Result checkBytes(std::span<const uint8_t> bytes);

    // Empty when every element of `image` lies in writable memory of the loader whose alternate
    // setting 0 is named `memoryDescription` (see DfuseMemoryLayout); otherwise why the file does
    // not fit this device.
    static QString fitProblem(const DfuseImage& image, QStringView memoryDescription);
};
