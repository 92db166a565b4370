// The outcome rules written the plain way: split the whole text into lines, test each line with
// substring searches. Slow and simple, the yardstick for the streaming FlasherOutputScanner.
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

inline bool referenceErrorLine(const std::string& line) {
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t' ||
                                   line[start] == '\v' || line[start] == '\f')) {
        ++start;
    }
    if (line.compare(start, 9, "dfu-util:") == 0) {
        return true;
    }
    for (const char* marker :
         {"fail", "cannot", "could not", "unable", "no dfu capable", "not found", "corrupt"}) {
        if (line.find(marker) != std::string::npos) {
            return true;
        }
    }
    // An "error" that is not the one inside "no error condition is present".
    const std::string allIsWell = "no error condition is present";
    for (std::size_t at = line.find("error"); at != std::string::npos;
         at = line.find("error", at + 1)) {
        if (at < 3 || line.compare(at - 3, allIsWell.size(), allIsWell) != 0) {
            return true;
        }
    }
    return false;
}

inline FlasherVerdict referenceVerdict(std::string_view output, FlasherExit exit) {
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

    const auto any = [&](const char* phrase) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(phrase) != std::string::npos;
        });
    };
    std::ptrdiff_t lastDone = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("download done.") != std::string::npos) {
            lastDone = static_cast<std::ptrdiff_t>(i);
        }
    }
    bool errorAfterDone = false;
    for (std::size_t i = static_cast<std::size_t>(lastDone + 1); lastDone >= 0 && i < lines.size();
         ++i) {
        errorAfterDone = errorAfterDone || referenceErrorLine(lines[i]);
    }
    if (lastDone >= 0 && !exit.signalled &&
        (any("submitting leave request") || (exit.code == 0 && !errorAfterDone))) {
        return FlasherVerdict::Success;
    }
    if (any("libusb_error_access")) {
        return FlasherVerdict::PermissionDenied;
    }
    if (any("no dfu capable usb device available")) {
        return FlasherVerdict::DeviceNotFound;
    }
    if (any("image not found") || any("error while loading shared libraries")) {
        return FlasherVerdict::LibraryMissing;
    }
    return FlasherVerdict::TransferNotCompleted;
}
