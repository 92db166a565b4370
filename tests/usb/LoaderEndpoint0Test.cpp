// What the loader shows the host at enumeration and what dfu-util reads from it: the device,
// the DFU interface with its functional descriptor, the flash layout as the interface's name,
// answers cut to the host's length, and stalls for what it does not have.
#include "LoaderEndpoint0.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";

std::vector<uint8_t> utf16(const std::string& text) {
    std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) {
        out.insert(out.end(), {static_cast<uint8_t>(c), 0});
    }
    return out;
}

struct Case {
    const char* name;
    SetupRequest request;
    bool stalled;
    std::vector<uint8_t> expected; // the reply's data (when not stalled)
};

class LoaderEnumeration : public ::testing::TestWithParam<Case> {};

TEST_P(LoaderEnumeration, AnswersOrStalls) {
    FlashModel flash(*FlashModel::parseLayout(kLayout));
    DfuseDevice device(flash, {});
    LoaderEndpoint0 endpoint0(device, kLayout);
    const LoaderEndpoint0::Reply reply = endpoint0.handle(GetParam().request);
    EXPECT_EQ(reply.stalled, GetParam().stalled);
    if (!GetParam().stalled) {
        EXPECT_EQ(reply.data, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, LoaderEnumeration,
    ::testing::Values(
        Case{"DeviceDescriptor",
             {0x80, 6, 0x0100, 0, 18},
             false,
             {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x83, 0x04, 0x11, 0xdf, 0x00, 0x22, 1, 2, 3, 1}},
        Case{"DeviceDescriptorFirstEightBytes",
             {0x80, 6, 0x0100, 0, 8},
             false,
             {18, 1, 0x00, 0x02, 0, 0, 0, 64}},
        Case{"Configuration",
             {0x80, 6, 0x0200, 0, 255},
             false,
             {9, 2,    27,   0,    1,    1,    0,    0xC0, 50,     // one interface
              9, 4,    0,    0,    0,    0xFE, 0x01, 0x02, 4,      // DFU mode, name string 4
              9, 0x21, 0x0B, 0xFF, 0x00, 0x00, 0x08, 0x1a, 0x01}}, // 2048 bytes, DfuSe
        Case{"ConfigurationHeaderOnly",
             {0x80, 6, 0x0200, 0, 9},
             false,
             {9, 2, 27, 0, 1, 1, 0, 0xC0, 50}},
        Case{"Languages", {0x80, 6, 0x0300, 0x0000, 255}, false, {4, 3, 0x09, 0x04}},
        Case{
            "InterfaceNameIsTheFlashLayout", {0x80, 6, 0x0304, 0x0409, 255}, false, utf16(kLayout)},
        Case{"NoSuchString", {0x80, 6, 0x0309, 0x0409, 255}, true, {}},
        Case{"NoDeviceQualifier", {0x80, 6, 0x0600, 0, 10}, true, {}},
        Case{"SecondConfiguration", {0x00, 9, 2, 0, 0}, true, {}},
        Case{"AlternateSettingOne", {0x01, 11, 1, 0, 0}, true, {}},
        Case{"ClassRequestToAnotherInterface", {0xA1, 3, 0, 1, 6}, true, {}},
        Case{"VendorRequest", {0xC0, 1, 0, 0, 4}, true, {}},
        Case{"DfuStatusThroughEndpointZero", {0xA1, 3, 0, 0, 6}, false, {0, 0, 0, 0, 2, 0}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(LoaderEnumeration, RemembersTheConfigurationTheHostChose) {
    FlashModel flash(*FlashModel::parseLayout(kLayout));
    DfuseDevice device(flash, {});
    LoaderEndpoint0 endpoint0(device, kLayout);
    EXPECT_EQ(endpoint0.configuration(), 0);
    EXPECT_FALSE(endpoint0.handle({0x00, 9, 1, 0, 0}).stalled);
    EXPECT_EQ(endpoint0.configuration(), 1);
    EXPECT_EQ(endpoint0.handle({0x80, 8, 0, 0, 1}).data, std::vector<uint8_t>{1});
}

} // namespace
