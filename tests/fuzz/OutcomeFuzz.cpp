// The outcome classifier on arbitrary output text, checked against a plain line-by-line reading
// of the same rules: a different way to the same answer, so a faster classifier can be trusted.
#include "FuzzCheck.h"
#include "UpdateOutcome.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace {

constexpr auto ci = Qt::CaseInsensitive;

bool isErrorLine(const QString& line) {
    for (const char* marker :
         {"fail", "cannot", "could not", "unable", "no dfu capable", "not found", "corrupt"}) {
        if (line.contains(QLatin1String(marker), ci)) {
            return true;
        }
    }
    if (line.trimmed().startsWith(QLatin1String("dfu-util:"), ci)) {
        return true;
    }
    QString rest = line;
    rest.remove(QStringLiteral("No error condition is present"), ci);
    return rest.contains(QLatin1String("error"), ci);
}

bool referenceIsSuccess(const QString& output) {
    const QString done = QStringLiteral("Download done.");
    const qsizetype lastDone = output.lastIndexOf(done, 0 - 1, ci);
    if (lastDone < 0) {
        return false;
    }
    if (output.contains(QLatin1String("Submitting leave request"), ci)) {
        return true;
    }
    const QStringList lines =
        output.mid(lastDone + done.size()).split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (const QString& line : lines) {
        if (isErrorLine(line)) {
            return false;
        }
    }
    return true;
}

UpdateOutcome::Kind referenceClassify(int32_t err, const QString& output) {
    using Kind = UpdateOutcome::Kind;
    if (err == kTimeoutCode) {
        return Kind::Timeout;
    }
    if (err != 0) {
        return Kind::TransferFailed;
    }
    if (referenceIsSuccess(output)) {
        return Kind::Success;
    }
    if (output.contains(QLatin1String("No DFU capable USB device available"), ci)) {
        return Kind::DeviceNotFound;
    }
    if (output.contains(QLatin1String("image not found"), ci) ||
        output.contains(QLatin1String("error while loading shared libraries"), ci)) {
        return Kind::LibraryMissing;
    }
    return Kind::TransferNotCompleted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the result code: mostly a finished run, sometimes the time-out or a
    // failed start.
    const int32_t err = data[0] == 0xff ? kTimeoutCode : data[0] == 0xfe ? -1 : 0;
    const QString output = QString::fromUtf8(reinterpret_cast<const char*>(data) + 1,
                                             static_cast<qsizetype>(size - 1));
    const UpdateOutcome::Kind kind = UpdateOutcome::classify(err, output);
    FUZZ_CHECK(kind == referenceClassify(err, output));
    FUZZ_CHECK(!UpdateOutcome::messages(kind).isEmpty());
    return 0;
}
