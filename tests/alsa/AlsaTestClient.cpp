#include "AlsaTestClient.h"

#include "alsa/AlsaFlow.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <unistd.h>

TestSequencerClient::TestSequencerClient(const char* name, int inputPool) {
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        seq_ = nullptr;
        return;
    }
    id_ = snd_seq_client_id(seq_);
    snd_seq_set_client_name(seq_, name);
    snd_seq_set_input_buffer_size(seq_, 128 * 1024);
    snd_seq_set_client_pool_input(seq_, static_cast<size_t>(inputPool));
}

TestSequencerClient::~TestSequencerClient() {
    stop_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
    if (seq_ != nullptr) {
        snd_seq_close(seq_);
    }
}

int TestSequencerClient::createDuplexPort(const char* name) {
    return snd_seq_create_simple_port(seq_, name,
                                      SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
}

int TestSequencerClient::createSourcePort(const char* name) {
    return snd_seq_create_simple_port(
        seq_, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

int TestSequencerClient::createCollectingPort(const char* name) {
    const int port =
        snd_seq_create_simple_port(seq_, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port >= 0 && !reader_.joinable()) {
        reader_ = std::thread([this] { readLoop(); });
    }
    return port;
}

int TestSequencerClient::deletePort(int port) {
    return snd_seq_delete_port(seq_, port);
}

int TestSequencerClient::subscribeTo(int myPort, int client, int port) {
    return snd_seq_connect_from(seq_, myPort, client, port);
}

namespace {
int outputWithRetry(snd_seq_t* seq, snd_seq_event_t* ev) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        const int r = snd_seq_event_output_direct(seq, ev);
        if (r != -EAGAIN) {
            return r;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return -EAGAIN;
}
} // namespace

int TestSequencerClient::sendSysEx(int fromPort, int toClient, int toPort, const Bytes& bytes,
                                   size_t chunk, int paceClient) {
    pollfd fd{};
    snd_seq_poll_descriptors(seq_, &fd, 1, POLLIN);
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        const auto needed =
            static_cast<int>(alsa::cellsForEvent(std::min(chunk, bytes.size() - at)));
        for (int i = 0;
             paceClient >= 0 && i < 5000 && alsa::receiverFreeCells(fd.fd, paceClient) < needed;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        snd_seq_event_t ev{};
        ev.source.port = static_cast<unsigned char>(fromPort);
        if (toClient < 0) {
            snd_seq_ev_set_subs(&ev);
        } else {
            ev.dest.client = static_cast<unsigned char>(toClient);
            ev.dest.port = static_cast<unsigned char>(toPort);
        }
        snd_seq_ev_set_direct(&ev);
        const size_t n = std::min(chunk, bytes.size() - at);
        snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(n),
                             const_cast<uint8_t*>(bytes.data() + at));
        if (const int r = outputWithRetry(seq_, &ev); r < 0) {
            return r;
        }
    }
    return 0;
}

int TestSequencerClient::sendNote(int fromPort, int toClient, int toPort, uint8_t note) {
    snd_seq_event_t ev{};
    ev.source.port = static_cast<unsigned char>(fromPort);
    if (toClient < 0) {
        snd_seq_ev_set_subs(&ev);
    } else {
        ev.dest.client = static_cast<unsigned char>(toClient);
        ev.dest.port = static_cast<unsigned char>(toPort);
    }
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_noteon(&ev, 0, note, 100);
    return outputWithRetry(seq_, &ev);
}

int TestSequencerClient::floodNotes(int fromPort, int count) {
    int refused = 0;
    for (int i = 0; i < count; ++i) {
        snd_seq_event_t ev{};
        ev.source.port = static_cast<unsigned char>(fromPort);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_noteon(&ev, 0, 1, 100);
        refused += snd_seq_event_output_direct(seq_, &ev) < 0 ? 1 : 0;
    }
    return refused;
}

void TestSequencerClient::readLoop() {
    snd_midi_event_t* decoder = nullptr;
    snd_midi_event_new(64, &decoder);
    snd_midi_event_no_status(decoder, 1);
    std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
    snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    while (!stop_) {
        if (poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        snd_seq_event_t* ev = nullptr;
        while (snd_seq_event_input(seq_, &ev) >= 0 && ev != nullptr) {
            Bytes bytes;
            if (ev->type == SND_SEQ_EVENT_SYSEX) {
                const auto* p = static_cast<const uint8_t*>(ev->data.ext.ptr);
                bytes.assign(p, p + ev->data.ext.len);
            } else {
                unsigned char buf[64];
                snd_midi_event_reset_decode(decoder);
                const long n = snd_midi_event_decode(decoder, buf, sizeof buf, ev);
                if (n > 0) {
                    bytes.assign(buf, buf + n);
                }
            }
            if (!bytes.empty()) {
                std::lock_guard lock(mutex_);
                collected_.insert(collected_.end(), bytes.begin(), bytes.end());
                grew_.notify_all();
            }
            if (snd_seq_event_input_pending(seq_, 0) == 0) {
                break;
            }
        }
        std::this_thread::sleep_for(readPause_.load());
    }
    snd_midi_event_free(decoder);
}

int TestSequencerClient::freeCellsOf(int client) {
    pollfd fd{};
    snd_seq_poll_descriptors(seq_, &fd, 1, POLLIN);
    return alsa::receiverFreeCells(fd.fd, client);
}

Bytes TestSequencerClient::collected() {
    std::lock_guard lock(mutex_);
    return collected_;
}

bool TestSequencerClient::waitCollected(size_t size, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return collected_.size() >= size; });
}

std::vector<VirtualRawMidi> findVirtualRawMidi() {
    std::vector<VirtualRawMidi> found;
    glob_t g{};
    if (glob("/dev/snd/midiC*D*", 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) {
            VirtualRawMidi v;
            v.path = g.gl_pathv[i];
            if (std::sscanf(v.path.c_str(), "/dev/snd/midiC%dD%d", &v.card, &v.device) == 2) {
                found.push_back(v);
            }
        }
    }
    globfree(&g);
    return found;
}

Bytes readRawMidi(int fd, size_t size, int timeoutMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < size && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            continue;
        }
        uint8_t buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        }
    }
    return out;
}
