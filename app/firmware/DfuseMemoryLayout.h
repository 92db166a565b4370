// The memory a DfuSe loader offers through one alternate setting, as it names that setting:
// "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg" is a name, then zones of an address
// and groups of sectors (count * size, the size in bytes, K or M, and an access letter 'a'..'g'
// whose low three bits are readable, erasable, writable). Pure.
#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

class DfuseMemoryLayout {
public:
    static constexpr uint8_t kReadable = 1;
    static constexpr uint8_t kErasable = 2;
    static constexpr uint8_t kWritable = 4;

    // One group of equal sectors: [start, end).
    struct Segment {
        uint64_t start = 0;
        uint64_t end = 0;
        uint8_t access = 0;
        bool operator==(const Segment&) const = default;
    };

    // nullopt when the description does not follow the form above.
    static std::optional<DfuseMemoryLayout> parse(QStringView description);

    // Whether every byte of [start, end) lies in writable sectors.
    bool isWritable(uint64_t start, uint64_t end) const;
    const std::vector<Segment>& segments() const { return segments_; }

private:
    std::vector<Segment> segments_;
};
