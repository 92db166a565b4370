#include "DfuseDevice.h"

#include <algorithm>

namespace {

enum Request : uint8_t {
    kDetach = 0,
    kDnload = 1,
    kUpload = 2,
    kGetStatus = 3,
    kClrStatus = 4,
    kGetState = 5,
    kAbort = 6,
};

constexpr uint8_t kDirectionIn = 0x80;

uint32_t littleEndian32(std::span<const uint8_t> bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

} // namespace

DfuseDevice::DfuseDevice(FlashModel& flash, Options options)
    : flash_(flash), options_(options), address_(flash.base()) {}

DfuseDevice::Answer DfuseDevice::handle(const SetupRequest& request,
                                        std::span<const uint8_t> outData) {
    const bool in = (request.requestType & kDirectionIn) != 0;
    switch (request.request) {
    case kGetStatus:
        return in ? getStatus() : stall(DfuStatus::errStalledPkt);
    case kGetState:
        return in ? Answer{Answer::Kind::data, {static_cast<uint8_t>(state_)}}
                  : stall(DfuStatus::errStalledPkt);
    case kClrStatus:
        state_ = DfuState::idle;
        status_ = DfuStatus::ok;
        return {};
    case kAbort:
        if (state_ == DfuState::error) {
            return stall(status_);
        }
        state_ = DfuState::idle;
        return {};
    case kDetach:
        return {};
    case kDnload:
        return in ? stall(DfuStatus::errStalledPkt) : download(request, outData);
    case kUpload:
        return in ? upload(request) : stall(DfuStatus::errStalledPkt);
    default:
        return stall(DfuStatus::errStalledPkt);
    }
}

DfuseDevice::Answer DfuseDevice::stall(DfuStatus status) {
    fail(status);
    return {Answer::Kind::stall, {}};
}

void DfuseDevice::fail(DfuStatus status) {
    state_ = DfuState::error;
    status_ = status;
}

DfuseDevice::Answer DfuseDevice::getStatus() {
    uint32_t pollTimeout = 0;
    switch (state_) {
    case DfuState::dnloadSync:
        execute();
        if (state_ == DfuState::dnBusy) {
            pollTimeout = options_.pollTimeoutMs;
            if (!stalled_ && options_.stallAfterBlocks &&
                dataBlocks_ >= *options_.stallAfterBlocks) {
                stalled_ = true;
                pollTimeout = options_.stallMs;
            }
        }
        break;
    case DfuState::dnBusy:
        state_ = afterBusy_;
        break;
    case DfuState::manifestSync:
        // A loader that resets to run its new firmware: it says so, then goes.
        state_ = DfuState::manifest;
        leaveAnswered_ = true;
        break;
    default:
        break;
    }
    return {Answer::Kind::data,
            {static_cast<uint8_t>(status_), static_cast<uint8_t>(pollTimeout & 0xFF),
             static_cast<uint8_t>(pollTimeout >> 8 & 0xFF),
             static_cast<uint8_t>(pollTimeout >> 16 & 0xFF), static_cast<uint8_t>(state_), 0}};
}

DfuseDevice::Answer DfuseDevice::download(const SetupRequest& request,
                                          std::span<const uint8_t> data) {
    if (state_ != DfuState::idle && state_ != DfuState::dnloadIdle) {
        return stall(DfuStatus::errStalledPkt);
    }
    if (request.length == 0) {
        // Leaving. A DfuSe loader also leaves from idle: dfu-util aborts to idle first.
        state_ = DfuState::manifestSync;
        return {};
    }
    if (request.length > kTransferSize || data.size() != request.length || request.value == 1) {
        return stall(DfuStatus::errStalledPkt);
    }
    pendingBlock_ = request.value;
    pending_.assign(data.begin(), data.end());
    state_ = DfuState::dnloadSync;
    return {};
}

void DfuseDevice::execute() {
    const bool done = pendingBlock_ == 0 ? command(pending_) : writeBlock(pendingBlock_, pending_);
    if (done) {
        // Busy for one poll, then ready for the next block.
        state_ = DfuState::dnBusy;
        afterBusy_ = DfuState::dnloadIdle;
    }
}

bool DfuseDevice::command(std::span<const uint8_t> block) {
    const uint8_t code = block[0];
    if (code == kSetAddress && block.size() == 5) {
        const uint32_t address = littleEndian32(block.subspan(1));
        if (flash_.read(address, 1).empty()) {
            fail(DfuStatus::errTarget);
            return false;
        }
        address_ = address;
        return true;
    }
    if (code == kErase && block.size() == 5) {
        if (!flash_.erasePage(littleEndian32(block.subspan(1)))) {
            fail(DfuStatus::errTarget);
            return false;
        }
        return true;
    }
    if (code == kErase && block.size() == 1) {
        flash_.eraseAll();
        return true;
    }
    fail(DfuStatus::errUnknown);
    return false;
}

bool DfuseDevice::writeBlock(uint16_t blockNumber, std::span<const uint8_t> data) {
    if (options_.failWriteAfterBlocks && dataBlocks_ >= *options_.failWriteAfterBlocks) {
        fail(DfuStatus::errWrite);
        return false;
    }
    const uint64_t address = uint64_t{address_} + uint64_t{blockNumber - 2u} * kTransferSize;
    if (address > UINT32_MAX || flash_.read(static_cast<uint32_t>(address), data.size()).empty()) {
        fail(DfuStatus::errAddress);
        return false;
    }
    if (!flash_.write(static_cast<uint32_t>(address), data)) {
        fail(DfuStatus::errProg); // a cell not erased before it was written
        return false;
    }
    ++dataBlocks_;
    return true;
}

DfuseDevice::Answer DfuseDevice::upload(const SetupRequest& request) {
    if (state_ != DfuState::idle && state_ != DfuState::uploadIdle) {
        return stall(DfuStatus::errStalledPkt);
    }
    std::vector<uint8_t> data;
    if (request.value == 0) {
        data = {kGetCommands, kSetAddress, kErase, kReadUnprotect};
        data.resize(std::min<size_t>(data.size(), request.length));
    } else if (request.value >= 2 && request.length <= kTransferSize) {
        const uint64_t address = uint64_t{address_} + uint64_t{request.value - 2u} * kTransferSize;
        data = address > UINT32_MAX ? std::vector<uint8_t>{}
                                    : flash_.read(static_cast<uint32_t>(address), request.length);
        if (data.empty()) {
            return stall(DfuStatus::errAddress);
        }
    } else {
        return stall(DfuStatus::errStalledPkt);
    }
    state_ = DfuState::uploadIdle;
    return {Answer::Kind::data, std::move(data)};
}
