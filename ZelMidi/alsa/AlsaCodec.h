// Raw MIDI bytes to sequencer events and back, and the packet lists the receive thread hands on.
#pragma once

#include "MidiService.h"

#include <alsa/asoundlib.h>
#include <functional>
#include <span>
#include <vector>

namespace alsa {

// Bytes to events. SysEx is carried by SYSEX events of at most `sysExChunk` bytes that point into
// the caller's bytes; a real-time byte inside a SysEx ends the current chunk, goes out as its own
// event and the SysEx goes on in the next chunk, so the order on the wire is kept. Everything else
// goes through the sequencer's MIDI parser (running status in the input is understood). A SysEx
// left open at the end of one call goes on in the next.
class EventEncoder {
public:
    static constexpr size_t kDefaultSysExChunk = 256;

    explicit EventEncoder(size_t sysExChunk = kDefaultSysExChunk);
    ~EventEncoder();
    EventEncoder(const EventEncoder&) = delete;
    EventEncoder& operator=(const EventEncoder&) = delete;

    bool valid() const { return parser_ != nullptr; }
    // Inside a SysEx whose F7 has not been encoded yet.
    bool inSysEx() const { return inSysEx_; }

    // The sink sees each event with its type, flags and data set (source, destination and queue
    // untouched); a negative sink result stops the encoding and is returned. Returns 0 otherwise.
    using Sink = std::function<int(snd_seq_event_t&)>;
    int encode(const uint8_t* bytes, size_t size, const Sink& sink);
    void reset();

    // Decides each SysEx chunk's length in place of the fixed one, just before the chunk is cut:
    // given the rest of its run [begin, runEnd) (up to and with the F7, a real-time byte or the
    // end of the bytes) and the end of the bytes being encoded. Returns the length (at most the
    // run's), or a negative errno, which stops the encoding and is returned.
    using ChunkSizer =
        std::function<long(const uint8_t* begin, const uint8_t* runEnd, const uint8_t* end)>;
    void setChunkSizer(ChunkSizer sizer) { sizer_ = std::move(sizer); }

private:
    int emitSysEx(const uint8_t* begin, const uint8_t* end, const Sink& sink);

    snd_midi_event_t* parser_ = nullptr;
    size_t sysExChunk_;
    ChunkSizer sizer_;
    const uint8_t* end_ = nullptr; // of the bytes being encoded
    bool inSysEx_ = false;
};

// Events to bytes, without running status: every message carries its status byte.
class EventDecoder {
public:
    EventDecoder();
    ~EventDecoder();
    EventDecoder(const EventDecoder&) = delete;
    EventDecoder& operator=(const EventDecoder&) = delete;

    // The event's MIDI bytes, valid until the next call and while the event lives; empty for an
    // event that carries no MIDI (announcements, subscriptions, ...).
    std::span<const uint8_t> decode(const snd_seq_event_t& event);

private:
    snd_midi_event_t* parser_ = nullptr;
    uint8_t bytes_[32] = {};
};

// Collects packets into one list and hands the list on when it is full or flushed. Each add()
// makes its own packet (several of at most 65535 bytes when longer); packets are never merged.
class PacketListBuilder {
public:
    using Deliver = std::function<void(const MIDIPacketList*)>;

    static constexpr size_t kDefaultCapacity = 128 * 1024;

    explicit PacketListBuilder(Deliver deliver, size_t capacity = kDefaultCapacity);

    void add(MIDITimeStamp time, const uint8_t* data, size_t size);
    void flush();
    bool empty() const;

private:
    MIDIPacketList* list() { return reinterpret_cast<MIDIPacketList*>(buffer_.data()); }
    void start();

    Deliver deliver_;
    std::vector<uint8_t> buffer_;
    MIDIPacketPtr last_ = nullptr;
};

} // namespace alsa
