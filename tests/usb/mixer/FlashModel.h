// The emulated mixer's internal flash: the sectors its loader announces in its memory layout
// ("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"), holding the old firmware until a
// sector is erased. Like a real flash, a byte can only be written once after its sector's erase.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class FlashModel {
public:
    struct Sector {
        uint32_t address = 0;
        uint32_t size = 0;
    };

    // The sectors of a DfuSe memory layout string, or nothing when it is malformed.
    static std::optional<std::vector<Sector>> parseLayout(std::string_view layout);

    // A flash with these sectors (contiguous, in order), filled with the old firmware's bytes.
    explicit FlashModel(std::vector<Sector> sectors, uint8_t oldContent = 0xA5);

    uint32_t base() const { return sectors_.empty() ? 0 : sectors_.front().address; }
    uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
    const std::vector<Sector>& sectors() const { return sectors_; }

    // Erases the sector that holds `address`; false when no sector does.
    bool erasePage(uint32_t address);
    void eraseAll();
    // Writes `data` at `address`; false (nothing written) when any byte lies outside the
    // sectors or in a cell not erased since its last write.
    bool write(uint32_t address, std::span<const uint8_t> data);
    // Reads back; bytes outside the flash read as nothing (an empty result).
    std::vector<uint8_t> read(uint32_t address, size_t length) const;

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    int erasures() const { return erasures_; }

private:
    bool contains(uint32_t address, size_t length) const;

    std::vector<Sector> sectors_;
    std::vector<uint8_t> bytes_;
    std::vector<bool> erased_; // per byte: written neither before nor since its sector's erase
    int erasures_ = 0;
};
