// The loader's endpoint 0: the standard requests of enumeration (descriptors, configuration,
// interface) and the DFU class requests, which go to the DfuseDevice.
#pragma once

#include "DfuseDevice.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class LoaderEndpoint0 {
public:
    struct Reply {
        bool stalled = false;
        std::vector<uint8_t> data; // an IN request's data, at most its wLength
        bool operator==(const Reply&) const = default;
    };

    LoaderEndpoint0(DfuseDevice& device, std::string interfaceName, uint16_t vendor = 0x0483);

    Reply handle(const SetupRequest& request, std::span<const uint8_t> outData = {});

    uint8_t configuration() const { return configuration_; }

private:
    Reply standard(const SetupRequest& request);

    DfuseDevice& device_;
    std::string interfaceName_;
    uint16_t vendor_;
    uint8_t configuration_ = 0;
};
