// The bounded head and tail kept of a flasher's output.
#include "OutputExcerpt.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct ExcerptCase {
    const char* name;
    std::vector<std::string> slices;
    QString text;
    uint64_t omitted;
};

void PrintTo(const ExcerptCase& c, std::ostream* os) {
    *os << c.name;
}

class Excerpts : public ::testing::TestWithParam<ExcerptCase> {};

TEST_P(Excerpts, KeepTheHeadAndTheTail) {
    OutputExcerpt excerpt(4, 5);
    uint64_t total = 0;
    for (const std::string& slice : GetParam().slices) {
        excerpt.append(slice);
        total += slice.size();
    }
    EXPECT_EQ(excerpt.text(), GetParam().text);
    EXPECT_EQ(excerpt.omittedBytes(), GetParam().omitted);
    EXPECT_EQ(excerpt.totalBytes(), total);
}

INSTANTIATE_TEST_SUITE_P(
    HeadFourTailFive, Excerpts,
    ::testing::Values(ExcerptCase{"Empty", {}, QString(), 0},
                      ExcerptCase{"FitsWhole", {"abc", "defgh", "i"}, "abcdefghi", 0},
                      ExcerptCase{"OneLeftOut",
                                  {"abcdefghij"},
                                  "abcd\n[... 1 bytes of output "
                                  "left out ...]\nfghij",
                                  1},
                      ExcerptCase{"RingWrapsByteByByte",
                                  {"ab", "cd", "e", "f", "g", "h", "i", "j", "k", "l", "m"},
                                  "abcd\n[... 4 bytes of output left out ...]\nijklm",
                                  4},
                      ExcerptCase{"LongSliceAfterTheRing",
                                  {"abcdefg", "hi", std::string(100, 'x') + "12345"},
                                  "abcd\n[... 105 bytes of output left out ...]\n12345",
                                  105}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
