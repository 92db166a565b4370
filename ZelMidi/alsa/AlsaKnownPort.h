// What the backend knows of the ports of other programs, by address.
#pragma once

#include <QString>
#include <cstdint>
#include <map>

namespace alsa {

// One port as the kernel last described it (names are kept, since a port that has gone can no
// longer be asked).
struct KnownPort {
    QString clientName;
    QString portName;
    bool kernel = false;      // its client is a kernel (hardware) client
    bool source = false;      // others may read from it and subscribe to it
    bool destination = false; // others may write to it and subscribe to it
};

// A port's address as one key, client << 8 | port, so that ordered keys follow the kernel's order
// (clients, then their ports).
inline constexpr uint32_t addressKey(int client, int port) {
    return (static_cast<uint32_t>(client) << 8) | static_cast<uint32_t>(port);
}
inline constexpr int keyClient(uint32_t key) {
    return static_cast<int>(key >> 8);
}
inline constexpr int keyPort(uint32_t key) {
    return static_cast<int>(key & 0xffu);
}

// Every port of the other programs at one moment, by address key.
using PortSnapshot = std::map<uint32_t, KnownPort>;

} // namespace alsa
