#include "alsa/AlsaCodec.h"

#include <algorithm>

namespace alsa {

namespace {
constexpr uint8_t kSysExStart = 0xf0;
constexpr uint8_t kSysExEnd = 0xf7;
constexpr uint8_t kFirstRealTime = 0xf8;
} // namespace

EventEncoder::EventEncoder(size_t sysExChunk) : sysExChunk_(std::max<size_t>(sysExChunk, 1)) {
    if (snd_midi_event_new(16, &parser_) < 0) {
        parser_ = nullptr;
    }
}

EventEncoder::~EventEncoder() {
    if (parser_ != nullptr) {
        snd_midi_event_free(parser_);
    }
}

void EventEncoder::reset() {
    inSysEx_ = false;
    if (parser_ != nullptr) {
        snd_midi_event_reset_encode(parser_);
    }
}

int EventEncoder::emitSysEx(const uint8_t* begin, const uint8_t* end, const Sink& sink) {
    while (begin < end) {
        size_t n = std::min(static_cast<size_t>(end - begin), sysExChunk_);
        if (sizer_) {
            const long sized = sizer_(begin, end, end_);
            if (sized < 0) {
                return static_cast<int>(sized);
            }
            n = std::clamp(static_cast<size_t>(sized), size_t{1}, static_cast<size_t>(end - begin));
        }
        snd_seq_event_t ev{};
        // The event only reads the bytes; the sequencer's API takes them non-const.
        snd_seq_ev_set_sysex(&ev, static_cast<unsigned int>(n), const_cast<uint8_t*>(begin));
        if (const int r = sink(ev); r < 0) {
            return r;
        }
        begin += n;
    }
    return 0;
}

int EventEncoder::encode(const uint8_t* bytes, size_t size, const Sink& sink) {
    if (parser_ == nullptr) {
        return -ENOMEM;
    }
    const uint8_t* const end = bytes + size;
    end_ = end;
    const uint8_t* sysExFrom = inSysEx_ ? bytes : nullptr;
    for (const uint8_t* p = bytes; p < end; ++p) {
        const uint8_t b = *p;
        if (inSysEx_) {
            if (b < 0x80) {
                continue;
            }
            if (b == kSysExEnd) {
                inSysEx_ = false;
                if (const int r = emitSysEx(sysExFrom, p + 1, sink); r < 0) {
                    return r;
                }
                continue;
            }
            // A real-time byte interrupts the SysEx; any other status byte ends it unfinished.
            if (const int r = emitSysEx(sysExFrom, p, sink); r < 0) {
                return r;
            }
            if (b >= kFirstRealTime) {
                sysExFrom = p + 1;
            } else {
                inSysEx_ = false;
            }
        }
        if (b == kSysExStart) {
            inSysEx_ = true;
            sysExFrom = p;
            snd_midi_event_reset_encode(parser_);
            continue;
        }
        if (b == kSysExEnd) {
            continue; // an end without a start carries nothing
        }
        snd_seq_event_t ev{};
        if (snd_midi_event_encode_byte(parser_, b, &ev) == 1) {
            if (const int r = sink(ev); r < 0) {
                return r;
            }
        }
    }
    if (inSysEx_) {
        return emitSysEx(sysExFrom, end, sink);
    }
    return 0;
}

EventDecoder::EventDecoder() {
    if (snd_midi_event_new(sizeof bytes_, &parser_) < 0) {
        parser_ = nullptr;
        return;
    }
    snd_midi_event_no_status(parser_, 1);
}

EventDecoder::~EventDecoder() {
    if (parser_ != nullptr) {
        snd_midi_event_free(parser_);
    }
}

std::span<const uint8_t> EventDecoder::decode(const snd_seq_event_t& event) {
    if (event.type == SND_SEQ_EVENT_SYSEX) {
        const auto* data = static_cast<const uint8_t*>(event.data.ext.ptr);
        if (data == nullptr) {
            return {};
        }
        return {data, event.data.ext.len};
    }
    if (parser_ == nullptr) {
        return {};
    }
    snd_midi_event_reset_decode(parser_);
    // The decoder takes a non-const event but only reads it.
    const long n =
        snd_midi_event_decode(parser_, bytes_, sizeof bytes_, const_cast<snd_seq_event_t*>(&event));
    if (n <= 0) {
        return {};
    }
    return {bytes_, static_cast<size_t>(n)};
}

PacketListBuilder::PacketListBuilder(Deliver deliver, size_t capacity)
    : deliver_(std::move(deliver)),
      buffer_(std::max(capacity, kPacketListHeaderSize + kPacketHeaderSize + kMaxPacketDataSize)) {
    start();
}

void PacketListBuilder::start() {
    last_ = packetListInit(list(), buffer_.size());
}

bool PacketListBuilder::empty() const {
    return packetListCount(reinterpret_cast<const MIDIPacketList*>(buffer_.data())) == 0;
}

void PacketListBuilder::add(MIDITimeStamp time, const uint8_t* data, size_t size) {
    do {
        const size_t n = std::min(size, kMaxPacketDataSize);
        MIDIPacketPtr p = packetListAdd(list(), buffer_.size(), last_, time, n, data);
        if (p == nullptr) {
            flush();
            p = packetListAdd(list(), buffer_.size(), last_, time, n, data);
        }
        last_ = p;
        data += n;
        size -= n;
    } while (size > 0);
}

void PacketListBuilder::flush() {
    if (!empty()) {
        deliver_(list());
    }
    start();
}

} // namespace alsa
