#include "FlasherCheck.h"

#include "FlasherRun.h"
#include "MainThreadInbox.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <thread>

namespace {

// What the run printed, without the header FlasherRun puts before it.
QString printed(const QString& outputText) {
    const QString marker = QStringLiteral("Command Output: ");
    const qsizetype at = outputText.indexOf(marker);
    return (at < 0 ? outputText : outputText.mid(at + marker.size())).trimmed();
}

} // namespace

FlasherCheck::Result FlasherCheck::run(const QString& launchPath, std::chrono::milliseconds limit) {
    const QFileInfo file(launchPath);
    if (!file.exists() || !file.isExecutable() || file.isDir()) {
        return judge(launchPath, {});
    }
    const std::shared_ptr<MainThreadInbox> inbox = MainThreadInbox::create();
    FlasherRun run(launchPath, {QStringLiteral("-V")}, DfuseImage{});
    run.setGracePeriod(std::chrono::milliseconds(500));
    QVariantMap result;
    bool ended = false;
    QEventLoop wait;
    run.setResultHandler([&inbox, &result, &ended, &wait](const QVariantMap& got) {
        inbox->post([&result, &ended, &wait, got] {
            result = got;
            ended = true;
            wait.quit();
        });
    });
    std::thread thread([&run] { run.run(); });
    QTimer::singleShot(limit, &wait, [&run] { run.stop(); });
    if (!ended) {
        wait.exec();
    }
    thread.join();
    inbox->drain();
    inbox->close();
    return judge(launchPath, result);
}

FlasherCheck::Result FlasherCheck::judge(const QString& launchPath, const QVariantMap& result) {
    Result verdict;
    if (result.isEmpty() || result.value(QString::fromLatin1(FlasherRun::kErrKey)).toInt() != 0) {
        verdict.problem = tr("%1 is missing or cannot be started.").arg(launchPath);
        return verdict;
    }
    const QString output =
        printed(result.value(QString::fromLatin1(FlasherRun::kOutputStringKey)).toString());
    const QString firstLine = output.section(QLatin1Char('\n'), 0, 0).trimmed();
    const bool stopped = result.value(QString::fromLatin1(FlasherRun::kStoppedKey)).toBool();
    const bool signalled = result.value(QString::fromLatin1(FlasherRun::kSignalledKey)).toBool();
    const int code = result.value(QString::fromLatin1(FlasherRun::kExitCodeKey)).toInt();
    if (stopped) {
        verdict.problem = tr("%1 -V did not finish.").arg(launchPath);
    } else if (signalled || code != 0 ||
               !firstLine.startsWith(QLatin1String(FlasherRun::kProgramName))) {
        verdict.problem = tr("%1 -V failed: %2")
                              .arg(launchPath, firstLine.isEmpty() ? tr("no output") : firstLine);
    } else {
        verdict.ok = true;
        verdict.version = firstLine;
    }
    return verdict;
}
