// The kernel's answer about ports: every port of every client, or one port.
#pragma once

#include "alsa/AlsaKnownPort.h"

#include <utility>
#include <vector>

namespace alsa {

class Client;

// Every port of every client but System, in the kernel's order, asked through `client`.
std::vector<std::pair<uint32_t, KnownPort>> queryAllPorts(Client& client);

// One port; false when the kernel does not know it (or it belongs to System).
bool queryPort(Client& client, int owner, int port, KnownPort* out);

} // namespace alsa
