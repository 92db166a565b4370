// The streaming outcome classifier on arbitrary output in arbitrary slices, checked against the
// plain line-by-line reading of the same rules: a different way to the same answer, so the
// fast one can be trusted.
#include "FlasherOutputReference.h"
#include "FlasherOutputScanner.h"
#include "FuzzCheck.h"
#include "UpdateOutcome.h"

#include <algorithm>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte picks the result code (time-out, failed start, or a finished run), how the
    // run ended and the size of the slices the output arrives in; the second the number of
    // elements of the checked image (0 to 3).
    const uint8_t pick = data[0];
    const int elements = data[1] & 3;
    const int32_t err = pick == 0xff ? kTimeoutCode : pick == 0xfe ? -1 : 0;
    static constexpr int kCodes[] = {0, 1, 74, 9};
    const FlasherExit exit{.signalled = (pick & 1) != 0, .code = kCodes[(pick >> 1) & 3]};
    const size_t slice = 1 + (pick >> 3) % 31;

    const std::string_view output(reinterpret_cast<const char*>(data) + 2, size - 2);
    FlasherOutputScanner scanner(elements);
    for (size_t at = 0; at < output.size(); at += slice) {
        scanner.feed(output.substr(at, slice));
    }
    const FlasherVerdict verdict = scanner.finish(exit);
    FUZZ_CHECK(verdict == referenceVerdict(output, exit, elements));

    const UpdateOutcome::Kind kind = UpdateOutcome::classify(err, verdict);
    FUZZ_CHECK(err == kTimeoutCode ? kind == UpdateOutcome::Kind::Timeout
               : err != 0          ? kind == UpdateOutcome::Kind::TransferFailed
                                   : kind != UpdateOutcome::Kind::Timeout &&
                                kind != UpdateOutcome::Kind::TransferFailed);
    FUZZ_CHECK(!UpdateOutcome::messages(kind).isEmpty());
    return 0;
}
