// The notices of one client: each batch of announcements its receive thread hands over becomes
// added and removed notices for the client's listener, by comparing what the listener was told
// with one fresh read of the kernel's ports.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaEndpointDiff.h"
#include "alsa/AlsaKnownPort.h"

#include <set>
#include <vector>

namespace alsa {

class Client;
class ClientRegistry;
class EndpointDirectory;
struct Announcement;

class Announcements {
public:
    Announcements(MIDINotifyProc notifyProc, void* notifyRefCon, const ClientRegistry& clients,
                  EndpointDirectory& directory);

    // Once the client is registered: what the listener may take as already there.
    void start();
    // On the thread that created the client, for each batch.
    void handle(Client& client, const std::vector<Announcement>& batch);

private:
    struct Summary {
        AnnouncedExits exits;
        std::set<uint32_t> named; // ports that started, changed or left
        bool foreign = false;     // announces a port of another program
        bool overrun = false;     // announcements were lost
    };
    Summary summarise(const std::vector<Announcement>& batch) const;
    // What the listener is to be told now: after an overflow a whole read of the kernel's ports;
    // otherwise what it was told, with the ports the batch names asked again.
    PortSnapshot readChanges(Client& client, const Summary& summary, const PortSnapshot& before);
    // False once the client stopped (a notice handler disposed it).
    bool notifyAll(Client& client, const std::vector<EndpointChange>& changes, size_t begin,
                   size_t end) const;
    void notify(MIDINotificationMessageID id, MIDIObjectRef child, MIDIObjectType childType) const;
    static void forgetExits(Client& client, const AnnouncedExits& exits);

    const MIDINotifyProc notifyProc_;
    void* const notifyRefCon_;
    const ClientRegistry& clients_;
    EndpointDirectory& directory_;
    PortSnapshot told_; // what the listener was told: only touched on the creating thread
};

} // namespace alsa
