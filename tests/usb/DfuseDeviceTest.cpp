// The loader's answers to the DFU class requests, in the order dfu-util sends them for a DfuSe
// download: the commands of block 0, data blocks at the address pointer, the busy/idle status
// pair, the leave request, and what a fault or a bad request leaves behind.
#include "DfuseDevice.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr auto kLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
constexpr uint8_t kOut = 0x21; // class request to the interface
constexpr uint8_t kIn = 0xA1;

using Answer = DfuseDevice::Answer;

struct Status {
    DfuStatus status;
    DfuState state;
    uint32_t pollTimeout;
    bool operator==(const Status&) const = default;
};

// A loader on a fresh flash, driven request by request.
class Loader {
public:
    explicit Loader(DfuseDevice::Options options = {}) : device(flash, options) {}

    Answer dnload(uint16_t block, std::vector<uint8_t> data) {
        return device.handle({kOut, 1, block, 0, static_cast<uint16_t>(data.size())}, data);
    }
    Answer command(uint8_t code, uint32_t address) {
        return dnload(0,
                      {code, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                       static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)});
    }
    Status status() {
        const Answer a = device.handle({kIn, 3, 0, 0, 6});
        EXPECT_EQ(a.kind, Answer::Kind::data);
        EXPECT_EQ(a.data.size(), 6u);
        return {static_cast<DfuStatus>(a.data[0]), static_cast<DfuState>(a.data[4]),
                uint32_t{a.data[1]} | uint32_t{a.data[2]} << 8 | uint32_t{a.data[3]} << 16};
    }
    // A request followed by the status polls dfu-util makes until the device is not busy.
    Status settle() {
        Status s = status();
        while (s.state == DfuState::dnBusy) {
            s = status();
        }
        return s;
    }

    FlashModel flash{*FlashModel::parseLayout(kLayout)};
    DfuseDevice device;
};

const std::vector<uint8_t> kBlock(DfuseDevice::kTransferSize, 0x3C);

struct Case {
    const char* name;
    DfuseDevice::Options options;
    std::function<void(Loader&)> act;
    DfuState state;
    DfuStatus status;
    int blocksWritten;
};

class DfuseRequests : public ::testing::TestWithParam<Case> {};

TEST_P(DfuseRequests, EndInTheExpectedStateAndStatus) {
    Loader loader(GetParam().options);
    GetParam().act(loader);
    EXPECT_EQ(loader.device.state(), GetParam().state);
    EXPECT_EQ(loader.device.status(), GetParam().status);
    EXPECT_EQ(loader.device.dataBlocksWritten(), GetParam().blocksWritten);
}

void eraseAndSetAddress(Loader& l, uint32_t address) {
    l.command(DfuseDevice::kErase, address);
    l.settle();
    l.command(DfuseDevice::kSetAddress, address);
    l.settle();
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, DfuseRequests,
    ::testing::Values(
        Case{"EraseSetAddressWrite",
             {},
             [](Loader& l) {
                 eraseAndSetAddress(l, 0x08000000);
                 l.dnload(2, kBlock);
                 l.settle();
             },
             DfuState::dnloadIdle,
             DfuStatus::ok,
             1},
        Case{"WriteWithoutErase",
             {},
             [](Loader& l) {
                 l.command(DfuseDevice::kSetAddress, 0x08000000);
                 l.settle();
                 l.dnload(2, kBlock);
                 l.settle();
             },
             DfuState::error,
             DfuStatus::errProg,
             0},
        Case{"EraseOutsideTheFlash",
             {},
             [](Loader& l) {
                 l.command(DfuseDevice::kErase, 0x20000000);
                 l.settle();
             },
             DfuState::error,
             DfuStatus::errTarget,
             0},
        Case{"AddressOutsideTheFlash",
             {},
             [](Loader& l) {
                 l.command(DfuseDevice::kSetAddress, 0x08100000);
                 l.settle();
             },
             DfuState::error,
             DfuStatus::errTarget,
             0},
        Case{"BlockPastTheEndOfTheFlash",
             {},
             [](Loader& l) {
                 eraseAndSetAddress(l, 0x080E0000);
                 l.dnload(2 + 64, kBlock); // 128 KiB further: past the last sector
                 l.settle();
             },
             DfuState::error,
             DfuStatus::errAddress,
             0},
        Case{"WriteFailsAfterTwoBlocks",
             {1, 2},
             [](Loader& l) {
                 eraseAndSetAddress(l, 0x08000000);
                 for (uint16_t block = 2; block < 5; ++block) {
                     l.dnload(block, kBlock);
                     l.settle();
                 }
             },
             DfuState::error,
             DfuStatus::errWrite,
             2},
        Case{"ClearStatusAfterAnError",
             {},
             [](Loader& l) {
                 l.command(DfuseDevice::kErase, 0x20000000);
                 l.settle();
                 l.device.handle({kOut, 4, 0, 0, 0});
             },
             DfuState::idle,
             DfuStatus::ok,
             0},
        Case{"AbortAfterADownload",
             {},
             [](Loader& l) {
                 eraseAndSetAddress(l, 0x08000000);
                 l.device.handle({kOut, 6, 0, 0, 0});
             },
             DfuState::idle,
             DfuStatus::ok,
             0},
        Case{"LeaveFromIdle",
             {},
             [](Loader& l) { EXPECT_EQ(l.dnload(0, {}).kind, Answer::Kind::ack); },
             DfuState::manifestSync,
             DfuStatus::ok,
             0},
        Case{"LeaveWhileUploading",
             {},
             [](Loader& l) {
                 l.device.handle({kIn, 2, 0, 0, 4});
                 EXPECT_EQ(l.dnload(0, {}).kind, Answer::Kind::stall);
             },
             DfuState::error,
             DfuStatus::errStalledPkt,
             0},
        Case{"DownloadWhileBusy",
             {},
             [](Loader& l) {
                 l.command(DfuseDevice::kErase, 0x08000000);
                 l.status(); // busy now
                 EXPECT_EQ(l.command(DfuseDevice::kErase, 0x08004000).kind, Answer::Kind::stall);
             },
             DfuState::error,
             DfuStatus::errStalledPkt,
             0},
        Case{"BlockOne",
             {},
             [](Loader& l) { EXPECT_EQ(l.dnload(1, kBlock).kind, Answer::Kind::stall); },
             DfuState::error,
             DfuStatus::errStalledPkt,
             0},
        Case{"BlockLargerThanTheTransferSize",
             {},
             [](Loader& l) {
                 EXPECT_EQ(l.dnload(2, std::vector<uint8_t>(4096)).kind, Answer::Kind::stall);
             },
             DfuState::error,
             DfuStatus::errStalledPkt,
             0},
        Case{"StatusAsAnOutRequest",
             {},
             [](Loader& l) {
                 EXPECT_EQ(l.device.handle({kOut, 3, 0, 0, 0}).kind, Answer::Kind::stall);
             },
             DfuState::error,
             DfuStatus::errStalledPkt,
             0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DfuseDownload, BlocksLandAtTheAddressPointerPlusTheirNumberTimesTheTransferSize) {
    Loader l;
    eraseAndSetAddress(l, 0x08000000);
    l.command(DfuseDevice::kSetAddress, 0x08001000);
    l.settle();
    std::vector<uint8_t> third(100, 0x77);
    l.dnload(3, third); // 0x08001000 + 1 * 2048
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::dnBusy, 1}));
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::dnloadIdle, 0}));
    EXPECT_EQ(l.flash.read(0x08001800, 100), third);
    EXPECT_EQ(l.flash.read(0x080017FF, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(l.flash.read(0x08001864, 1), std::vector<uint8_t>{0xFF});
}

TEST(DfuseDownload, TheLeaveRequestIsAnsweredWithManifestThenTheDeviceResets) {
    Loader l({25, {}});
    eraseAndSetAddress(l, 0x08000000);
    EXPECT_EQ(l.dnload(0, {}).kind, Answer::Kind::ack);
    EXPECT_TRUE(l.device.leaveRequested());
    EXPECT_FALSE(l.device.leaveAnswered());
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::manifest, 0}));
    EXPECT_TRUE(l.device.leaveAnswered());
}

TEST(DfuseDownload, BusyStatusCarriesThePollTimeout) {
    Loader l({0x012345, {}});
    l.command(DfuseDevice::kErase, 0x08000000);
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::dnBusy, 0x012345}));
}

// A stall: once, after the given number of data blocks, the host is asked to wait long.
TEST(DfuseDownload, AStallAsksOnceForALongWait) {
    Loader l({7, {}, 1, 5000});
    eraseAndSetAddress(l, 0x08000000);
    l.dnload(2, kBlock);
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::dnBusy, 5000}));
    l.settle();
    l.dnload(3, kBlock);
    EXPECT_EQ(l.status(), (Status{DfuStatus::ok, DfuState::dnBusy, 7}));
}

struct UploadCase {
    const char* name;
    uint16_t block;
    uint16_t length;
    std::vector<uint8_t> expected; // empty: stalled
};

class DfuseUpload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(DfuseUpload, AnswersTheCommandListOrTheFlashOrStalls) {
    Loader l;
    const Answer a = l.device.handle({kIn, 2, GetParam().block, 0, GetParam().length});
    if (GetParam().expected.empty()) {
        EXPECT_EQ(a.kind, Answer::Kind::stall);
        EXPECT_EQ(l.device.state(), DfuState::error);
    } else {
        EXPECT_EQ(a, (Answer{Answer::Kind::data, GetParam().expected}));
        EXPECT_EQ(l.device.state(), DfuState::uploadIdle);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DfuseUpload,
    ::testing::Values(UploadCase{"CommandList", 0, 64, {0x00, 0x21, 0x41, 0x92}},
                      UploadCase{"CommandListShortened", 0, 2, {0x00, 0x21}},
                      UploadCase{"OldFirmware", 2, 4, {0xA5, 0xA5, 0xA5, 0xA5}},
                      UploadCase{"BlockOne", 1, 4, {}}, UploadCase{"PastTheFlash", 2 + 512, 4, {}}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
