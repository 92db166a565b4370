// The outcome rules written the plain way: split the whole text into lines, compare each line
// with whole strings. Slow and simple, the yardstick for the streaming FlasherOutputScanner.
#pragma once

#include "FlasherOutputScanner.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

inline std::string asciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

inline FlasherVerdict referenceVerdict(std::string_view output, FlasherExit exit,
                                       int expectedElements) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : output) {
        if (c == '\n' || c == '\r') {
            lines.push_back(asciiLower(line));
            line.clear();
        } else {
            line += c;
        }
    }
    lines.push_back(asciiLower(line));

    const auto any = [&](auto test) { return std::any_of(lines.begin(), lines.end(), test); };
    const auto is = [](std::string_view whole) {
        return [whole](const std::string& l) { return l == whole; };
    };
    const auto startsWith = [](std::string_view head) {
        return [head](const std::string& l) { return l.starts_with(head); };
    };
    const auto startsAndEnds = [](std::string_view head, std::string_view tail) {
        return [head, tail](const std::string& l) {
            return l.size() >= head.size() + tail.size() && l.starts_with(head) &&
                   l.ends_with(tail);
        };
    };
    const auto done = std::count(lines.begin(), lines.end(), "download done.");
    const bool skipped =
        any(startsAndEnds("dfu-util: no alternate setting ", " (skipping elements)"));
    if (!exit.signalled && expectedElements > 0 && done == expectedElements &&
        any(is("submitting leave request...")) && !skipped) {
        return FlasherVerdict::Success;
    }
    if (any(startsAndEnds("dfu-util: cannot open dfu device ", "(libusb_error_access)"))) {
        return FlasherVerdict::PermissionDenied;
    }
    if (any(startsWith("dfu-util: more than one dfu capable usb device found"))) {
        return FlasherVerdict::TooManyDevices;
    }
    if (any(is("dfu-util: no dfu capable usb device available"))) {
        return FlasherVerdict::DeviceNotFound;
    }
    if (skipped || any(startsWith("dfu-util: only dfuse file version 1.1a is supported")) ||
        any(is("dfu-util: no valid dfuse signature")) ||
        any(startsAndEnds("dfu-util:", " is not writeable"))) {
        return FlasherVerdict::FileRefused;
    }
    // The system's loader: only before dfu-util's first line of its own.
    for (const std::string& l : lines) {
        if (l.find("image not found") != std::string::npos ||
            l.find("error while loading shared libraries") != std::string::npos) {
            return FlasherVerdict::LibraryMissing;
        }
        if (l.starts_with("dfu-util")) {
            break;
        }
    }
    return FlasherVerdict::TransferNotCompleted;
}
