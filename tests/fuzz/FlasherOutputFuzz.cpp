// The flasher's output bytes as the update keeps them: decoded as UTF-8 (invalid sequences kept
// as replacement characters), wrapped into the output text, and cut to a bounded excerpt. Nothing
// of a short output may be lost on the way, and valid UTF-8 comes back unchanged.
#include "FlasherRun.h"
#include "FuzzCheck.h"
#include "OutputExcerpt.h"

#include <QByteArray>
#include <QString>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString output = QString::fromUtf8(bytes);
    FUZZ_CHECK(output.size() <= bytes.size());
    if (!bytes.contains('\0') && !output.contains(QChar::ReplacementCharacter)) {
        FUZZ_CHECK(output.toUtf8() == bytes);
    }

    const QStringList arguments =
        FlasherRun::argumentsFor(QStringLiteral("/tmp/firmware.dfu"), QStringLiteral("1-1"));
    const QString text = FlasherRun::outputText(arguments, output);
    FUZZ_CHECK(text.startsWith(QLatin1String("Command sent: dfu-util -a 0 -d ,0483:df11 \n")));
    FUZZ_CHECK(text.endsWith(output + QLatin1Char('\n')));

    // A small excerpt, so that the fuzzer reaches outputs that overflow it.
    OutputExcerpt excerpt(16, 16);
    excerpt.append(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    FUZZ_CHECK(excerpt.totalBytes() == size);
    FUZZ_CHECK(excerpt.omittedBytes() == (size > 32 ? size - 32 : 0));
    if (size <= 32) {
        FUZZ_CHECK(excerpt.text() == output);
    }
    return 0;
}
