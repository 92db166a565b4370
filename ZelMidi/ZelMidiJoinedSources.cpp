#include "ZelMidiJoinedSources.h"

#include <algorithm>
#include <utility>

void ZelMidiJoinedSources::join(const std::shared_ptr<ZelMidiSource>& source) {
    if (source == nullptr) {
        return;
    }
    std::erase_if(joined_, [](const auto& weak) { return weak.expired(); });
    if (std::ranges::none_of(joined_, [&](const auto& weak) { return weak.lock() == source; })) {
        joined_.push_back(source);
    }
    source->addDelegate(receiver_);
}

void ZelMidiJoinedSources::leaveAll() {
    for (const auto& weak : std::exchange(joined_, {})) {
        if (const auto source = weak.lock()) {
            source->removeDelegate(receiver_.get());
        }
    }
}
