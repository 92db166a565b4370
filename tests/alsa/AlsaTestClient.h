// Another program on the sequencer, written directly on libasound, and the rawmidi devices of
// snd-virmidi: what the kernel tests talk to.
#pragma once

#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

class TestSequencerClient {
public:
    // `inputPool`: the cells its input can hold (the kernel's default is 200).
    explicit TestSequencerClient(const char* name, int inputPool = 2000);
    ~TestSequencerClient();
    bool ok() const { return seq_ != nullptr; }
    int id() const { return id_; }

    // A port others can read from and write to (a source and a destination).
    int createDuplexPort(const char* name);
    int createSourcePort(const char* name);
    // A destination whose input a reader thread collects (SysEx payloads and other MIDI bytes).
    int createCollectingPort(const char* name);
    int deletePort(int port);

    // Sends bytes as SysEx events of at most `chunk` bytes, to a port or to the subscribers
    // (toClient < 0). Before each event it waits until `paceClient`'s input pool has room, as a
    // careful sender does (no pacing when paceClient < 0).
    int sendSysEx(int fromPort, int toClient, int toPort, const Bytes& bytes, size_t chunk,
                  int paceClient = -1);
    int sendNote(int fromPort, int toClient, int toPort, uint8_t note);
    // Notes to the subscribers, each tried once: how many the kernel refused (a full receiver).
    int floodNotes(int fromPort, int count);
    int subscribeTo(int myPort, int client, int port);

    // The collecting port's reader rests this long after each read, so its pool stays busy.
    void setReadPause(std::chrono::microseconds pause) { readPause_ = pause; }
    // The free cells in another client's input pool (-1 when there is none to ask about).
    int freeCellsOf(int client);

    // What the collecting port received so far.
    Bytes collected();
    bool waitCollected(size_t size, int timeoutMs);

private:
    void readLoop();
    snd_seq_t* seq_ = nullptr;
    int id_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<std::chrono::microseconds> readPause_{};
    std::mutex mutex_;
    std::condition_variable grew_;
    Bytes collected_;
};

// The first snd-virmidi rawmidi device: its path and the sequencer client it belongs to.
struct VirtualRawMidi {
    std::string path;
    int card = -1;
    int device = -1;
};
std::vector<VirtualRawMidi> findVirtualRawMidi();

// Reads from a rawmidi device until `size` bytes arrived or the time is up.
Bytes readRawMidi(int fd, size_t size, int timeoutMs);
