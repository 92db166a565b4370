// The pace towards a hardware port: a burst goes at once, the rest at the drain rate.
#include "alsa/AlsaFlow.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using alsa::OutputPacer;

struct Step {
    std::chrono::milliseconds at; // since the start
    size_t bytes;
    std::chrono::milliseconds wait; // what reserve() answers
};

struct PacerCase {
    const char* name;
    double bytesPerSecond;
    size_t burst;
    std::vector<Step> steps;
};

class Pacer : public ::testing::TestWithParam<PacerCase> {};

TEST_P(Pacer, WaitsOnlyForWhatExceedsTheBurst) {
    const PacerCase& c = GetParam();
    OutputPacer pacer(c.bytesPerSecond, c.burst);
    const auto start = OutputPacer::Clock::time_point{} + 1h;
    for (const Step& step : c.steps) {
        const auto wait = pacer.reserve(step.bytes, start + step.at);
        const double waitMs = std::chrono::duration<double, std::milli>(wait).count();
        EXPECT_NEAR(waitMs, static_cast<double>(step.wait.count()), 0.01)
            << "at " << step.at.count() << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buckets, Pacer,
    ::testing::Values(
        // A short message never waits.
        PacerCase{"Short", 1000, 100, {{0ms, 6, 0ms}, {0ms, 6, 0ms}}},
        // Past the burst, the excess waits at the drain rate (1000 B/s: 1 ms a byte).
        PacerCase{"Burst", 1000, 100, {{0ms, 100, 0ms}, {0ms, 50, 50ms}, {0ms, 50, 100ms}}},
        // Time drains the bucket; it never drains below empty.
        PacerCase{"Drains", 1000, 100, {{0ms, 150, 50ms}, {50ms, 50, 50ms}, {10s, 100, 0ms}}},
        // A message larger than the burst waits for its own excess.
        PacerCase{"Large", 3125, 2048, {{0ms, 2048 + 3125, 1000ms}}}),
    [](const auto& p) { return std::string(p.param.name); });

struct CellsCase {
    size_t ext;
    size_t cells;
};

class Cells : public ::testing::TestWithParam<CellsCase> {};

TEST_P(Cells, AnEventTakesOneCellAndOneMorePer28Bytes) {
    EXPECT_EQ(alsa::cellsForEvent(GetParam().ext), GetParam().cells);
    EXPECT_GE(alsa::extBytesForCells(GetParam().cells), GetParam().ext);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Cells,
                         ::testing::Values(CellsCase{0, 1}, CellsCase{1, 2}, CellsCase{28, 2},
                                           CellsCase{29, 3}, CellsCase{256, 11},
                                           CellsCase{65535, 2342}));

struct PartCase {
    const char* name;
    alsa::ReceiverPool pool;
    size_t cells;
};

class Part : public ::testing::TestWithParam<PartCase> {};

// A part of a long SysEx is sized from the room free now, less what is kept for its closing F7
// and for other senders; a part the pool or a reader's buffer cannot hold would stay stuck.
TEST_P(Part, IsSizedFromTheFreeRoom) {
    const PartCase& c = GetParam();
    EXPECT_EQ(alsa::partCells(c.pool), c.cells);
    EXPECT_LE(c.cells, static_cast<size_t>(c.pool.size) / 4);
    EXPECT_LE(c.cells, alsa::kMostCellsPerEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Pools, Part,
    ::testing::Values(PartCase{"AQuarterOfAnEmptyPool", {200, 200}, 50},
                      // 80 % taken by another stream: what is left, less 2 + 200 / 16.
                      PartCase{"TheRoomLeftBesideAnotherStream", {200, 40}, 26},
                      PartCase{"AFloorWhenAlmostFull", {200, 10}, 16},
                      PartCase{"AQuarterOfASmallPool", {64, 64}, 16},
                      PartCase{"NeverMoreThanAReaderTakes", {2000, 2000}, 500}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
