// dfu-util's real output, recorded from the emulated mixer (transcripts/README.md).
#pragma once

#include "FlasherOutputScanner.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

struct Transcript {
    std::string output;
    FlasherExit exit;
};

inline Transcript transcript(const std::string& name) {
    const std::string dir = VQ_TRANSCRIPTS_DIR;
    std::ifstream file(dir + "/" + name + ".out", std::ios::binary);
    if (!file) {
        throw std::runtime_error("no transcript " + name);
    }
    Transcript t{{std::istreambuf_iterator<char>(file), {}}, {}};
    std::ifstream exits(dir + "/exits.txt");
    for (std::string line; std::getline(exits, line);) {
        std::istringstream fields(line);
        std::string recorded;
        if (fields >> recorded && recorded == name && fields >> t.exit.code) {
            return t;
        }
    }
    throw std::runtime_error("no exit status for " + name);
}
