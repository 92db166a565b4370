#include "DfuseMemoryLayout.h"

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// Reads the description left to right; every read moves only on success.
class Reader {
public:
    explicit Reader(QStringView text) : text_(text) {}

    bool atEnd() const { return at_ >= text_.size(); }
    char16_t peek(qsizetype ahead = 0) const {
        return at_ + ahead < text_.size() ? text_[at_ + ahead].unicode() : u'\0';
    }
    bool take(char16_t c) {
        if (peek() != c) {
            return false;
        }
        ++at_;
        return true;
    }
    void skipTo(char16_t c) {
        while (!atEnd() && peek() != c) {
            ++at_;
        }
    }
    // Up to `maxDigits` digits of `base`; nullopt when there is none.
    std::optional<uint64_t> number(int base, int maxDigits) {
        uint64_t value = 0;
        int digits = 0;
        while (digits < maxDigits) {
            const int digit = digitValue(peek(), base);
            if (digit < 0) {
                break;
            }
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
            ++at_;
            ++digits;
        }
        return digits > 0 ? std::optional<uint64_t>(value) : std::nullopt;
    }
    qsizetype position() const { return at_; }
    void rewind(qsizetype at) { at_ = at; }

private:
    static int digitValue(char16_t c, int base) {
        int value = -1;
        if (c >= u'0' && c <= u'9') {
            value = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            value = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            value = c - u'A' + 10;
        }
        return value < base ? value : -1;
    }

    QStringView text_;
    qsizetype at_ = 0;
};

bool isAccessLetter(char16_t c) {
    return (c >= u'a' && c <= u'g') || (c >= u'A' && c <= u'G');
}

// "04*016Kg": a count of sectors, their size with an optional multiplier, their access.
std::optional<DfuseMemoryLayout::Segment> readGroup(Reader& in, uint64_t start) {
    const qsizetype begin = in.position();
    const std::optional<uint64_t> count = in.number(10, 6);
    std::optional<uint64_t> size;
    if (count && in.take(u'*')) {
        size = in.number(10, 6);
    }
    if (!size) {
        in.rewind(begin);
        return std::nullopt;
    }
    uint64_t multiplier = 1;
    if (isAccessLetter(in.peek(1))) {
        switch (in.peek()) {
        case u'K':
            multiplier = 1024;
            break;
        case u'M':
            multiplier = 1024 * 1024;
            break;
        case u'B':
        case u' ':
            break;
        default:
            in.rewind(begin);
            return std::nullopt;
        }
        in.take(in.peek());
    }
    if (!isAccessLetter(in.peek())) {
        in.rewind(begin);
        return std::nullopt;
    }
    const auto access = static_cast<uint8_t>(in.peek() & 0x7);
    in.take(in.peek());
    const uint64_t end = start + *count * *size * multiplier;
    if (end > kAddressSpace) {
        in.rewind(begin);
        return std::nullopt;
    }
    return DfuseMemoryLayout::Segment{start, end, access};
}

} // namespace

std::optional<DfuseMemoryLayout> DfuseMemoryLayout::parse(QStringView description) {
    Reader in(description);
    if (!in.take(u'@')) {
        return std::nullopt;
    }
    in.skipTo(u'/'); // the memory's name
    DfuseMemoryLayout layout;
    // Zones: "/0x<address>/<group>,<group>...". Text after the last whole group is ignored, as
    // some loaders add words there; it only leaves memory undescribed, never writable.
    while (in.peek() == u'/' && (in.peek(1) == u'0') &&
           (in.peek(2) == u'x' || in.peek(2) == u'X')) {
        const qsizetype zone = in.position();
        in.take(u'/');
        in.take(u'0');
        in.take(in.peek());
        const std::optional<uint64_t> address = in.number(16, 8);
        if (!address || !in.take(u'/')) {
            in.rewind(zone);
            break;
        }
        uint64_t start = *address;
        bool any = false;
        do {
            const std::optional<Segment> segment = readGroup(in, start);
            if (!segment) {
                break;
            }
            layout.segments_.push_back(*segment);
            start = segment->end;
            any = true;
        } while (in.peek() == u',' && in.take(u','));
        if (!any) {
            break;
        }
    }
    if (layout.segments_.empty()) {
        return std::nullopt;
    }
    return layout;
}

bool DfuseMemoryLayout::isWritable(uint64_t start, uint64_t end) const {
    uint64_t at = start;
    while (at < end) {
        bool covered = false;
        for (const Segment& segment : segments_) {
            if ((segment.access & kWritable) != 0 && segment.start <= at && at < segment.end) {
                at = segment.end;
                covered = true;
                break;
            }
        }
        if (!covered) {
            return false;
        }
    }
    return true;
}
