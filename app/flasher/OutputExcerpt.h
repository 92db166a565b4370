// What the log and the alerts' Details keep of a flasher's output: its first and its last bytes
// and how many lay between, so that any output, however large, costs a fixed amount of memory.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string_view>

class OutputExcerpt {
public:
    explicit OutputExcerpt(qsizetype headBytes = 64 * 1024, qsizetype tailBytes = 64 * 1024);

    void append(std::string_view bytes);

    // The head, then (when bytes were left out) a line saying how many, then the tail; decoded
    // as UTF-8 with invalid sequences as replacement characters.
    QString text() const;
    uint64_t totalBytes() const { return total_; }
    uint64_t omittedBytes() const;

private:
    qsizetype headLimit_;
    qsizetype tailLimit_;
    QByteArray head_;
    QByteArray tail_; // a ring once full; tailStart_ is its oldest byte
    qsizetype tailStart_ = 0;
    uint64_t total_ = 0;
};
