#include "MidiGadget.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kGadget = "/sys/kernel/config/usb_gadget/vq320";
constexpr auto kCardId = "vq320gadget"; // the gadget-side card, found by this id

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.flush();
    return static_cast<bool>(file);
}

bool makeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

MidiGadget::MidiGadget(std::string controller, std::function<void(const std::string&)> log)
    : controller_(std::move(controller)), log_(std::move(log)) {}

MidiGadget::~MidiGadget() {
    unplug();
    remove();
}

bool MidiGadget::create() {
    remove(); // what an earlier run may have left
    const std::string strings = kGadget + "/strings/0x409";
    const std::string config = kGadget + "/configs/c.1";
    const std::string function = kGadget + "/functions/midi.usb0";
    const bool made =
        makeDirectory(kGadget) && writeFile(kGadget + "/idVendor", "0x1209") &&
        writeFile(kGadget + "/idProduct", "0x0320") && writeFile(kGadget + "/bcdUSB", "0x0200") &&
        makeDirectory(strings) && writeFile(strings + "/manufacturer", "Mirt") &&
        writeFile(strings + "/product", "MIRT VQ320") &&
        writeFile(strings + "/serialnumber", "VQ320EMULATED") && makeDirectory(config) &&
        makeDirectory(config + "/strings/0x409") &&
        writeFile(config + "/strings/0x409/configuration", "MIDI") && makeDirectory(function) &&
        writeFile(function + "/id", kCardId) &&
        (symlink(function.c_str(), (config + "/midi.usb0").c_str()) == 0 || errno == EEXIST);
    if (!made) {
        log_("ERROR cannot create the MIDI gadget in " + kGadget + ": " + std::strerror(errno));
        return false;
    }
    created_ = true;
    return true;
}

void MidiGadget::remove() {
    if (access(kGadget.c_str(), F_OK) != 0) {
        return;
    }
    writeFile(kGadget + "/UDC", "\n");
    unlink((kGadget + "/configs/c.1/midi.usb0").c_str());
    rmdir((kGadget + "/configs/c.1/strings/0x409").c_str());
    rmdir((kGadget + "/configs/c.1").c_str());
    rmdir((kGadget + "/functions/midi.usb0").c_str());
    rmdir((kGadget + "/strings/0x409").c_str());
    rmdir(kGadget.c_str());
    created_ = false;
}

bool MidiGadget::plugIn() {
    if (!created_ && !create()) {
        return false;
    }
    if (!writeFile(kGadget + "/UDC", controller_)) {
        log_("ERROR cannot bind the MIDI gadget to " + controller_ + ": " + std::strerror(errno));
        return false;
    }
    return openRawMidi();
}

bool MidiGadget::openRawMidi() {
    const int card = snd_card_get_index(kCardId);
    if (card < 0) {
        log_(std::string("ERROR the gadget's sound card ") + kCardId + " did not appear");
        return false;
    }
    const std::string name = "hw:" + std::to_string(card) + ",0";
    const int err = snd_rawmidi_open(&input_, nullptr, name.c_str(), SND_RAWMIDI_NONBLOCK);
    if (err < 0) {
        log_("ERROR cannot open " + name + ": " + snd_strerror(err));
        input_ = nullptr;
        return false;
    }
    partial_.clear();
    complete_.clear();
    inSysEx_ = false;
    return true;
}

void MidiGadget::unplug() {
    if (input_) {
        snd_rawmidi_close(input_);
        input_ = nullptr;
    }
    if (created_) {
        writeFile(kGadget + "/UDC", "\n");
    }
}

bool MidiGadget::nextSysEx(int stopFd, std::vector<unsigned char>& message) {
    if (!complete_.empty()) {
        message = std::move(complete_.front());
        complete_.pop_front();
        return true;
    }
    if (!input_) {
        return false;
    }
    const int count = snd_rawmidi_poll_descriptors_count(input_);
    std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
    fds[0] = {stopFd, POLLIN, 0};
    snd_rawmidi_poll_descriptors(input_, fds.data() + 1, static_cast<unsigned>(count));
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[0].revents != 0) {
            return false;
        }
        unsigned char buffer[256];
        const ssize_t n = snd_rawmidi_read(input_, buffer, sizeof buffer);
        if (n == -EAGAIN) {
            continue;
        }
        if (n < 0) {
            log_(std::string("ERROR reading the gadget's raw MIDI: ") +
                 snd_strerror(static_cast<int>(n)));
            return false;
        }
        for (ssize_t i = 0; i < n; ++i) {
            take(buffer[i]);
        }
        if (!complete_.empty()) {
            message = std::move(complete_.front());
            complete_.pop_front();
            return true;
        }
    }
}

void MidiGadget::take(unsigned char byte) {
    if (byte == 0xF0) {
        partial_.assign(1, byte);
        inSysEx_ = true;
    } else if (inSysEx_ && byte == 0xF7) {
        partial_.push_back(byte);
        complete_.push_back(std::move(partial_));
        partial_.clear();
        inSysEx_ = false;
    } else if (inSysEx_ && byte < 0x80) {
        partial_.push_back(byte);
    } else if (byte < 0xF8) {
        inSysEx_ = false; // any other status ends a SysEx; real-time bytes do not
    }
}
