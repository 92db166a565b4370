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

struct ChunkCase {
    const char* name;
    alsa::ReceiverPool pool;
    size_t message;
    size_t chunk;
};

class Chunk : public ::testing::TestWithParam<ChunkCase> {};

// A chunk the receiver's pool or its reader's buffer cannot hold would stay stuck in its queue.
TEST_P(Chunk, FitsThePoolAndTheReadersBuffer) {
    const ChunkCase& c = GetParam();
    const size_t chunk = alsa::sysExChunkFor(c.pool, c.message);
    EXPECT_EQ(chunk, c.chunk);
    EXPECT_LE(alsa::cellsForEvent(chunk), static_cast<size_t>(c.pool.size));
    EXPECT_LE(alsa::cellsForEvent(chunk), alsa::kMostCellsPerEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Pools, Chunk,
    ::testing::Values(
        // The whole message in one event while the room free now holds it.
        ChunkCase{"WholeInTheDefaultPool", {200, 200}, 4096, 4096},
        ChunkCase{"WholeInALargePool", {2000, 2000}, 12288, 12288},
        // Otherwise half the pool, so that one chunk is read while the next goes in.
        ChunkCase{"HalfWhenThePoolIsBusy", {200, 100}, 4096, 99 * 28},
        ChunkCase{"HalfWhenLargerThanThePool", {200, 200}, 12288, 99 * 28},
        ChunkCase{"HalfOfASmallPool", {64, 64}, 65535, 31 * 28},
        // Never more than another program's reader takes at once.
        ChunkCase{"ReaderLimitForTheLargest", {2000, 2000}, 65535, 499 * 28},
        ChunkCase{"ReaderLimitJustAbove", {2000, 2000}, 499 * 28 + 1, 499 * 28},
        ChunkCase{"ReaderLimitExactly", {2000, 2000}, 499 * 28, 499 * 28}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
