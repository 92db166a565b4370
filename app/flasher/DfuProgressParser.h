// Reads dfu-util's own progress from its output as it arrives: the element being written and the
// bytes of its download bar (which dfu-util redraws with carriage returns), measured against the
// whole checked image, so several targets make one bar that only moves forward. Bounded memory:
// a line is looked at only in its first kMaxLine bytes, which is more than any progress line has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct DfuProgress {
    enum class Phase : uint8_t { None, Erase, Download };
    Phase phase = Phase::None;
    int element = 0;       // 1-based over the whole image; 0 before the first element line
    int elements = 0;      // of the checked image
    float fraction = 0.0f; // written bytes of the whole image, 0..1, never going back
    bool measured = false; // whether any bar has been seen (else fraction says nothing)

    bool operator==(const DfuProgress&) const = default;
};

class DfuProgressParser {
public:
    static constexpr std::size_t kMaxLine = 160;

    // The checked image: its element count and the bytes of its elements. Without bytes (0) the
    // progress is never measured.
    DfuProgressParser(int elements, uint64_t imageBytes);

    void feed(std::string_view bytes);
    const DfuProgress& progress() const { return progress_; }

private:
    void endLine();
    void elementLine(std::string_view line);
    void barLine(DfuProgress::Phase phase, std::string_view line);
    void update();

    std::string line_;           // the current line's first kMaxLine bytes
    std::size_t lineLength_ = 0; // the current line's whole length
    DfuProgress progress_;
    uint64_t imageBytes_;
    int elementLines_ = 0;
    uint64_t writtenBefore_ = 0; // bytes of the elements whose download is done
    uint64_t elementSize_ = 0;   // the current element's size
    uint64_t elementWritten_ = 0;
};
