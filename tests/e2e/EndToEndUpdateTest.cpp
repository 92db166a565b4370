// A whole update the way a user meets it, on the real kernel sequencer: the updater starts with
// no mixer, a stand-in mixer (a separate ALSA client) appears and is recognised, a firmware file
// is chosen, Send delivers the enter-DFU SysEx to the mixer, the replug request, the progress
// window and the outcome messages come in order, and the mixer's departure is noticed.
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "EventLoopWait.h"
#include "MainWindow.h"
#include "MixerProcess.h"
#include "ModalAnswerer.h"
#include "ProgressDLG.h"
#include "TimeBounds.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A plug or unplug shows in the window within a second (longer under a sanitizer).
const qint64 kSeenWithinMs = timebounds::scaled(1000ms).count();

constexpr auto kConnected = "Mirt VQ320 device connected";
constexpr auto kNotFound = "Mirt VQ320 device NOT found";

// The stand-in mixer: plugged in while the process runs, unplugged when its input closes.
class StandInMixer {
public:
    bool plugIn() { return process_.start(VQ_STAND_IN_MIXER, {}, "READY"); }
    void unplug() { process_.stop(); }
    QStringList received() { return process_.lines("RECEIVED"); }

private:
    MixerProcess process_;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists("/dev/snd/seq")) {
            GTEST_SKIP() << "needs the kernel MIDI sequencer (/dev/snd/seq); runs in the test VM";
        }
        window = std::make_unique<MainWindow>();
        app = std::make_unique<AppDelegate>(MidiService::platformDefault(), *window);
        app->setPassPeriod(50ms); // the progress window's passes; the flasher ends long before
        // No loader appears on this bus: the real sysfs watch looks briefly, then the flasher
        // starts anyway.
        app->setLoaderWait(200ms, 20ms);
        window->show();
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(firmware.isValid());
        firmwarePath = firmware.filePath("vq320 firmware.dfu");
        // The image of the recorded output that the test flashers replay.
        dfutest::writeBinaryFile(
            firmwarePath.toStdString(),
            dfutest::makeDfuseFile({{0,
                                     "Internal Flash",
                                     {{0x08000000, dfutest::patternBytes(70000, 1)},
                                      {0x08020000, dfutest::patternBytes(5000, 2)},
                                      {0x08040000, dfutest::patternBytes(6161, 3)}}}}));
    }
    void TearDown() override {
        if (app) {
            app->applicationWillTerminate();
        }
        app.reset();
        window.reset();
        processPendingEvents();
    }

    QString status() const { return app->deviceFoundText()->text(); }
    bool sendEnabled() const { return app->sendFile()->isEnabled(); }

    // Runs one update from the Send button with the given test flasher; returns the messages.
    QStringList pressSend(const char* flasher, StandInMixer& mixer) {
        qputenv("VQ_E2E_FLASHER", QByteArray(VQ_FLASHERS_DIR "/") + flasher);
        ModalAnswerer answerer;
        bool sawProgressWindow = false;
        bool spinnerTurning = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (const auto dialog = app->progressDLG(); dialog && dialog->isVisible()) {
                sawProgressWindow = true;
                const auto spinner = dialog->spinIndicator();
                // A busy indicator is a bar without a range, turning while it is shown.
                spinnerTurning = spinner && spinner->isVisible() && spinner->maximum() == 0 &&
                                 spinner->minimum() == 0;
            }
        });
        watch.start(10);
        app->sendFile()->click(); // returns when the last message has been answered
        watch.stop();
        EXPECT_TRUE(sawProgressWindow);
        EXPECT_TRUE(spinnerTurning);
        EXPECT_TRUE(waitUntil([&] { return !mixer.received().isEmpty(); }, 5s));
        return answerer.texts();
    }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> app;
    QTemporaryDir firmware;
    QString firmwarePath;
};

TEST_F(EndToEnd, AWholeUpdateFromPlugInToUnplug) {
    EXPECT_EQ(status(), kNotFound);
    EXPECT_FALSE(sendEnabled());

    StandInMixer mixer;
    ASSERT_TRUE(mixer.plugIn());
    QElapsedTimer clock; // from the port's appearance: starting the mixer's process is not ours
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return status() == kConnected; }, 5s));
    EXPECT_LT(clock.elapsed(), kSeenWithinMs) << "seen without any user action within a second";
    EXPECT_FALSE(sendEnabled()) << "no file chosen yet";

    app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmwarePath)});
    EXPECT_EQ(app->filePath()->text(), firmwarePath);
    ASSERT_TRUE(sendEnabled());

    const QStringList messages = pressSend("dfuse-success.sh", mixer);
    EXPECT_EQ(messages,
              (QStringList{"Update the MIRT VQ320 with this firmware?",
                           "Please unplug and replug USB cable connected to the MIRT VQ320",
                           "Update in progress...",
                           "Please refer to the instructions on the display of the MIRT VQ320 to "
                           "complete the update"}));
    EXPECT_EQ(mixer.received(), QStringList{"RECEIVED f0 60 07 10 4d f7"}) << "exactly once";
    EXPECT_EQ(status(), kConnected) << "written again after the update";

    clock.restart();
    mixer.unplug();
    ASSERT_TRUE(waitUntil([&] { return status() == kNotFound; }, 5s));
    EXPECT_LT(clock.elapsed(), kSeenWithinMs);
    EXPECT_FALSE(sendEnabled());
}

TEST_F(EndToEnd, AFlasherThatFindsNoDeviceSaysTheMixerWasNotFound) {
    StandInMixer mixer;
    ASSERT_TRUE(mixer.plugIn());
    ASSERT_TRUE(waitUntil([&] { return status() == kConnected; }, 5s));
    app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmwarePath)});

    const QStringList messages = pressSend("no-device.sh", mixer);
    EXPECT_EQ(messages,
              (QStringList{"Update the MIRT VQ320 with this firmware?",
                           "Please unplug and replug USB cable connected to the MIRT VQ320",
                           "Sorry, MIRT VQ320 not found. Please check the USB connection and try "
                           "again."}));
    EXPECT_EQ(mixer.received(), QStringList{"RECEIVED f0 60 07 10 4d f7"});
}

} // namespace
