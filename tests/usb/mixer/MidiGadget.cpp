#include "MidiGadget.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
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
    if (seq_) {
        snd_seq_close(seq_);
    }
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
    return openGadgetPort();
}

bool MidiGadget::openGadgetPort() {
    // The gadget's card is a sequencer client of its own; the updater under test subscribes
    // to it too (it lists every source), so it is read through the sequencer rather than by
    // opening its raw MIDI device, which only one reader can hold.
    const int card = snd_card_get_index(kCardId);
    if (card < 0) {
        log_(std::string("ERROR the gadget's sound card ") + kCardId + " did not appear");
        return false;
    }
    if (!seq_) {
        if (const int err = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, 0); err < 0) {
            log_(std::string("ERROR no sequencer: ") + snd_strerror(err));
            seq_ = nullptr;
            return false;
        }
        snd_seq_set_client_name(seq_, "Emulated mixer, gadget side");
        // Written to only by its own subscription: no SUBS_WRITE, so nobody else connects.
        port_ = snd_seq_create_simple_port(seq_, "gadget input", SND_SEQ_PORT_CAP_WRITE,
                                           SND_SEQ_PORT_TYPE_APPLICATION);
        if (port_ < 0) {
            log_(std::string("ERROR cannot create a port: ") + snd_strerror(port_));
            return false;
        }
    }
    snd_seq_client_info_t* info;
    snd_seq_client_info_alloca(&info);
    snd_seq_client_info_set_client(info, -1);
    while (snd_seq_query_next_client(seq_, info) >= 0) {
        if (snd_seq_client_info_get_card(info) == card) {
            const int client = snd_seq_client_info_get_client(info);
            if (const int err = snd_seq_connect_from(seq_, port_, client, 0); err < 0) {
                log_(std::string("ERROR cannot subscribe to the gadget's port: ") +
                     snd_strerror(err));
                return false;
            }
            partial_.clear();
            complete_.clear();
            inSysEx_ = false;
            return true;
        }
    }
    log_("ERROR the gadget's card has no sequencer client");
    return false;
}

void MidiGadget::unplug() {
    if (created_) {
        writeFile(kGadget + "/UDC", "\n");
    }
}

bool MidiGadget::nextSysEx(int stopFd, std::vector<unsigned char>& message) {
    if (!seq_) {
        return false;
    }
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
    fds[0] = {stopFd, POLLIN, 0};
    snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned>(count), POLLIN);
    while (complete_.empty()) {
        if (snd_seq_event_input_pending(seq_, 1) <= 0) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                return false;
            }
            if (fds[0].revents != 0) {
                return false;
            }
            if (snd_seq_event_input_pending(seq_, 1) <= 0) {
                continue;
            }
        }
        snd_seq_event_t* event = nullptr;
        if (snd_seq_event_input(seq_, &event) < 0 || !event) {
            continue;
        }
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            const auto* bytes = static_cast<const unsigned char*>(event->data.ext.ptr);
            for (unsigned i = 0; i < event->data.ext.len; ++i) {
                take(bytes[i]);
            }
        }
    }
    message = std::move(complete_.front());
    complete_.pop_front();
    return true;
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
