#include "SealedImage.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QString failure(const char* step) {
    return QCoreApplication::translate(
               "SealedImage", "The firmware could not be prepared for the flasher (%1: %2).")
        .arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

} // namespace

std::unique_ptr<SealedImage> SealedImage::create(std::span<const uint8_t> bytes, QString* problem) {
    int fd = ::memfd_create("vq320-firmware", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *problem = failure("memfd_create");
        return nullptr;
    }
    if (fd <= STDERR_FILENO) {
        // The flasher's standard streams take 0..2 in its process: keep clear of them.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        if (moved < 0) {
            *problem = failure("fcntl");
            return nullptr;
        }
        fd = moved;
    }
    std::unique_ptr<SealedImage> image(new SealedImage(fd));
    if (!writeAll(fd, bytes)) {
        *problem = failure("write");
        return nullptr;
    }
    if (::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        *problem = failure("F_ADD_SEALS");
        return nullptr;
    }
    return image;
}

SealedImage::~SealedImage() {
    ::close(fd_);
}

QString SealedImage::path() const {
    // /dev/fd is the device manager's link to /proc/self/fd; a bare /dev (a container, a rescue
    // system) may lack it, and the flasher would then find no file.
    const char* dir = ::access("/dev/fd", F_OK) == 0 ? "/dev/fd" : "/proc/self/fd";
    return QLatin1String(dir) + QLatin1Char('/') + QString::number(fd_);
}
