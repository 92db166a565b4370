#include "FlashModel.h"

#include <algorithm>
#include <charconv>

namespace {

// Reads an unsigned number at the front of `text` in `base`, consuming it.
std::optional<uint64_t> takeNumber(std::string_view& text, int base) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value;
}

} // namespace

std::optional<std::vector<FlashModel::Sector>> FlashModel::parseLayout(std::string_view layout) {
    // "@Name/0xADDRESS/COUNT*SIZEunit-and-flags,COUNT*SIZE..."; only the first region is used.
    const size_t nameEnd = layout.find('/');
    if (layout.empty() || layout.front() != '@' || nameEnd == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = layout.substr(nameEnd + 1);
    if (!rest.starts_with("0x")) {
        return std::nullopt;
    }
    rest.remove_prefix(2);
    const auto start = takeNumber(rest, 16);
    if (!start || rest.empty() || rest.front() != '/') {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    std::vector<Sector> sectors;
    uint64_t address = *start;
    while (!rest.empty() && rest.front() != '/') {
        const auto count = takeNumber(rest, 10);
        if (!count || rest.empty() || rest.front() != '*') {
            return std::nullopt;
        }
        rest.remove_prefix(1);
        auto size = takeNumber(rest, 10);
        if (!size || rest.empty()) {
            return std::nullopt;
        }
        switch (rest.front()) {
        case 'K':
            *size *= 1024;
            rest.remove_prefix(1);
            break;
        case 'M':
            *size *= 1024 * 1024;
            rest.remove_prefix(1);
            break;
        case 'B':
        case ' ':
            rest.remove_prefix(1);
            break;
        default:
            break;
        }
        // The type letter: 'a' to 'g' (readable, erasable, writable bits).
        if (rest.empty() || rest.front() < 'a' || rest.front() > 'g') {
            return std::nullopt;
        }
        rest.remove_prefix(1);
        if (*count == 0 || *size == 0 || address + *count * *size > UINT32_MAX + uint64_t{1}) {
            return std::nullopt;
        }
        for (uint64_t i = 0; i < *count; ++i) {
            sectors.push_back({static_cast<uint32_t>(address), static_cast<uint32_t>(*size)});
            address += *size;
        }
        if (!rest.empty() && rest.front() == ',') {
            rest.remove_prefix(1);
        }
    }
    if (sectors.empty()) {
        return std::nullopt;
    }
    return sectors;
}

FlashModel::FlashModel(std::vector<Sector> sectors, uint8_t oldContent)
    : sectors_(std::move(sectors)) {
    size_t total = 0;
    for (const Sector& s : sectors_) {
        total += s.size;
    }
    bytes_.assign(total, oldContent);
    erased_.assign(total, false);
}

bool FlashModel::contains(uint32_t address, size_t length) const {
    return address >= base() && uint64_t{address} - base() + length <= bytes_.size();
}

bool FlashModel::erasePage(uint32_t address) {
    const auto sector = std::find_if(sectors_.begin(), sectors_.end(), [&](const Sector& s) {
        return address >= s.address && address - s.address < s.size;
    });
    if (sector == sectors_.end()) {
        return false;
    }
    const size_t offset = sector->address - base();
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), sector->size, uint8_t{0xFF});
    std::fill_n(erased_.begin() + static_cast<std::ptrdiff_t>(offset), sector->size, true);
    ++erasures_;
    return true;
}

void FlashModel::eraseAll() {
    for (const Sector& s : sectors_) {
        erasePage(s.address);
    }
}

bool FlashModel::write(uint32_t address, std::span<const uint8_t> data) {
    if (!contains(address, data.size())) {
        return false;
    }
    const size_t offset = address - base();
    const auto cells = erased_.begin() + static_cast<std::ptrdiff_t>(offset);
    if (!std::all_of(cells, cells + static_cast<std::ptrdiff_t>(data.size()),
                     [](bool erased) { return erased; })) {
        return false;
    }
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    std::fill_n(cells, data.size(), false);
    return true;
}

std::vector<uint8_t> FlashModel::read(uint32_t address, size_t length) const {
    if (!contains(address, length)) {
        return {};
    }
    const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(address - base());
    return {from, from + static_cast<std::ptrdiff_t>(length)};
}
