// The mixer in MIDI mode: a configfs USB gadget with one MIDI function, product "MIRT VQ320",
// which the host's USB audio driver shows as client "MIRT VQ320", port "MIRT VQ320 MIDI 1". What
// the host sends arrives at the gadget's own ALSA card, read here through the sequencer.
#pragma once

#include <alsa/asoundlib.h>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class MidiGadget {
public:
    // `controller`: the device controller to bind to (dummy_udc.0).
    MidiGadget(std::string controller, std::function<void(const std::string&)> log);
    ~MidiGadget();
    MidiGadget(const MidiGadget&) = delete;
    MidiGadget& operator=(const MidiGadget&) = delete;

    // Creates the gadget (once) and binds it: the host sees a USB-MIDI device.
    bool plugIn();
    // Unbinds: the device leaves the bus.
    void unplug();

    // Waits for the next complete SysEx from the host, until `stopFd` is readable (returns
    // false). Other MIDI messages are skipped.
    bool nextSysEx(int stopFd, std::vector<unsigned char>& message);

private:
    bool create();
    void remove();
    bool openGadgetPort();
    void take(unsigned char byte);

    std::string controller_;
    std::function<void(const std::string&)> log_;
    bool created_ = false;
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    std::vector<unsigned char> partial_;
    std::deque<std::vector<unsigned char>> complete_;
    bool inSysEx_ = false;
};
