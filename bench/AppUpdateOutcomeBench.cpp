// How long the outcome of an update takes to decide on 50 MB of flasher output, in the three
// shapes that make it read the most: a success found at the end, a download followed by 50 MB of
// lines to check for errors, and no known phrase at all.
#include "UpdateOutcome.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kOutputBytes = 50 * 1024 * 1024;

QString progressLines() {
    const QString line =
        QStringLiteral("Download\t[=========================] 100%        16384 bytes\n");
    QString text;
    text.reserve(kOutputBytes + 256);
    while (text.size() < kOutputBytes) {
        text += line;
    }
    return text;
}

void classify(benchmark::State& state, const QString& output, UpdateOutcome::Kind expected) {
    for (auto _ : state) {
        const UpdateOutcome::Kind kind = UpdateOutcome::classify(0, output);
        if (kind != expected) {
            state.SkipWithError("unexpected outcome");
            break;
        }
        benchmark::DoNotOptimize(kind);
    }
    state.SetBytesProcessed(state.iterations() * output.size() * qsizetype(sizeof(QChar)));
}

void SuccessAtTheEnd(benchmark::State& state) {
    static const QString output =
        progressLines() + "Download done.\nDone parsing DfuSe file\nSubmitting leave request...\n";
    classify(state, output, UpdateOutcome::Kind::Success);
}

void LinesAfterTheDownload(benchmark::State& state) {
    static const QString output = "Download done.\n" + progressLines() + "Done!\n";
    classify(state, output, UpdateOutcome::Kind::Success);
}

void NoKnownPhrase(benchmark::State& state) {
    static const QString output = progressLines();
    classify(state, output, UpdateOutcome::Kind::TransferNotCompleted);
}

BENCHMARK(SuccessAtTheEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(LinesAfterTheDownload)->Unit(benchmark::kMillisecond);
BENCHMARK(NoKnownPhrase)->Unit(benchmark::kMillisecond);

} // namespace
