#include "OutputExcerpt.h"

#include <algorithm>

OutputExcerpt::OutputExcerpt(qsizetype headBytes, qsizetype tailBytes)
    : headLimit_(headBytes), tailLimit_(tailBytes) {
    head_.reserve(headLimit_);
    tail_.reserve(tailLimit_);
}

void OutputExcerpt::append(std::string_view bytes) {
    total_ += bytes.size();
    const auto toHead =
        std::min<qsizetype>(headLimit_ - head_.size(), static_cast<qsizetype>(bytes.size()));
    if (toHead > 0) {
        head_.append(bytes.data(), toHead);
        bytes.remove_prefix(static_cast<std::size_t>(toHead));
    }
    if (tailLimit_ <= 0) {
        return;
    }
    if (static_cast<qsizetype>(bytes.size()) >= tailLimit_) {
        bytes.remove_prefix(bytes.size() - static_cast<std::size_t>(tailLimit_));
        tail_ = QByteArray(bytes.data(), tailLimit_);
        tailStart_ = 0;
        return;
    }
    for (const char c : bytes) {
        if (tail_.size() < tailLimit_) {
            tail_.append(c);
        } else {
            tail_[tailStart_] = c;
            tailStart_ = (tailStart_ + 1) % tailLimit_;
        }
    }
}

uint64_t OutputExcerpt::omittedBytes() const {
    return total_ - static_cast<uint64_t>(head_.size()) - static_cast<uint64_t>(tail_.size());
}

QString OutputExcerpt::text() const {
    const QByteArray tail = tail_.mid(tailStart_) + tail_.left(tailStart_);
    const uint64_t omitted = omittedBytes();
    if (omitted == 0) {
        // One piece: a character that straddles head and tail decodes whole.
        return QString::fromUtf8(head_ + tail);
    }
    return QString::fromUtf8(head_) +
           QStringLiteral("\n[... %1 bytes of output left out ...]\n").arg(omitted) +
           QString::fromUtf8(tail);
}
