#include "FlasherOutputScanner.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

// The phrases, lower case. Their index is their bit in a state's output mask.
enum Phrase : uint8_t {
    kDone,
    kLeave,
    kNoDevice,
    kManyDevices,
    kOpenFailed,
    kAccessDenied,
    kOnlyDfuse,
    kNoSignature,
    kNotWriteable,
    kNoAlternate,
    kSkipping,
    kOwnLine,
    kErrorLine,
    kImageNotFound,
    kSharedLibraries,
};
constexpr std::string_view kPhrases[] = {
    "download done.",
    "submitting leave request...",
    "dfu-util: no dfu capable usb device available",
    "dfu-util: more than one dfu capable usb device found",
    "dfu-util: cannot open dfu device ",
    "(libusb_error_access)",
    "dfu-util: only dfuse file version 1.1a is supported",
    "dfu-util: no valid dfuse signature",
    " is not writeable",
    "dfu-util: no alternate setting ",
    " (skipping elements)",
    "dfu-util",
    "dfu-util:",
    "image not found",
    "error while loading shared libraries",
};
constexpr std::size_t kPhraseCount = std::size(kPhrases);
static_assert(kPhraseCount <= 32);
constexpr uint32_t bit(unsigned phrase) {
    return uint32_t{1} << phrase;
}

// For each line length, the phrases of that length: a phrase that ends there starts the line.
constexpr std::size_t kLongestPhrase = [] {
    std::size_t longest = 0;
    for (std::string_view phrase : kPhrases) {
        longest = phrase.size() > longest ? phrase.size() : longest;
    }
    return longest;
}();
constexpr std::array<uint32_t, kLongestPhrase + 1> kPhrasesOfLength = [] {
    std::array<uint32_t, kLongestPhrase + 1> masks{};
    for (std::size_t p = 0; p < kPhraseCount; ++p) {
        masks[kPhrases[p].size()] |= bit(static_cast<unsigned>(p));
    }
    return masks;
}();

constexpr unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// An Aho-Corasick automaton over all phrases with a full transition table: one table look-up
// per byte, whatever the input, so a long line of near-matches costs no more than any other.
struct Automaton {
    std::vector<std::array<uint16_t, 256>> next;
    std::vector<uint32_t> output;

    Automaton() {
        next.push_back({});
        output.push_back(0);
        std::vector<std::array<int, 256>> trie(1);
        trie[0].fill(-1);
        for (std::size_t p = 0; p < kPhraseCount; ++p) {
            int s = 0;
            for (char ch : kPhrases[p]) {
                const auto c = static_cast<unsigned char>(ch);
                if (trie[static_cast<std::size_t>(s)][c] < 0) {
                    trie[static_cast<std::size_t>(s)][c] = static_cast<int>(trie.size());
                    trie.emplace_back().fill(-1);
                    output.push_back(0);
                }
                s = trie[static_cast<std::size_t>(s)][c];
            }
            output[static_cast<std::size_t>(s)] |= bit(static_cast<unsigned>(p));
        }
        // Breadth first: each state's failure state is finished before the state itself.
        next.assign(trie.size(), {});
        std::vector<uint16_t> fail(trie.size(), 0);
        std::vector<uint16_t> queue;
        for (unsigned c = 0; c < 256; ++c) {
            const int t = trie[0][c];
            next[0][c] = static_cast<uint16_t>(t < 0 ? 0 : t);
            if (t > 0) {
                queue.push_back(static_cast<uint16_t>(t));
            }
        }
        for (std::size_t i = 0; i < queue.size(); ++i) {
            const uint16_t s = queue[i];
            output[s] |= output[fail[s]];
            for (unsigned c = 0; c < 256; ++c) {
                const int t = trie[s][c];
                if (t < 0) {
                    next[s][c] = next[fail[s]][c];
                } else {
                    fail[static_cast<std::size_t>(t)] = next[fail[s]][c];
                    next[s][c] = static_cast<uint16_t>(t);
                    queue.push_back(static_cast<uint16_t>(t));
                }
            }
        }
        // Upper-case input follows the lower-case transitions.
        for (auto& row : next) {
            for (unsigned c = 'A'; c <= 'Z'; ++c) {
                row[c] = row[lower(static_cast<unsigned char>(c))];
            }
        }
    }
};

const Automaton& automaton() {
    static const Automaton instance;
    return instance;
}

} // namespace

FlasherOutputScanner::FlasherOutputScanner(int expectedElements)
    : expected_(expectedElements > 0 ? static_cast<uint64_t>(expectedElements) : 0) {
    automaton(); // built once, before the first feed
}

void FlasherOutputScanner::feed(std::string_view bytes) {
    const Automaton& a = automaton();
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n' || c == '\r') {
            endLine();
            continue;
        }
        lineLength_ += lineLength_ < UINT32_MAX ? 1 : 0;
        state_ = a.next[state_][c];
        lastOut_ = a.output[state_];
        if (lastOut_ != 0) {
            lineHits_ |= lastOut_;
            if (lineLength_ <= kLongestPhrase) {
                lineStarts_ |= lastOut_ & kPhrasesOfLength[lineLength_];
            }
        }
    }
}

void FlasherOutputScanner::endLine() {
    if (lineLength_ > 0) {
        const auto whole = [this](Phrase p) {
            return (lineStarts_ & bit(p)) != 0 && lineLength_ == kPhrases[p].size();
        };
        const auto startsAndEnds = [this](Phrase head, Phrase tail) {
            return (lineStarts_ & bit(head)) != 0 && (lastOut_ & bit(tail)) != 0 &&
                   lineLength_ >= kPhrases[head].size() + kPhrases[tail].size();
        };
        const auto starts = [this](Phrase p) { return (lineStarts_ & bit(p)) != 0; };
        doneLines_ += whole(kDone) ? 1 : 0;
        sawLeave_ = sawLeave_ || whole(kLeave);
        sawSkip_ = sawSkip_ || startsAndEnds(kNoAlternate, kSkipping);
        sawAccess_ = sawAccess_ || startsAndEnds(kOpenFailed, kAccessDenied);
        sawManyDevices_ = sawManyDevices_ || starts(kManyDevices);
        sawNoDevice_ = sawNoDevice_ || whole(kNoDevice);
        sawFileRefused_ = sawFileRefused_ || starts(kOnlyDfuse) || whole(kNoSignature) ||
                          startsAndEnds(kErrorLine, kNotWriteable);
        // The system's loader speaks before the flasher's first line, never after it.
        sawLibrary_ =
            sawLibrary_ ||
            (!sawOwnLine_ && (lineHits_ & (bit(kImageNotFound) | bit(kSharedLibraries))) != 0);
        sawOwnLine_ = sawOwnLine_ || starts(kOwnLine);
    }
    state_ = 0;
    lineLength_ = 0;
    lineHits_ = 0;
    lineStarts_ = 0;
    lastOut_ = 0;
}

FlasherVerdict FlasherOutputScanner::finish(FlasherExit exit) {
    endLine();
    if (!exit.signalled && expected_ > 0 && doneLines_ == expected_ && sawLeave_ && !sawSkip_) {
        return FlasherVerdict::Success;
    }
    if (sawAccess_) {
        return FlasherVerdict::PermissionDenied;
    }
    if (sawManyDevices_) {
        return FlasherVerdict::TooManyDevices;
    }
    if (sawNoDevice_) {
        return FlasherVerdict::DeviceNotFound;
    }
    if (sawFileRefused_ || sawSkip_) {
        return FlasherVerdict::FileRefused;
    }
    if (sawLibrary_) {
        return FlasherVerdict::LibraryMissing;
    }
    return FlasherVerdict::TransferNotCompleted;
}
