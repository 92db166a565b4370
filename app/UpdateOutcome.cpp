#include "UpdateOutcome.h"

namespace {

constexpr auto ci = Qt::CaseInsensitive;

// Words that mark a line as an error wherever they stand on it.
constexpr QStringView kErrorMarkers[] = {u"fail",           u"cannot",    u"could not", u"unable",
                                         u"no dfu capable", u"not found", u"corrupt"};
// The flasher's errors and warnings begin with its name.
constexpr QStringView kFlasherPrefix = u"dfu-util:";
// "error" is an error, except in the status text the flasher prints when all is well.
constexpr QStringView kError = u"error";
constexpr QStringView kNoError = u"No error condition is present";

bool containsText(QStringView text, QStringView phrase) {
    return text.contains(phrase, ci);
}

bool isLineBreak(QChar c) {
    return c == u'\n' || c == u'\r';
}

// The line of `text` around position `at` (progress bars end lines with carriage returns).
QStringView lineAround(QStringView text, qsizetype at) {
    qsizetype start = at;
    while (start > 0 && !isLineBreak(text[start - 1])) {
        --start;
    }
    qsizetype end = at;
    while (end < text.size() && !isLineBreak(text[end])) {
        ++end;
    }
    return text.mid(start, end - start);
}

bool mentionsAnError(QStringView line) {
    if (!line.contains(kError, ci)) {
        return false;
    }
    QString rest = line.toString();
    rest.remove(kNoError.toString(), ci);
    return rest.contains(kError, ci);
}

// Whether any line of `text` is an error line. One search per marker over the whole text rather
// than one per line: the output can be tens of megabytes of progress lines.
bool hasErrorLine(QStringView text) {
    for (const QStringView marker : kErrorMarkers) {
        if (containsText(text, marker)) {
            return true;
        }
    }
    for (qsizetype at = text.indexOf(kFlasherPrefix, 0, ci); at >= 0;
         at = text.indexOf(kFlasherPrefix, at + 1, ci)) {
        if (lineAround(text, at).trimmed().startsWith(kFlasherPrefix, ci)) {
            return true;
        }
    }
    for (qsizetype at = text.indexOf(kError, 0, ci); at >= 0;) {
        const QStringView line = lineAround(text, at);
        if (mentionsAnError(line)) {
            return true;
        }
        // On to the next line: the whole line has been judged.
        const qsizetype lineEnd = (line.data() - text.data()) + line.size();
        at = text.indexOf(kError, lineEnd, ci);
    }
    return false;
}

} // namespace

bool UpdateOutcome::isSuccess(QStringView output) {
    static constexpr QStringView done = u"Download done.";
    const qsizetype lastDone = output.lastIndexOf(done, ci);
    if (lastDone < 0) {
        return false;
    }
    if (containsText(output, u"Submitting leave request")) {
        return true;
    }
    return !hasErrorLine(output.mid(lastDone + done.size()));
}

UpdateOutcome::Kind UpdateOutcome::classify(int32_t taskReturnErr, QStringView output) {
    if (taskReturnErr == kTimeoutCode) {
        return Kind::Timeout;
    }
    if (taskReturnErr != 0) {
        return Kind::TransferFailed;
    }
    if (isSuccess(output)) {
        return Kind::Success;
    }
    if (containsText(output, u"No DFU capable USB device available")) {
        return Kind::DeviceNotFound;
    }
    // The first is the wording of the original platform's loader, the second Linux's (ld.so,
    // which then ends the flasher with status 127).
    if (containsText(output, u"image not found") ||
        containsText(output, u"error while loading shared libraries")) {
        return Kind::LibraryMissing;
    }
    return Kind::TransferNotCompleted;
}

namespace {

QString translated(const char* message) {
    return QCoreApplication::translate("UpdateOutcome", message);
}

} // namespace

QStringList UpdateOutcome::messages(Kind kind) {
    switch (kind) {
    case Kind::Timeout:
        return {translated(kTimeoutMessage)};
    case Kind::TransferFailed:
        return {translated(kTransferFailedMessage)};
    case Kind::Success:
        return {translated(kSuccessMessage), translated(kSuccessFollowUpMessage)};
    case Kind::DeviceNotFound:
        return {translated(kDeviceNotFoundMessage)};
    case Kind::LibraryMissing:
        return {translated(kLibraryMissingMessage)};
    case Kind::TransferNotCompleted:
        break;
    }
    return {translated(kTransferNotCompletedMessage)};
}
