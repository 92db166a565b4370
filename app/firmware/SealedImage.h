// The checked firmware as the flasher is to read it: the bytes copied once into an anonymous
// memory file, sealed against every change (no write, no shrink, no growth, no unsealing). The
// flasher inherits its descriptor and opens it as /dev/fd/N, so a file replaced or changed on
// disk after the check is never what gets written.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <span>

class SealedImage {
public:
    // The sealed copy of `bytes`, or nullptr with `problem` set (for the user) when the system
    // gives no such file.
    static std::unique_ptr<SealedImage> create(std::span<const uint8_t> bytes, QString* problem);
    ~SealedImage();
    SealedImage(const SealedImage&) = delete;
    SealedImage& operator=(const SealedImage&) = delete;

    // Close-on-exec here; the flasher's spawn makes it inherited by the flasher alone.
    int descriptor() const { return fd_; }
    // "/dev/fd/N" (or "/proc/self/fd/N" where /dev/fd is missing): the name the flasher opens.
    QString path() const;

private:
    explicit SealedImage(int fd) : fd_(fd) {}
    int fd_;
};
