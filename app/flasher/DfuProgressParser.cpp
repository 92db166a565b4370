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

// The byte count of a bar line ("...  52%         8192 bytes", " failed!" after it), or -1.
int64_t bytesOf(std::string_view line) {
    const std::size_t at = line.rfind(" bytes");
    if (at == std::string_view::npos) {
        return -1;
    }
    std::size_t start = at;
    while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9') {
        --start;
    }
    int64_t value = -1;
    const auto [end, error] = std::from_chars(line.data() + start, line.data() + at, value);
    return error == std::errc() && end == line.data() + at ? value : -1;
}

} // namespace

DfuProgressParser::DfuProgressParser(int elements, uint64_t imageBytes) : imageBytes_(imageBytes) {
    progress_.elements = elements > 0 ? elements : 0;
}

void DfuProgressParser::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        const std::string_view part = bytes.substr(0, end);
        if (line_.size() < kMaxLine) {
            line_.append(part.substr(0, kMaxLine - line_.size()));
        }
        lineLength_ += part.size();
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
    } else if (line == "Download done." && lineLength_ == line.size()) {
        writtenBefore_ += elementSize_;
        elementSize_ = 0;
        elementWritten_ = 0;
        update();
    } else if (startsWith(line, "Erase") && line.find('[') != std::string_view::npos) {
        barLine(DfuProgress::Phase::Erase, line);
    } else if (startsWith(line, "Download") && line.find('[') != std::string_view::npos) {
        barLine(DfuProgress::Phase::Download, line);
    }
    line_.clear();
    lineLength_ = 0;
}

void DfuProgressParser::elementLine(std::string_view line) {
    const int64_t index = numberAfter(line, "Parsing element");
    const int64_t size = numberAfter(line, "size =");
    if (index <= 0 || size < 0) {
        return;
    }
    // Numbered within each target by dfu-util; counted over the whole image here.
    elementLines_ += elementLines_ < progress_.elements ? 1 : 0;
    progress_.element = elementLines_;
    progress_.phase = DfuProgress::Phase::None;
    elementSize_ = static_cast<uint64_t>(size);
    elementWritten_ = 0;
}

void DfuProgressParser::barLine(DfuProgress::Phase phase, std::string_view line) {
    const int percent = percentOf(line);
    if (percent < 0) {
        return;
    }
    progress_.phase = phase;
    if (phase == DfuProgress::Phase::Download) {
        const int64_t bytes = bytesOf(line);
        const uint64_t written = bytes >= 0 ? static_cast<uint64_t>(bytes)
                                            : elementSize_ * static_cast<uint64_t>(percent) / 100;
        elementWritten_ = std::min(written, elementSize_);
    }
    update();
}

void DfuProgressParser::update() {
    if (imageBytes_ == 0) {
        return;
    }
    progress_.measured = true;
    const double written =
        static_cast<double>(writtenBefore_ + elementWritten_) / static_cast<double>(imageBytes_);
    progress_.fraction = std::max(progress_.fraction, static_cast<float>(std::min(written, 1.0)));
}
