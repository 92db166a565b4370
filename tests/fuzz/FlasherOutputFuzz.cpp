// The flasher's output bytes as the update reads them: decoded as UTF-8 (invalid sequences kept
// as replacement characters), wrapped into the output text and classified. Nothing of the
// output may be lost on the way, and valid UTF-8 comes back unchanged.
#include "FlasherRun.h"
#include "FuzzCheck.h"
#include "UpdateOutcome.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString output = QString::fromUtf8(bytes);
    FUZZ_CHECK(output.size() <= bytes.size());
    if (!bytes.contains('\0') && !output.contains(QChar::ReplacementCharacter)) {
        FUZZ_CHECK(output.toUtf8() == bytes);
    }

    const QStringList arguments = FlasherRun::argumentsFor(QStringLiteral("/tmp/firmware.dfu"));
    const QString text = FlasherRun::outputText(arguments, output);
    FUZZ_CHECK(text.startsWith(QLatin1String("Command sent: dfu-util -a 0 -d 0483:df11 \n")));
    FUZZ_CHECK(text.endsWith(output + QLatin1Char('\n')));

    const UpdateOutcome::Kind kind = UpdateOutcome::classify(0, text);
    FUZZ_CHECK(kind != UpdateOutcome::Kind::Timeout && kind != UpdateOutcome::Kind::TransferFailed);
    return 0;
}
