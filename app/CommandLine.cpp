#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

CommandLine refused(const QString& reason) {
    CommandLine result;
    result.run = false;
    result.exitCode = CommandLine::kUsageError;
    result.error = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                       .arg(QCoreApplication::applicationName(), reason);
    return result;
}

// Options QApplication reads itself (-platform offscreen, -style Fusion, ...): accepted here
// and left in argv for it.
void addToolkitOptions(QCommandLineParser& parser) {
    for (const char* name : {"platform", "platformtheme", "style", "stylesheet", "display",
                             "geometry", "qwindowgeometry", "qwindowtitle", "qwindowicon"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    QCommandLineOption reverse(QStringLiteral("reverse"));
    reverse.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(reverse);
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments, const QString& workingDirectory) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of the Mirt VQ320 USB-MIDI mixer.\n"
                       "With FIRMWARE, the window opens with that .dfu file chosen."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FIRMWARE"),
                                 QStringLiteral("The firmware image (.dfu) to write."),
                                 QStringLiteral("[FIRMWARE]"));

    addToolkitOptions(parser);
    // Qt's own options are single-dash words (-platform); ours have long forms anyway.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    if (!parser.parse(arguments)) {
        return refused(parser.errorText());
    }
    CommandLine result;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.run = false;
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.run = false;
        result.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                      QCoreApplication::applicationVersion());
        return result;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        return refused(QStringLiteral("only one firmware file may be given"));
    }
    if (!files.isEmpty()) {
        result.firmwarePath =
            QDir::cleanPath(QFileInfo(QDir(workingDirectory), files.first()).absoluteFilePath());
    }
    return result;
}
