#include "UsbipLoader.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// USB/IP commands and replies (all fields big-endian; every header is 48 bytes).
constexpr uint32_t kCmdSubmit = 1;
constexpr uint32_t kCmdUnlink = 2;
constexpr uint32_t kRetSubmit = 3;
constexpr uint32_t kRetUnlink = 4;
constexpr size_t kHeaderSize = 48;
constexpr uint32_t kDirectionIn = 1;
constexpr int kFullSpeed = 2;
constexpr int kPorts = 8;
constexpr uint32_t kDeviceId = 1u << 16 | 2; // bus 1, device 2: only a label for the kernel
constexpr int kStalled = -EPIPE;
// How long the loader still answers after the leave's status, before its reset takes it away.
constexpr auto kResetGrace = std::chrono::milliseconds(100);

using Header = std::array<uint8_t, kHeaderSize>;

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void putBe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

bool readAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeSysfs(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.flush();
    return static_cast<bool>(file);
}

} // namespace

UsbipLoader::UsbipLoader(DfuseDevice& device, std::string vhci, std::string layoutName,
                         Faults faults, std::function<void(const std::string&)> log)
    : device_(device), endpoint0_(device, std::move(layoutName), faults.vendor),
      vhci_(std::move(vhci)), faults_(faults), log_(std::move(log)) {}

int UsbipLoader::attach() {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        log_(std::string("ERROR socketpair: ") + std::strerror(errno));
        return -1;
    }
    // The kernel keeps its own reference to its end of the pair.
    for (int port = 0; port < kPorts; ++port) {
        const std::string line = std::to_string(port) + " " + std::to_string(sockets[0]) + " " +
                                 std::to_string(kDeviceId) + " " + std::to_string(kFullSpeed);
        if (writeSysfs(vhci_ + "/attach", line)) {
            port_ = port;
            close(sockets[0]);
            return sockets[1];
        }
    }
    log_("ERROR cannot attach to " + vhci_ + "/attach: " + std::strerror(errno));
    close(sockets[0]);
    close(sockets[1]);
    return -1;
}

void UsbipLoader::detach() {
    if (port_ >= 0) {
        writeSysfs(vhci_ + "/detach", std::to_string(port_));
        port_ = -1;
    }
}

bool UsbipLoader::serveCommand(int fd) {
    Header in{};
    if (!readAll(fd, in.data(), in.size())) {
        return false;
    }
    const uint32_t command = be32(&in[0]);
    const uint32_t seqnum = be32(&in[4]);
    Header out{};
    putBe32(&out[4], seqnum);
    if (command == kCmdUnlink) {
        // Every transfer is answered at once, so there is never one left to cancel.
        putBe32(&out[0], kRetUnlink);
        return writeAll(fd, out.data(), out.size());
    }
    if (command != kCmdSubmit) {
        log_("ERROR unknown USB/IP command " + std::to_string(command));
        return false;
    }
    const uint32_t direction = be32(&in[12]);
    const uint32_t endpoint = be32(&in[16]);
    const uint32_t length = be32(&in[24]);
    std::vector<uint8_t> outData;
    if (direction != kDirectionIn && length > 0) {
        if (length > 65536) {
            return false;
        }
        outData.resize(length);
        if (!readAll(fd, outData.data(), outData.size())) {
            return false;
        }
    }
    const uint8_t* s = &in[40];
    const SetupRequest request{s[0], s[1], static_cast<uint16_t>(s[2] | s[3] << 8),
                               static_cast<uint16_t>(s[4] | s[5] << 8),
                               static_cast<uint16_t>(s[6] | s[7] << 8)};
    LoaderEndpoint0::Reply reply{true, {}};
    if (endpoint == 0) {
        const bool configured = endpoint0_.configuration() != 0;
        reply = endpoint0_.handle(request, outData);
        if (!configured && endpoint0_.configuration() != 0) {
            log_("LOADER enumerated"); // the host has chosen its configuration
        }
    }
    if (faults_.trace) {
        char line[112];
        std::snprintf(line, sizeof line, "TRACE %02x %02x %04x %04x %u -> %s %zu state %d",
                      request.requestType, request.request, request.value, request.index,
                      request.length, reply.stalled ? "stall" : "ok",
                      direction == kDirectionIn ? reply.data.size() : outData.size(),
                      static_cast<int>(device_.state()));
        log_(line);
    }
    putBe32(&out[0], kRetSubmit);
    putBe32(&out[20], static_cast<uint32_t>(reply.stalled ? kStalled : 0));
    const auto actual = static_cast<uint32_t>(reply.stalled               ? 0
                                              : direction == kDirectionIn ? reply.data.size()
                                                                          : outData.size());
    putBe32(&out[24], actual);
    if (!writeAll(fd, out.data(), out.size())) {
        return false;
    }
    return direction != kDirectionIn || reply.stalled ||
           writeAll(fd, reply.data.data(), reply.data.size());
}

UsbipLoader::Ending UsbipLoader::run(int stopFd) {
    const int fd = attach();
    if (fd < 0) {
        return Ending::failed;
    }
    log_("LOADER plugged in");
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> resetAt;
    Ending ending = Ending::failed;
    for (;;) {
        int timeout = -1;
        if (resetAt) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*resetAt - Clock::now());
            if (left.count() <= 0) {
                ending = Ending::reset;
                break;
            }
            timeout = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            ending = Ending::stopped;
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        if (!serveCommand(fd)) {
            log_("ERROR the USB/IP connection failed");
            break;
        }
        if (!downloadReported_ && device_.dataBlocksWritten() > 0) {
            downloadReported_ = true;
            log_("DOWNLOAD started");
        }
        if (faults_.resetOnLeave && device_.leaveRequested()) {
            ending = Ending::reset; // gone before the host asks for the status
            break;
        }
        if (faults_.vanishAfterBlocks &&
            device_.dataBlocksWritten() >= *faults_.vanishAfterBlocks) {
            ending = Ending::vanished;
            break;
        }
        if (device_.leaveAnswered() && !resetAt) {
            resetAt = Clock::now() + kResetGrace;
        }
    }
    detach();
    close(fd);
    return ending;
}
