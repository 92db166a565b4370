// One receiver and the sources it joined, so that it leaves exactly those: a source it joined
// may have left the session's lists meanwhile (a failed disconnect keeps it routed) and still
// deliver. Leaving is a plain call; the sources hold the receiver until then, and a fan-out
// under way keeps it for its walk, so the receiver may be let go at any time afterwards.
#pragma once

#include "ZelMidiConnection.h"

#include <memory>
#include <vector>

class ZelMidiJoinedSources {
public:
    explicit ZelMidiJoinedSources(std::shared_ptr<ZelMidiSourceDelegate> receiver)
        : receiver_(std::move(receiver)) {}
    ~ZelMidiJoinedSources() { leaveAll(); }
    ZelMidiJoinedSources(const ZelMidiJoinedSources&) = delete;
    ZelMidiJoinedSources& operator=(const ZelMidiJoinedSources&) = delete;

    const std::shared_ptr<ZelMidiSourceDelegate>& receiver() const { return receiver_; }

    // Registers the receiver on `source` (once, however often it is joined).
    void join(const std::shared_ptr<ZelMidiSource>& source);
    // Removes it from every source joined so far that still exists.
    void leaveAll();

private:
    const std::shared_ptr<ZelMidiSourceDelegate> receiver_;
    std::vector<std::weak_ptr<ZelMidiSource>> joined_;
};
