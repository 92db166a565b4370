// A USB bus for tests: devices in DFU mode present from the start, and devices that appear a
// number of looks after the test arms it (when the mixer has been told to restart), with this
// user's access to them coming a number of looks later still. A bus that tells of changes (as
// udev's monitor does) announces the appearance through an eventfd instead of being polled.
#pragma once

#include "DfuDevice.h"
#include "UsbDeviceSource.h"

#include <QString>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

class FakeUsbBus : public UsbDeviceSource {
public:
    // A bus that tells of changes may still miss some, as the kernel's own events may.
    explicit FakeUsbBus(bool tellsOfChanges = false, bool tellsEvery = true)
        : changes_(tellsOfChanges ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1),
          tellsEvery_(tellsEvery) {}
    ~FakeUsbBus() override {
        if (changes_ >= 0) {
            ::close(changes_);
        }
    }

    static DfuDevice device(const char* port, int address, uint16_t vendor = 0x0483,
                            const char* memory = kMixerMemory) {
        DfuDevice d{1, address, QString::fromLatin1(port), vendor, 0xDF11};
        d.productName = QStringLiteral("STM32  BOOTLOADER");
        d.memoryLayout = QString::fromLatin1(memory);
        return d;
    }
    static constexpr const char* kMixerMemory =
        "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";

    std::vector<DfuDevice> present;   // there all along
    std::vector<DfuDevice> appearing; // there from look appearAfter + 1 after arm()
    int appearAfter = 0;              // negative: never
    int writableAfter = 0;            // looks at the access after arm(); negative: never
    bool armed = false;
    int looks = 0;       // lists read since arm()
    int accessLooks = 0; // access checks since arm()

    // From now on looks count.
    void arm() { armed = true; }
    // As before the first update: the appearing devices gone, no looks counted.
    void disarm() {
        armed = false;
        announced_ = false;
        looks = 0;
        accessLooks = 0;
    }
    // A bus that tells: the appearing devices are there now, and it says so.
    void announce() {
        announced_ = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(changes_, &one, sizeof one);
    }

    std::vector<DfuDevice> dfuDevices() override {
        std::vector<DfuDevice> now = present;
        if (armed) {
            ++looks;
            const bool shown = changes_ >= 0 ? announced_ : appearAfter >= 0 && looks > appearAfter;
            if (shown) {
                now.insert(now.end(), appearing.begin(), appearing.end());
            }
        }
        return now;
    }
    bool writable(const DfuDevice&) override {
        if (!armed) {
            return writableAfter == 0;
        }
        return writableAfter >= 0 && ++accessLooks > writableAfter;
    }
    int changeDescriptor() override { return changes_; }
    bool tellsEveryChange() override { return changes_ >= 0 && tellsEvery_; }
    void takeChanges() override {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(changes_, &value, sizeof value);
    }

private:
    int changes_;
    bool tellsEvery_;
    bool announced_ = false;
};
