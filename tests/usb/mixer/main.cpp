// The emulated MIRT VQ320 on the real USB stack (see docs/VM-TESTS.md): a USB-MIDI device that
// restarts into an STM32-style DfuSe loader on the enter-DFU SysEx, takes a firmware download
// into its flash model and comes back as a MIDI device. Runs as root where dummy_hcd, configfs
// and vhci_hcd are loaded (the test VM). It reports on standard output, one line each:
//   MIDI plugged in | RECEIVED f0 .. f7 | RESTARTING | LOADER plugged in | LOADER enumerated |
//   DOWNLOAD started | RESET after N blocks | VANISHED after N blocks | DUMP path | ERROR text
// and unplugs and exits when its standard input closes. With --loader-only it is another board
// waiting in its DFU loader from the start (of another vendor with --vendor), never in MIDI mode.
#include "DfuseDevice.h"
#include "FlashModel.h"
#include "MidiGadget.h"
#include "UsbipLoader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto kLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
const std::vector<unsigned char> kEnterLoader = {0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};

struct Options {
    std::string controller = "dummy_udc.0";
    std::string vhci = "/sys/devices/platform/vhci_hcd.0";
    int loaderDelayMs = 200;
    uint32_t pollTimeoutMs = 1;
    bool ignoreSysEx = false;
    std::optional<int> failWriteAfter;
    std::optional<int> vanishAfter;
    std::optional<int> stallAfter;
    bool resetOnLeave = false;
    bool trace = false;
    bool loaderOnly = false;
    uint16_t vendor = 0x0483;
    std::string dumpPath;
};

void report(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void usage() {
    std::fprintf(stderr,
                 "usage: vq_emulated_mixer [--dump FILE] [--loader-delay-ms N] [--ignore-sysex]\n"
                 "         [--fail-write-after BLOCKS] [--vanish-after BLOCKS] [--reset-on-leave]\n"
                 "         [--stall-after BLOCKS]\n"
                 "         [--poll-timeout-ms N] [--controller UDC] [--vhci DIR] [--trace]\n"
                 "         [--loader-only [--vendor HEX]]\n");
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&]() { return std::atoi(argv[++i]); };
        if (arg == "--ignore-sysex") {
            o.ignoreSysEx = true;
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "--reset-on-leave") {
            o.resetOnLeave = true;
        } else if (arg == "--loader-only") {
            o.loaderOnly = true;
        } else if (!hasValue) {
            return std::nullopt;
        } else if (arg == "--dump") {
            o.dumpPath = argv[++i];
        } else if (arg == "--loader-delay-ms") {
            o.loaderDelayMs = number();
        } else if (arg == "--poll-timeout-ms") {
            o.pollTimeoutMs = static_cast<uint32_t>(number());
        } else if (arg == "--fail-write-after") {
            o.failWriteAfter = number();
        } else if (arg == "--vanish-after") {
            o.vanishAfter = number();
        } else if (arg == "--stall-after") {
            o.stallAfter = number();
        } else if (arg == "--vendor") {
            o.vendor = static_cast<uint16_t>(std::strtoul(argv[++i], nullptr, 16));
        } else if (arg == "--controller") {
            o.controller = argv[++i];
        } else if (arg == "--vhci") {
            o.vhci = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    return o;
}

std::string hex(const std::vector<unsigned char>& bytes) {
    std::string text;
    char byte[4];
    for (unsigned char b : bytes) {
        std::snprintf(byte, sizeof byte, " %02x", b);
        text += byte;
    }
    return text;
}

// Waits `ms` milliseconds unless standard input closes first (false then).
bool pause(int ms) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    return poll(&fd, 1, ms) == 0;
}

// Writes the whole flash to `path` (when one was given) and says so.
bool dump(const FlashModel& flash, const std::string& path) {
    if (path.empty()) {
        return true;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(flash.bytes().data()),
               static_cast<std::streamsize>(flash.bytes().size()));
    if (!file) {
        report("ERROR cannot write " + path);
        return false;
    }
    report("DUMP " + path);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        usage();
        return 2;
    }
    FlashModel flash(*FlashModel::parseLayout(kLayout));
    const UsbipLoader::Faults faults{options->vanishAfter, options->resetOnLeave, options->trace,
                                     options->vendor};
    if (options->loaderOnly) {
        // Another board in its loader: it waits, whatever is written to it, until told to go.
        DfuseDevice device(flash,
                           {options->pollTimeoutMs, options->failWriteAfter, options->stallAfter});
        UsbipLoader loader(device, options->vhci, kLayout, faults, report);
        const UsbipLoader::Ending ending = loader.run(STDIN_FILENO);
        return dump(flash, options->dumpPath) && ending != UsbipLoader::Ending::failed ? 0 : 1;
    }
    MidiGadget midi(options->controller, report);

    for (;;) {
        if (!midi.plugIn()) {
            return 1;
        }
        report("MIDI plugged in");
        std::vector<unsigned char> message;
        bool restart = false;
        while (!restart) {
            if (!midi.nextSysEx(STDIN_FILENO, message)) {
                return 0; // told to go (the gadget unplugs as it is destroyed)
            }
            report("RECEIVED" + hex(message));
            restart = message == kEnterLoader && !options->ignoreSysEx;
        }
        midi.unplug();
        report("RESTARTING");
        if (!pause(options->loaderDelayMs)) {
            return 0;
        }

        DfuseDevice device(flash,
                           {options->pollTimeoutMs, options->failWriteAfter, options->stallAfter});
        UsbipLoader loader(device, options->vhci, kLayout, faults, report);
        const UsbipLoader::Ending ending = loader.run(STDIN_FILENO);
        const std::string blocks = std::to_string(device.dataBlocksWritten()) + " blocks";
        if (!dump(flash, options->dumpPath)) {
            return 1;
        }
        switch (ending) {
        case UsbipLoader::Ending::reset:
            report("RESET after " + blocks);
            break;
        case UsbipLoader::Ending::vanished:
            report("VANISHED after " + blocks);
            break;
        case UsbipLoader::Ending::stopped:
            return 0;
        case UsbipLoader::Ending::failed:
            return 1;
        }
        // Back in MIDI mode, as after a power cycle.
    }
}
