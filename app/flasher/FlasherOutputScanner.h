// Decides a flasher run's outcome from its output as it arrives: one pass over the bytes, a
// fixed amount of state whatever the output's size or line length, no allocation after
// construction. Pure: no threads, no clock, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// How the flasher ended.
struct FlasherExit {
    bool signalled = false; // killed by a signal (code is the signal number)
    int code = 0;           // exit status, or the signal number
};

// The outcomes a finished flasher can have; the order is the order of the tests.
enum class FlasherVerdict : uint8_t {
    Success,              // the image was written (see finish)
    PermissionDenied,     // the loader was found but this user may not open it
    TooManyDevices,       // more than one device in DFU mode
    DeviceNotFound,       // no device in DFU mode
    FileRefused,          // the flasher refused the file, or skipped part of it
    LibraryMissing,       // the flasher could not load a library
    TransferNotCompleted, // anything else
};

class FlasherOutputScanner {
public:
    // `expectedElements`: the elements of the checked image; a success needs one "Download
    // done." for each (none is possible with 0).
    explicit FlasherOutputScanner(int expectedElements);

    // The next bytes of the combined output, in any slicing. Lines end at '\n' or '\r' (the
    // flasher redraws its progress bars with carriage returns); phrases are matched ignoring
    // ASCII case, and only as whole lines of dfu-util's own (a phrase inside another line, such
    // as the "Target name: ..." line that copies the file, does not count).
    void feed(std::string_view bytes);

    // The verdict, once the flasher has ended. A success needs exactly one line "Download done."
    // per expected element, the line "Submitting leave request...", no "dfu-util: No alternate
    // setting N (skipping elements)" and an exit that is not a signal; the exit status does not
    // matter, as a device that resets on leaving makes dfu-util fail after the leave request
    // (status 74). Otherwise the first of these decides: "dfu-util: Cannot open DFU device ...
    // (LIBUSB_ERROR_ACCESS)", "dfu-util: More than one DFU capable USB device found...",
    // "dfu-util: No DFU capable USB device available", a refusal of the file ("dfu-util: Only
    // DfuSe file version 1.1a is supported", "dfu-util: No valid DfuSe signature", "dfu-util:
    // ... is not writeable", or skipped elements), a missing library ("image not found", "error
    // while loading shared libraries" before dfu-util's first line of its own), else
    // TransferNotCompleted.
    FlasherVerdict finish(FlasherExit exit);

private:
    void endLine();

    uint64_t expected_;
    uint16_t state_ = 0; // automaton state within the current line
    // The current line.
    uint32_t lineLength_ = 0; // bytes so far, saturating
    uint32_t lineHits_ = 0;   // phrases found anywhere in it
    uint32_t lineStarts_ = 0; // phrases it starts with
    uint32_t lastOut_ = 0;    // phrases that end at its last byte
    // The whole output so far.
    uint64_t doneLines_ = 0;
    bool sawOwnLine_ = false; // dfu-util has printed (so it loaded)
    bool sawLeave_ = false;
    bool sawSkip_ = false;
    bool sawAccess_ = false;
    bool sawManyDevices_ = false;
    bool sawNoDevice_ = false;
    bool sawFileRefused_ = false;
    bool sawLibrary_ = false;
};
