// How fast the streaming verdict reads a flasher's output, in the shapes that cost the most: 50 MB
// of progress lines, and one 900 KB line of the flasher's prefix repeated (a probe once found the
// old whole-text search quadratic on it). Fed in 64 KB slices, as the flasher run reads its pipe.
#include "FlasherOutputScanner.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

constexpr std::size_t kSlice = 64 * 1024;

std::string repeated(std::string_view piece, std::size_t size) {
    std::string text;
    text.reserve(size + piece.size());
    while (text.size() < size) {
        text += piece;
    }
    return text;
}

void scan(benchmark::State& state, const std::string& output, FlasherVerdict expected) {
    for (auto _ : state) {
        FlasherOutputScanner scanner(1);
        for (std::size_t at = 0; at < output.size(); at += kSlice) {
            scanner.feed(std::string_view(output).substr(at, kSlice));
        }
        const FlasherVerdict verdict = scanner.finish({false, 0});
        if (verdict != expected) {
            state.SkipWithError("unexpected verdict");
            break;
        }
        benchmark::DoNotOptimize(verdict);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
}

void FiftyMegabytesOfProgressLines(benchmark::State& state) {
    static const std::string output =
        repeated("Download\t[=========================] 100%        16384 bytes\n",
                 50u * 1024 * 1024) +
        "Download done.\nSubmitting leave request...\n";
    scan(state, output, FlasherVerdict::Success);
}

void OneLongLineOfPrefixes(benchmark::State& state) {
    static const std::string output = "Download done.\n" + repeated("dfu-util:", 900 * 1024);
    scan(state, output, FlasherVerdict::TransferNotCompleted);
}

BENCHMARK(FiftyMegabytesOfProgressLines)->Unit(benchmark::kMillisecond);
BENCHMARK(OneLongLineOfPrefixes)->Unit(benchmark::kMillisecond);

} // namespace
