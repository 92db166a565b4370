// A stand-in for the mixer on the ALSA sequencer: a client and one bidirectional port named the
// way a USB-MIDI mixer's are. It prints "READY <client>:<port>", then one line per complete SysEx
// it receives ("RECEIVED f0 60 07 10 4d f7"), and goes away when its standard input closes.
#include <alsa/asoundlib.h>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void printReceived(const std::vector<unsigned char>& message) {
    std::string line = "RECEIVED";
    char hex[4];
    for (unsigned char b : message) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        line += hex;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main() {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        std::fprintf(stderr, "stand-in mixer: no sequencer\n");
        return 2;
    }
    snd_seq_set_client_name(seq, "MIRT VQ320");
    const int port =
        snd_seq_create_simple_port(seq, "MIRT VQ320 MIDI 1",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
    if (port < 0) {
        std::fprintf(stderr, "stand-in mixer: no port\n");
        return 2;
    }
    std::printf("READY %d:%d\n", snd_seq_client_id(seq), port);
    std::fflush(stdout);

    const int seqFds = snd_seq_poll_descriptors_count(seq, POLLIN);
    std::vector<pollfd> fds(static_cast<size_t>(seqFds) + 1);
    fds[0] = {STDIN_FILENO, POLLIN, 0};
    snd_seq_poll_descriptors(seq, fds.data() + 1, static_cast<unsigned>(seqFds), POLLIN);

    std::vector<unsigned char> sysex;
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            break;
        }
        if (fds[0].revents != 0) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
                break; // the test let go of us: unplug
            }
        }
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(seq, &event) >= 0 && event != nullptr) {
            if (event->type != SND_SEQ_EVENT_SYSEX) {
                continue;
            }
            const auto* bytes = static_cast<const unsigned char*>(event->data.ext.ptr);
            sysex.insert(sysex.end(), bytes, bytes + event->data.ext.len);
            if (!sysex.empty() && sysex.back() == 0xF7) {
                printReceived(sysex);
                sysex.clear();
            }
        }
    }
    snd_seq_delete_simple_port(seq, port);
    snd_seq_close(seq);
    return 0;
}
