// The firmware file check on any bytes, with the DFU suffix's CRC made valid first so that
// mutations reach the DfuSe header, targets and elements. What it accepts must be what the
// flasher writes whole: DfuSe 1.1a for the loader, elements not empty, inside the file, not
// overlapping, names without line breaks. The first target's name is taken as a loader's memory
// description ("@Internal Flash  /0x08000000/04*016Kg,..."), and the image checked against it.
#include "DfuFileCheck.h"
#include "DfuseFile.h"
#include "DfuseMemoryLayout.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    if (size >= 16) {
        const uint32_t crc = dfutest::dfuCrc(file.data(), size - 4);
        for (int i = 0; i < 4; ++i) {
            file[size - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
        }
    }
    const DfuFileCheck::Result result = DfuFileCheck::checkBytes(file);
    FUZZ_CHECK(result.ok == result.problem.isEmpty());
    if (!result.ok) {
        FUZZ_CHECK(result.image.targets.empty());
        return 0;
    }
    const uint8_t* suffix = file.data() + size - 16;
    FUZZ_CHECK(suffix[6] == 0x1A && suffix[7] == 0x01 && suffix[8] == 'U');
    FUZZ_CHECK(std::equal(file.begin(), file.begin() + 5, "DfuSe"));
    FUZZ_CHECK(!result.summary.isEmpty());

    // Every element is data of the file, once: headers and data fit in it.
    std::vector<DfuseImage::Element> elements;
    uint64_t headers = 11;
    for (const DfuseImage::Target& target : result.image.targets) {
        FUZZ_CHECK(!target.name.contains(QLatin1Char('\n')) &&
                   !target.name.contains(QLatin1Char('\r')));
        headers += 274 + 8 * target.elements.size();
        elements.insert(elements.end(), target.elements.begin(), target.elements.end());
    }
    FUZZ_CHECK(!elements.empty());
    FUZZ_CHECK(headers + result.image.elementBytes() + suffix[11] == size);
    std::sort(elements.begin(), elements.end(),
              [](const auto& a, const auto& b) { return a.address < b.address; });
    for (std::size_t i = 0; i < elements.size(); ++i) {
        FUZZ_CHECK(elements[i].size > 0);
        FUZZ_CHECK(uint64_t{elements[i].address} + elements[i].size <= uint64_t{1} << 32);
        if (i > 0) {
            FUZZ_CHECK(uint64_t{elements[i - 1].address} + elements[i - 1].size <=
                       elements[i].address);
        }
    }

    // What fits lies in writable segments of the memory described.
    const QString memory = result.image.targets.front().name;
    const std::optional<DfuseMemoryLayout> layout = DfuseMemoryLayout::parse(memory);
    const QString problem = DfuFileCheck::fitProblem(result.image, memory);
    FUZZ_CHECK(layout.has_value() || !problem.isEmpty());
    if (layout && problem.isEmpty()) {
        for (const DfuseImage::Element& element : elements) {
            FUZZ_CHECK(std::any_of(layout->segments().begin(), layout->segments().end(),
                                   [&](const auto& s) {
                                       return (s.access & DfuseMemoryLayout::kWritable) != 0 &&
                                              s.start <= element.address && element.address < s.end;
                                   }));
        }
    }
    return 0;
}
