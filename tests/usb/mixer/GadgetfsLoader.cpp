#include "GadgetfsLoader.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr uint16_t kVendor = 0x0483;
constexpr uint16_t kProduct = 0xdf11;
constexpr uint16_t kDeviceRelease = 0x2200;
constexpr uint8_t kManufacturerString = 1;
constexpr uint8_t kProductString = 2;
constexpr uint8_t kSerialString = 3;
constexpr uint8_t kInterfaceString = 4;
// How long the loader still answers after the leave's status, before its reset takes it away.
constexpr auto kResetGrace = std::chrono::milliseconds(100);

#pragma pack(push, 1)
struct DfuFunctionalDescriptor {
    uint8_t bLength = sizeof(DfuFunctionalDescriptor);
    uint8_t bDescriptorType = 0x21;
    uint8_t bmAttributes = 0x0B; // can download, can upload, will detach
    uint16_t wDetachTimeOut = 255;
    uint16_t wTransferSize = DfuseDevice::kTransferSize;
    uint16_t bcdDFUVersion = 0x011a; // DfuSe
};
struct Configuration {
    usb_config_descriptor config;
    usb_interface_descriptor interface;
    DfuFunctionalDescriptor functional;
};
#pragma pack(pop)

Configuration configuration() {
    Configuration c{};
    c.config.bLength = USB_DT_CONFIG_SIZE;
    c.config.bDescriptorType = USB_DT_CONFIG;
    c.config.wTotalLength = sizeof(Configuration);
    c.config.bNumInterfaces = 1;
    c.config.bConfigurationValue = 1;
    c.config.bmAttributes = USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER;
    c.config.bMaxPower = 50;
    c.interface.bLength = USB_DT_INTERFACE_SIZE;
    c.interface.bDescriptorType = USB_DT_INTERFACE;
    c.interface.bInterfaceClass = USB_CLASS_APP_SPEC;
    c.interface.bInterfaceSubClass = 0x01; // device firmware upgrade
    c.interface.bInterfaceProtocol = 0x02; // DFU mode
    c.interface.iInterface = kInterfaceString;
    c.functional = DfuFunctionalDescriptor{};
    return c;
}

usb_device_descriptor deviceDescriptor() {
    usb_device_descriptor d{};
    d.bLength = USB_DT_DEVICE_SIZE;
    d.bDescriptorType = USB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bMaxPacketSize0 = 64;
    d.idVendor = kVendor;
    d.idProduct = kProduct;
    d.bcdDevice = kDeviceRelease;
    d.iManufacturer = kManufacturerString;
    d.iProduct = kProductString;
    d.iSerialNumber = kSerialString;
    d.bNumConfigurations = 1;
    return d;
}

template <typename T> void append(std::vector<uint8_t>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

std::string errorText() {
    return std::strerror(errno);
}

} // namespace

GadgetfsLoader::GadgetfsLoader(DfuseDevice& device, std::string controllerFile,
                               std::string layoutName, Faults faults,
                               std::function<void(const std::string&)> log)
    : device_(device), controllerFile_(std::move(controllerFile)),
      layoutName_(std::move(layoutName)), faults_(faults), log_(std::move(log)) {}

bool GadgetfsLoader::plugIn(int fd) {
    // Tag 0, the full-speed and the high-speed configuration (the same: no endpoints but 0),
    // then the device descriptor. Writing it binds the controller: the host sees the device.
    std::vector<uint8_t> descriptors;
    append(descriptors, uint32_t{0});
    append(descriptors, configuration());
    append(descriptors, configuration());
    append(descriptors, deviceDescriptor());
    if (write(fd, descriptors.data(), descriptors.size()) !=
        static_cast<ssize_t>(descriptors.size())) {
        log_("ERROR gadgetfs refused the descriptors: " + errorText());
        return false;
    }
    return true;
}

std::vector<uint8_t> GadgetfsLoader::stringDescriptor(uint8_t index) const {
    if (index == 0) {
        return {4, USB_DT_STRING, 0x09, 0x04}; // English (United States)
    }
    std::string text;
    switch (index) {
    case kManufacturerString:
        text = "STMicroelectronics";
        break;
    case kProductString:
        text = "STM32  BOOTLOADER";
        break;
    case kSerialString:
        text = "VQ320EMULATED";
        break;
    case kInterfaceString:
        text = layoutName_;
        break;
    default:
        return {};
    }
    std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

bool GadgetfsLoader::serveStandard(int fd, const SetupRequest& request) {
    const bool in = (request.requestType & USB_DIR_IN) != 0;
    if (request.request == USB_REQ_GET_DESCRIPTOR && request.value >> 8 == USB_DT_STRING) {
        std::vector<uint8_t> text = stringDescriptor(static_cast<uint8_t>(request.value & 0xFF));
        if (!text.empty()) {
            text.resize(std::min<size_t>(text.size(), request.length));
            return write(fd, text.data(), text.size()) >= 0;
        }
    } else if (request.request == USB_REQ_SET_CONFIGURATION ||
               (request.request == USB_REQ_SET_INTERFACE && request.value == 0)) {
        return read(fd, nullptr, 0) >= 0; // the status stage acknowledges
    } else if (request.request == USB_REQ_GET_INTERFACE && in) {
        const uint8_t alternate = 0;
        return write(fd, &alternate, 1) >= 0;
    }
    // Not supported: stall (gadgetfs stalls on a read for IN, a write for OUT; EL2HLT says so).
    const ssize_t n = in ? read(fd, nullptr, 0) : write(fd, nullptr, 0);
    return n >= 0 || errno == EL2HLT;
}

bool GadgetfsLoader::serve(int fd, const SetupRequest& request) {
    if ((request.requestType & USB_TYPE_MASK) == USB_TYPE_STANDARD) {
        return serveStandard(fd, request);
    }
    const bool in = (request.requestType & USB_DIR_IN) != 0;
    std::vector<uint8_t> data;
    if (!in && request.length > 0) {
        // The OUT data stage: gadgetfs queued it with the SETUP event; one read collects it.
        data.resize(request.length);
        const ssize_t n = read(fd, data.data(), data.size());
        if (n < 0) {
            log_("ERROR reading a request's data: " + errorText());
            return false;
        }
        data.resize(static_cast<size_t>(n));
    }
    const DfuseDevice::Answer answer =
        (request.requestType & USB_TYPE_MASK) == USB_TYPE_CLASS
            ? device_.handle(request, data)
            : DfuseDevice::Answer{DfuseDevice::Answer::Kind::stall, {}};
    switch (answer.kind) {
    case DfuseDevice::Answer::Kind::data:
        return write(fd, answer.data.data(),
                     std::min<size_t>(answer.data.size(), request.length)) >= 0;
    case DfuseDevice::Answer::Kind::ack:
        // An OUT request with data completed with its data stage.
        return (!in && request.length > 0) || read(fd, nullptr, 0) >= 0;
    case DfuseDevice::Answer::Kind::stall: {
        if (!in && request.length > 0) {
            return true; // gadgetfs cannot stall after the data stage; the state says error
        }
        const ssize_t n = in ? read(fd, nullptr, 0) : write(fd, nullptr, 0);
        return n >= 0 || errno == EL2HLT;
    }
    }
    return false;
}

GadgetfsLoader::Ending GadgetfsLoader::run(int stopFd) {
    const int fd = open(controllerFile_.c_str(), O_RDWR);
    if (fd < 0) {
        log_("ERROR cannot open " + controllerFile_ + ": " + errorText());
        return Ending::failed;
    }
    if (!plugIn(fd)) {
        close(fd);
        return Ending::failed;
    }
    log_("LOADER plugged in");
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> resetAt;
    Ending ending = Ending::failed;
    for (;;) {
        int timeout = -1;
        if (resetAt) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*resetAt - Clock::now());
            if (left.count() <= 0) {
                ending = Ending::reset;
                break;
            }
            timeout = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            ending = Ending::stopped;
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        usb_gadgetfs_event event{};
        const ssize_t n = read(fd, &event, sizeof event);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EIDRM) {
                continue; // EIDRM: the host gave up on a request; the next event follows
            }
            log_("ERROR reading endpoint 0: " + errorText());
            break;
        }
        if (n != sizeof event || event.type != GADGETFS_SETUP) {
            continue; // connect, disconnect, suspend: nothing to do
        }
        const usb_ctrlrequest& setup = event.u.setup;
        const SetupRequest request{setup.bRequestType, setup.bRequest, setup.wValue, setup.wIndex,
                                   setup.wLength};
        if (!serve(fd, request)) {
            log_("ERROR answering request " + std::to_string(request.request) + ": " + errorText());
            break;
        }
        if (faults_.resetOnLeave && device_.leaveRequested() && !resetAt) {
            ending = Ending::reset; // gone before the host asks for the status
            break;
        }
        if (faults_.vanishAfterBlocks &&
            device_.dataBlocksWritten() >= *faults_.vanishAfterBlocks) {
            ending = Ending::vanished;
            break;
        }
        if (device_.leaveAnswered() && !resetAt) {
            resetAt = Clock::now() + kResetGrace;
        }
    }
    close(fd); // unplugs
    return ending;
}
