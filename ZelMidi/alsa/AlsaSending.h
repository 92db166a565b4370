// MIDI out of this process: packet lists become sequencer events, written with the room checks
// and the pacing of the client.
#pragma once

#include "MidiService.h"

namespace alsa {

class Client;

// From our output port to one destination, subscribed first so that a hardware port stays open.
OSStatus sendToDestination(Client& client, int fromPort, int toClient, int toPort,
                           const MIDIPacketList* list);

// From our virtual source to every subscriber.
OSStatus publishFromSource(Client& client, int sourcePort, const MIDIPacketList* list);

// Drops what is still scheduled for the destination, asked through `client`.
OSStatus flushDestination(Client& client, int toClient, int toPort);

} // namespace alsa
