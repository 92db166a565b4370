// Reads dfu-util's own progress from its output as it arrives: the image's element count and
// size, the element being written, and the percentages of its erase and download bars (which
// dfu-util redraws with carriage returns). Bounded memory: a line is looked at only in its first
// kMaxLine bytes, which is more than any progress line has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct DfuProgress {
    enum class Phase : uint8_t { None, Erase, Download };
    Phase phase = Phase::None;
    int element = 0;       // 1-based; 0 before the first element line (a plain DFU image)
    int elements = 0;      // from the image line; 0 when not told
    float fraction = 0.0f; // of the whole image, 0..1
    bool measured = false; // whether any bar has been seen (else fraction says nothing)

    bool operator==(const DfuProgress&) const = default;
};

class DfuProgressParser {
public:
    static constexpr std::size_t kMaxLine = 160;
    // Share of an element's time that its erase takes; the download takes the rest.
    static constexpr float kEraseShare = 0.2f;

    void feed(std::string_view bytes);
    const DfuProgress& progress() const { return progress_; }

private:
    void endLine();
    void elementLine(std::string_view line);
    void imageLine(std::string_view line);
    void barLine(DfuProgress::Phase phase, std::string_view line);
    void update();

    std::string line_; // the current line's first kMaxLine bytes
    DfuProgress progress_;
    uint64_t totalSize_ = 0;   // the image's size, from its image line
    uint64_t doneBefore_ = 0;  // bytes of the elements before the current one
    uint64_t elementSize_ = 0; // the current element's size
    int erasePercent_ = 0;
    int downloadPercent_ = 0;
};
