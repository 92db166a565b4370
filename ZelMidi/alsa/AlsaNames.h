// What a user sees as an endpoint's name.
#pragma once

#include <QString>

namespace alsa {

// Combines the client name (the device, e.g. the USB product) with the port name without
// repeating what they share: the leading words of the port name that equal the leading words of
// the client name (case ignored) are dropped and the rest follows the client name after a space.
// A port name that starts with the whole client name is therefore used as it is.
QString composeDisplayName(const QString& clientName, const QString& portName);

} // namespace alsa
