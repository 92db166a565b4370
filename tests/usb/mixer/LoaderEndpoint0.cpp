#include "LoaderEndpoint0.h"

#include "LoaderDescriptors.h"

#include <algorithm>

namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeStandard = 0x00;
constexpr uint8_t kTypeClass = 0x20;

enum StandardRequest : uint8_t {
    kGetStatus = 0,
    kClearFeature = 1,
    kSetFeature = 3,
    kGetDescriptor = 6,
    kGetConfiguration = 8,
    kSetConfiguration = 9,
    kGetInterface = 10,
    kSetInterface = 11,
};

LoaderEndpoint0::Reply stall() {
    return {true, {}};
}

} // namespace

LoaderEndpoint0::LoaderEndpoint0(DfuseDevice& device, std::string interfaceName, uint16_t vendor)
    : device_(device), interfaceName_(std::move(interfaceName)), vendor_(vendor) {}

LoaderEndpoint0::Reply LoaderEndpoint0::handle(const SetupRequest& request,
                                               std::span<const uint8_t> outData) {
    Reply reply;
    switch (request.requestType & kTypeMask) {
    case kTypeStandard:
        reply = standard(request);
        break;
    case kTypeClass: {
        // Only interface 0 exists.
        if ((request.index & 0xFF) != 0) {
            return stall();
        }
        const DfuseDevice::Answer answer = device_.handle(request, outData);
        if (answer.kind == DfuseDevice::Answer::Kind::stall) {
            return stall();
        }
        reply.data = answer.data;
        break;
    }
    default:
        return stall();
    }
    if (reply.data.size() > request.length) {
        reply.data.resize(request.length);
    }
    return reply;
}

LoaderEndpoint0::Reply LoaderEndpoint0::standard(const SetupRequest& request) {
    const bool in = (request.requestType & kDirectionIn) != 0;
    switch (request.request) {
    case kGetDescriptor: {
        if (!in) {
            return stall();
        }
        const auto type = static_cast<uint8_t>(request.value >> 8);
        const auto index = static_cast<uint8_t>(request.value & 0xFF);
        std::vector<uint8_t> descriptor;
        if (type == 0x01) {
            descriptor = loader::deviceDescriptor(vendor_);
        } else if (type == 0x02 && index == 0) {
            descriptor = loader::configurationDescriptor();
        } else if (type == 0x03) {
            descriptor = loader::stringDescriptor(index, interfaceName_);
        }
        if (descriptor.empty()) {
            return stall(); // a full-speed-only device has no qualifier; nothing else exists
        }
        return {false, std::move(descriptor)};
    }
    case kSetConfiguration:
        if (request.value > 1) {
            return stall();
        }
        configuration_ = static_cast<uint8_t>(request.value);
        return {};
    case kGetConfiguration:
        return {false, {configuration_}};
    case kSetInterface:
        return request.value == 0 && request.index == 0 ? Reply{} : stall();
    case kGetInterface:
        return {false, {0}};
    case kGetStatus:
        return {false, {0, 0}};
    case kClearFeature:
    case kSetFeature:
        return {};
    default:
        return stall();
    }
}
