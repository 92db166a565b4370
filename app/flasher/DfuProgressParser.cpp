#include "DfuProgressParser.h"

#include <algorithm>
#include <charconv>

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The first unsigned number after `key` in `line`, or -1.
int64_t numberAfter(std::string_view line, std::string_view key) {
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) {
        return -1;
    }
    std::string_view rest = line.substr(at + key.size());
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    int base = 10;
    if (startsWith(rest, "0x")) {
        rest.remove_prefix(2);
        base = 16;
    }
    int64_t value = -1;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, base);
    return error == std::errc() ? value : -1;
}

// The percentage of a bar line: the number right before its '%'.
int percentOf(std::string_view line) {
    const std::size_t at = line.find('%');
    if (at == std::string_view::npos) {
        return -1;
    }
    std::size_t start = at;
    while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9') {
        --start;
    }
    int value = -1;
    std::from_chars(line.data() + start, line.data() + at, value);
    return std::clamp(value, -1, 100);
}

} // namespace

void DfuProgressParser::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        const std::string_view part = bytes.substr(0, end);
        if (line_.size() < kMaxLine) {
            line_.append(part.substr(0, kMaxLine - line_.size()));
        }
        if (end == std::string_view::npos) {
            return;
        }
        endLine();
        bytes.remove_prefix(end + 1);
    }
}

void DfuProgressParser::endLine() {
    const std::string_view line = line_;
    if (startsWith(line, "Parsing element ")) {
        elementLine(line);
    } else if (startsWith(line, "Image for alternate setting")) {
        imageLine(line);
    } else if (startsWith(line, "Erase") && line.find('[') != std::string_view::npos) {
        barLine(DfuProgress::Phase::Erase, line);
    } else if (startsWith(line, "Download") && line.find('[') != std::string_view::npos) {
        barLine(DfuProgress::Phase::Download, line);
    }
    line_.clear();
}

void DfuProgressParser::imageLine(std::string_view line) {
    const int64_t elements = numberAfter(line, "(");
    const int64_t total = numberAfter(line, "total size =");
    if (elements > 0 && elements < 1'000'000) {
        progress_.elements = static_cast<int>(elements);
    }
    if (total > 0) {
        totalSize_ = static_cast<uint64_t>(total);
    }
}

void DfuProgressParser::elementLine(std::string_view line) {
    const int64_t index = numberAfter(line, "Parsing element");
    const int64_t size = numberAfter(line, "size =");
    if (index <= 0 || index > 1'000'000 || size < 0) {
        return;
    }
    if (progress_.element > 0) {
        doneBefore_ += elementSize_;
    }
    progress_.element = static_cast<int>(index);
    elementSize_ = static_cast<uint64_t>(size);
    erasePercent_ = 0;
    downloadPercent_ = 0;
    progress_.phase = DfuProgress::Phase::None;
    update();
}

void DfuProgressParser::barLine(DfuProgress::Phase phase, std::string_view line) {
    const int percent = percentOf(line);
    if (percent < 0) {
        return;
    }
    progress_.phase = phase;
    progress_.measured = true;
    if (phase == DfuProgress::Phase::Erase) {
        erasePercent_ = percent;
    } else {
        // A DfuSe element that needs no erase goes straight to its download.
        erasePercent_ = 100;
        downloadPercent_ = percent;
    }
    update();
}

void DfuProgressParser::update() {
    if (!progress_.measured) {
        return;
    }
    const float element = (kEraseShare * static_cast<float>(erasePercent_) +
                           (1.0f - kEraseShare) * static_cast<float>(downloadPercent_)) /
                          100.0f;
    float fraction = element;
    if (totalSize_ > 0 && progress_.element > 0) {
        fraction = (static_cast<float>(doneBefore_) + element * static_cast<float>(elementSize_)) /
                   static_cast<float>(totalSize_);
    } else if (progress_.element == 0 && progress_.phase == DfuProgress::Phase::Download) {
        // A plain image: its one download bar is the whole.
        fraction = static_cast<float>(downloadPercent_) / 100.0f;
    }
    progress_.fraction = std::clamp(fraction, 0.0f, 1.0f);
}
