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
    DeviceNotFound,       // no device in DFU mode
    LibraryMissing,       // the flasher could not load a library
    TransferNotCompleted, // anything else
};

class FlasherOutputScanner {
public:
    FlasherOutputScanner();

    // The next bytes of the combined output, in any slicing. Lines end at '\n' or '\r' (the
    // flasher redraws its progress bars with carriage returns); phrases are matched ignoring
    // ASCII case.
    void feed(std::string_view bytes);

    // The verdict, once the flasher has ended. A success needs "Download done." and an exit
    // that is not a signal, and then either "Submitting leave request" (the device resets on
    // leaving, so the flasher may fail after it, e.g. with status 74) or exit status 0 with no
    // error line after the last "Download done.". Otherwise the first of these that was seen
    // decides: LIBUSB_ERROR_ACCESS, "No DFU capable USB device available", a missing library
    // ("image not found", "error while loading shared libraries"), else TransferNotCompleted.
    //
    // An error line starts with "dfu-util:" (after blanks), or holds "fail", "cannot", "could
    // not", "unable", "no dfu capable", "not found", "corrupt", or an "error" that is not part
    // of the all-is-well status "No error condition is present".
    FlasherVerdict finish(FlasherExit exit);

    // Whether "Download done." has been seen so far.
    bool downloadDone() const { return sawDone_; }

private:
    void endLine();

    uint16_t state_ = 0; // automaton state within the current line
    // The current line.
    uint32_t lineHits_ = 0;     // phrase bits seen on it
    uint64_t lineErrors_ = 0;   // "error" occurrences
    uint64_t lineNoErrors_ = 0; // "no error condition is present" occurrences
    int8_t prefix_ = 0;         // >= 0: characters of "dfu-util:" matched after blanks
    bool lineEmpty_ = true;     // nothing since the last line end
    // The whole output so far.
    bool sawDone_ = false;
    bool errorAfterDone_ = false;
    bool sawLeave_ = false;
    bool sawAccess_ = false;
    bool sawNoDevice_ = false;
    bool sawLibrary_ = false;
};
