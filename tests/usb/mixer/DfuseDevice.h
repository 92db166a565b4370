// The loader's DFU class requests, as an STM32-style DfuSe loader answers them: the state
// machine (idle, download sync/busy/idle, manifest, upload, error), the DfuSe commands in
// block 0 (set address, erase page, mass erase) and the data blocks written to the flash.
// No I/O: the USB side (gadgetfs) hands each request in and sends what comes back.
#pragma once

#include "FlashModel.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct SetupRequest {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

enum class DfuState : uint8_t {
    appIdle = 0,
    appDetach = 1,
    idle = 2,
    dnloadSync = 3,
    dnBusy = 4,
    dnloadIdle = 5,
    manifestSync = 6,
    manifest = 7,
    manifestWaitReset = 8,
    uploadIdle = 9,
    error = 10,
};

enum class DfuStatus : uint8_t {
    ok = 0,
    errTarget = 1,
    errWrite = 3,
    errErase = 4,
    errProg = 6,
    errAddress = 8,
    errUnknown = 14,
    errStalledPkt = 15,
};

class DfuseDevice {
public:
    static constexpr uint16_t kTransferSize = 2048;
    // The DfuSe commands this loader knows, as UPLOAD of block 0 lists them.
    static constexpr uint8_t kGetCommands = 0x00;
    static constexpr uint8_t kSetAddress = 0x21;
    static constexpr uint8_t kErase = 0x41;
    static constexpr uint8_t kReadUnprotect = 0x92;

    struct Options {
        uint32_t pollTimeoutMs = 1;
        std::optional<int> failWriteAfterBlocks; // data blocks written before a write fails
        // Once this many data blocks are written, the next status asks the host to wait
        // stallMs (a slow flash page), once: a window to interrupt the download in.
        std::optional<int> stallAfterBlocks;
        uint32_t stallMs = 8000;
    };

    // What goes back on endpoint 0: the data of an IN request, a zero-length status stage, or
    // a stall.
    struct Answer {
        enum class Kind { ack, data, stall } kind = Kind::ack;
        std::vector<uint8_t> data;
        bool operator==(const Answer&) const = default;
    };

    DfuseDevice(FlashModel& flash, Options options);

    // One class request to the DFU interface; `outData` is an OUT request's data stage.
    Answer handle(const SetupRequest& request, std::span<const uint8_t> outData = {});

    DfuState state() const { return state_; }
    DfuStatus status() const { return status_; }
    // The leave request's status was answered: the device resets now.
    bool leaveAnswered() const { return leaveAnswered_; }
    // The zero-length download that leaves has arrived.
    bool leaveRequested() const { return state_ == DfuState::manifestSync || leaveAnswered_; }
    int dataBlocksWritten() const { return dataBlocks_; }
    uint32_t addressPointer() const { return address_; }

private:
    Answer getStatus();
    Answer download(const SetupRequest& request, std::span<const uint8_t> data);
    Answer upload(const SetupRequest& request);
    Answer stall(DfuStatus status);
    // Runs the block received in dnloadSync; the result shows at the next status request.
    void execute();
    bool command(std::span<const uint8_t> block);
    bool writeBlock(uint16_t blockNumber, std::span<const uint8_t> data);
    void fail(DfuStatus status);

    FlashModel& flash_;
    Options options_;
    DfuState state_ = DfuState::idle;
    DfuStatus status_ = DfuStatus::ok;
    DfuState afterBusy_ = DfuState::dnloadIdle;
    uint16_t pendingBlock_ = 0;
    std::vector<uint8_t> pending_;
    uint32_t address_ = 0;
    int dataBlocks_ = 0;
    bool leaveAnswered_ = false;
    bool stalled_ = false;
};
