// Tests that talk to the kernel sequencer straight through libasound share these: an owned
// handle, opening a named client, and waiting for an event with a bound, never a fixed sleep.
#pragma once

#include <alsa/asoundlib.h>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <vector>

namespace seqtest {

using Clock = std::chrono::steady_clock;
// Upper bound of each wait; the kernel answers in microseconds, even under emulation.
inline constexpr std::chrono::milliseconds kWaitLimit{10000};

struct SeqClose {
    void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using Seq = std::unique_ptr<snd_seq_t, SeqClose>;

inline int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A non-blocking duplex client with the given name; null (and a test failure) without one.
inline Seq openSeq(const char* name) {
    snd_seq_t* seq = nullptr;
    const int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    EXPECT_EQ(err, 0) << "snd_seq_open: " << snd_strerror(err);
    if (err < 0) {
        return nullptr;
    }
    snd_seq_set_client_name(seq, name);
    return Seq(seq);
}

// The first event for which `matches` holds; others are read and skipped.
template <typename Matches>
std::optional<snd_seq_event_t> waitForEvent(snd_seq_t* seq, Matches&& matches) {
    const auto deadline = Clock::now() + kWaitLimit;
    std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(seq, POLLIN)));
    snd_seq_poll_descriptors(seq, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    for (;;) {
        snd_seq_event_t* ev = nullptr;
        const int got = snd_seq_event_input(seq, &ev);
        if (got >= 0 && ev != nullptr) {
            if (matches(*ev)) {
                return *ev;
            }
            continue;
        }
        if (got != -EAGAIN) {
            ADD_FAILURE() << "snd_seq_event_input: " << snd_strerror(got);
            return std::nullopt;
        }
        const int wait = remainingMs(deadline);
        if (wait == 0 || poll(fds.data(), fds.size(), wait) <= 0) {
            return std::nullopt;
        }
    }
}

} // namespace seqtest
