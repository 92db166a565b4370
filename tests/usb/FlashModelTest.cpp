// The emulated mixer's flash: the layout it is built from, and the rules a real flash keeps
// (writes only inside the sectors, and only into cells erased since their last write).
#include "FlashModel.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";

struct LayoutCase {
    const char* layout;
    size_t sectors; // 0: rejected
    uint32_t firstSize;
    uint32_t total;
};

class FlashLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(FlashLayout, ParsesTheSectorsOrRejects) {
    const auto sectors = FlashModel::parseLayout(GetParam().layout);
    if (GetParam().sectors == 0) {
        EXPECT_FALSE(sectors.has_value());
        return;
    }
    ASSERT_TRUE(sectors.has_value());
    EXPECT_EQ(sectors->size(), GetParam().sectors);
    EXPECT_EQ(sectors->front().size, GetParam().firstSize);
    const FlashModel flash(*sectors);
    EXPECT_EQ(flash.size(), GetParam().total);
    // Contiguous, in order.
    for (size_t i = 1; i < sectors->size(); ++i) {
        EXPECT_EQ((*sectors)[i].address, (*sectors)[i - 1].address + (*sectors)[i - 1].size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FlashLayout,
    ::testing::Values(LayoutCase{kLayout, 12, 16 * 1024, 1024 * 1024},
                      LayoutCase{"@Flash/0x00000000/2*001Ka", 2, 1024, 2048},
                      LayoutCase{"@Flash/0x08000000/1*1Mg", 1, 1024 * 1024, 1024 * 1024},
                      LayoutCase{"Internal Flash/0x08000000/04*016Kg", 0, 0, 0},
                      LayoutCase{"@Internal Flash  /08000000/04*016Kg", 0, 0, 0},
                      LayoutCase{"@Internal Flash  /0x08000000/04*016K", 0, 0, 0},
                      LayoutCase{"@Internal Flash  /0x08000000/", 0, 0, 0},
                      LayoutCase{"@Internal Flash  /0xFFFF0000/2*64Kg", 0, 0, 0}));

enum class Step { erase, write };
struct FlashCase {
    const char* name;
    std::vector<std::pair<Step, uint32_t>> before; // erases and one-byte writes
    uint32_t address;
    size_t length;
    bool written;
};

class FlashWrite : public ::testing::TestWithParam<FlashCase> {};

TEST_P(FlashWrite, OnlyIntoErasedCellsInsideTheSectors) {
    FlashModel flash(*FlashModel::parseLayout(kLayout));
    for (const auto& [step, address] : GetParam().before) {
        if (step == Step::erase) {
            ASSERT_TRUE(flash.erasePage(address));
        } else {
            const uint8_t byte = 0;
            ASSERT_TRUE(flash.write(address, {&byte, 1}));
        }
    }
    const std::vector<uint8_t> data(GetParam().length, 0x5A);
    const std::vector<uint8_t> old = flash.bytes();
    EXPECT_EQ(flash.write(GetParam().address, data), GetParam().written);
    if (GetParam().written) {
        EXPECT_EQ(flash.read(GetParam().address, data.size()), data);
    } else {
        EXPECT_EQ(flash.bytes(), old) << "a refused write changes nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, FlashWrite,
    ::testing::Values(
        FlashCase{"ErasedSector", {{Step::erase, 0x08000000}}, 0x08000000, 2048, true},
        FlashCase{"NotErased", {}, 0x08000000, 16, false},
        FlashCase{
            "AcrossIntoAnUnerasedSector", {{Step::erase, 0x08000000}}, 0x08003F00, 512, false},
        FlashCase{"AcrossTwoErasedSectors",
                  {{Step::erase, 0x08000000}, {Step::erase, 0x08004000}},
                  0x08003F00,
                  512,
                  true},
        FlashCase{"WrittenTwiceSinceTheErase",
                  {{Step::erase, 0x08010000}, {Step::write, 0x08010010}},
                  0x08010000,
                  64,
                  false},
        FlashCase{"ErasedAgainAfterAWrite",
                  {{Step::erase, 0x08010000}, {Step::write, 0x08010010}, {Step::erase, 0x0801FFFF}},
                  0x08010000,
                  64,
                  true},
        FlashCase{"BeforeTheFlash", {{Step::erase, 0x08000000}}, 0x07FFFFFF, 2, false},
        FlashCase{"PastTheEnd", {{Step::erase, 0x080E0000}}, 0x080FFFFF, 2, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FlashErase, ErasesExactlyTheSectorThatHoldsTheAddress) {
    FlashModel flash(*FlashModel::parseLayout(kLayout));
    ASSERT_TRUE(flash.erasePage(0x08012345)); // the 64 KiB sector at 0x08010000
    EXPECT_EQ(flash.read(0x08010000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(flash.read(0x0800FFFF, 1), std::vector<uint8_t>{0xA5});
    EXPECT_EQ(flash.read(0x08020000, 1), std::vector<uint8_t>{0xA5});
    EXPECT_FALSE(flash.erasePage(0x08100000));
    EXPECT_EQ(flash.erasures(), 1);
}

} // namespace
