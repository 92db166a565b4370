// Lookups of the session's connections by endpoint name. Names match exactly: same characters,
// same case, nothing trimmed; a missing name matches nothing.
#include "ZelMidi.h"

namespace {

template <typename List>
typename List::value_type findCalled(const List& list, const QString& name) {
    if (name.isNull()) {
        return nullptr;
    }
    for (const auto& connection : list) {
        if (!connection->name().isNull() && connection->name() == name) {
            return connection;
        }
    }
    return nullptr;
}

} // namespace

std::shared_ptr<ZelMidiSource> ZelMidi::findSourceCalled(const QString& name) const {
    return findCalled(sources_, name);
}

std::shared_ptr<ZelMidiDestination> ZelMidi::findDestinationCalled(const QString& name) const {
    return findCalled(destinations_, name);
}

void ZelMidi::findMatchingSourceAndDestination(std::shared_ptr<ZelMidiSource>* outSource,
                                               std::shared_ptr<ZelMidiDestination>* outDestination,
                                               const QStringList* avoidNames) const {
    if (outSource != nullptr) {
        outSource->reset();
    }
    if (outDestination != nullptr) {
        outDestination->reset();
    }
    for (const auto& source : sources_) {
        if (source->isNetworkSession()) {
            continue;
        }
        if (avoidNames != nullptr && avoidNames->contains(source->name(), Qt::CaseSensitive)) {
            continue;
        }
        if (auto destination = findDestinationCalled(source->name())) {
            if (outSource != nullptr) {
                *outSource = source;
            }
            if (outDestination != nullptr) {
                *outDestination = std::move(destination);
            }
            return;
        }
    }
}

void ZelMidi::findMatchingSourceAndDestination(
    std::shared_ptr<ZelMidiSource>* outSource,
    std::shared_ptr<ZelMidiDestination>* outDestination) const {
    findMatchingSourceAndDestination(outSource, outDestination, nullptr);
}
