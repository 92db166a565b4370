// What a checked DfuSe file holds: its targets and their elements, each an address and a size.
// Carried by value from the file check to the verdict and the progress of the write.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct DfuseImage {
    struct Element {
        uint32_t address = 0;
        uint32_t size = 0;
        bool operator==(const Element&) const = default;
    };
    struct Target {
        QString name; // empty when the target is unnamed
        std::vector<Element> elements;
        bool operator==(const Target&) const = default;
    };

    std::vector<Target> targets; // all for alternate setting 0, in the file's order

    int elementCount() const {
        std::size_t count = 0;
        for (const Target& target : targets) {
            count += target.elements.size();
        }
        return static_cast<int>(count);
    }
    // The bytes the flasher writes: the elements' data, without any header.
    uint64_t elementBytes() const {
        uint64_t bytes = 0;
        for (const Target& target : targets) {
            for (const Element& element : target.elements) {
                bytes += element.size;
            }
        }
        return bytes;
    }
    bool operator==(const DfuseImage&) const = default;
};
