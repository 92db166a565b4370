#include "FlasherOutputScanner.h"

#include <array>
#include <vector>

namespace {

// The phrases, lower case. Their index is their bit in a state's output mask.
enum Phrase : uint8_t {
    kDone,
    kLeave,
    kNoDevice,
    kImageNotFound,
    kSharedLibraries,
    kAccess,
    kError,
    kNoErrorCondition,
    kFirstMarker,
};
constexpr std::string_view kPhrases[] = {
    "download done.",
    "submitting leave request",
    "no dfu capable usb device available",
    "image not found",
    "error while loading shared libraries",
    "libusb_error_access",
    "error",
    "no error condition is present",
    // The words that make a line an error line wherever they stand.
    "fail",
    "cannot",
    "could not",
    "unable",
    "no dfu capable",
    "not found",
    "corrupt",
};
constexpr std::size_t kPhraseCount = std::size(kPhrases);
static_assert(kPhraseCount <= 32);
constexpr uint32_t bit(unsigned phrase) {
    return uint32_t{1} << phrase;
}
constexpr uint32_t kMarkerBits = ~(bit(kFirstMarker) - 1) & (bit(kPhraseCount) - 1);

constexpr std::string_view kFlasherPrefix = "dfu-util:";
constexpr int8_t kPrefixFailed = -1;
constexpr int8_t kPrefixMatched = static_cast<int8_t>(kFlasherPrefix.size());

constexpr unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
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

FlasherOutputScanner::FlasherOutputScanner() {
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
        lineEmpty_ = false;
        if (prefix_ >= 0 && prefix_ < kPrefixMatched) {
            if (prefix_ == 0 && isBlank(c)) {
                // still in the leading blanks
            } else if (lower(c) == static_cast<unsigned char>(kFlasherPrefix[prefix_])) {
                ++prefix_;
            } else {
                prefix_ = kPrefixFailed;
            }
        }
        state_ = a.next[state_][c];
        if (const uint32_t out = a.output[state_]; out != 0) {
            lineHits_ |= out;
            lineErrors_ += (out & bit(kError)) != 0 ? 1 : 0;
            lineNoErrors_ += (out & bit(kNoErrorCondition)) != 0 ? 1 : 0;
        }
    }
}

void FlasherOutputScanner::endLine() {
    if (!lineEmpty_) {
        const bool errorLine = prefix_ == kPrefixMatched || (lineHits_ & kMarkerBits) != 0 ||
                               lineErrors_ > lineNoErrors_;
        if ((lineHits_ & bit(kDone)) != 0) {
            sawDone_ = true;
            errorAfterDone_ = false;
        } else if (errorLine && sawDone_) {
            errorAfterDone_ = true;
        }
        sawLeave_ = sawLeave_ || (lineHits_ & bit(kLeave)) != 0;
        sawAccess_ = sawAccess_ || (lineHits_ & bit(kAccess)) != 0;
        sawNoDevice_ = sawNoDevice_ || (lineHits_ & bit(kNoDevice)) != 0;
        sawLibrary_ =
            sawLibrary_ || (lineHits_ & (bit(kImageNotFound) | bit(kSharedLibraries))) != 0;
    }
    state_ = 0;
    lineHits_ = 0;
    lineErrors_ = 0;
    lineNoErrors_ = 0;
    prefix_ = 0;
    lineEmpty_ = true;
}

FlasherVerdict FlasherOutputScanner::finish(FlasherExit exit) {
    endLine();
    if (sawDone_ && !exit.signalled && (sawLeave_ || (exit.code == 0 && !errorAfterDone_))) {
        return FlasherVerdict::Success;
    }
    if (sawAccess_) {
        return FlasherVerdict::PermissionDenied;
    }
    if (sawNoDevice_) {
        return FlasherVerdict::DeviceNotFound;
    }
    if (sawLibrary_) {
        return FlasherVerdict::LibraryMissing;
    }
    return FlasherVerdict::TransferNotCompleted;
}
