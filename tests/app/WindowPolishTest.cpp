// The windows as a person meets them: the progress window appears over the main window wherever
// that is, and the window texts come in the user's language.
#include "FirstFrame.h"
#include "MainWindow.h"
#include "ProgressDLG.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;
struct FirstFrameCase {
    const char* name;
    bool shown, goneFirst;
    std::chrono::milliseconds longestWait;
    int runs, paintsBefore;
};
class FirstFrameTest : public ::testing::TestWithParam<FirstFrameCase> {};

TEST_P(FirstFrameTest, StartUpRunsOnceBehindTheFirstFrame) {
    struct PaintCountingWindow : MainWindow {
        int paints = 0;
        void paintEvent(QPaintEvent* /*event*/) override { ++paints; }
    };
    const FirstFrameCase& c = GetParam();
    auto window = std::make_unique<PaintCountingWindow>();
    int runs = 0, paintsBefore = 0;
    QElapsedTimer clock; // 5 s at most for the run, then 100 ms for a second one that must not come
    runAfterFirstFrame(
        *window,
        [&, w = window.get()] { paintsBefore = std::min(w->paints, 1), ++runs, clock.start(); },
        c.longestWait);
    window->setVisible(c.shown);
    window.reset(c.goneFirst ? nullptr : window.release());
    EXPECT_EQ(runs, 0) << "ran before the event loop";
    for (clock.start(); clock.elapsed() < (runs < c.runs ? 5000 : 100);) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(paintsBefore, c.paintsBefore);
}
INSTANTIATE_TEST_SUITE_P(Windows, FirstFrameTest,
                         ::testing::Values(FirstFrameCase{"Shown", true, false, 1h, 1, 1},
                                           FirstFrameCase{"NeverPainted", false, false, 20ms, 1, 0},
                                           FirstFrameCase{"GoneFirst", true, true, 20ms, 0, 0}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

struct Placement {
    QPoint position;
    QSize size;
};

class ProgressPlacementTest : public ::testing::TestWithParam<Placement> {};

TEST_P(ProgressPlacementTest, TheProgressWindowIsCentredOverTheMainWindow) {
    MainWindow window;
    window.resize(GetParam().size);
    window.move(GetParam().position);
    window.show();
    ProgressDLG progress;
    progress.centreOver(&window);
    progress.show();

    const QPoint offset = progress.frameGeometry().center() - window.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << "progress at " << progress.x() << "," << progress.y()
                                           << ", window at " << window.x() << "," << window.y();
    progress.hide();
}

INSTANTIATE_TEST_SUITE_P(Positions, ProgressPlacementTest,
                         ::testing::Values(Placement{{0, 0}, {560, 220}},
                                           Placement{{300, 200}, {560, 220}},
                                           Placement{{40, 500}, {900, 400}}));

TEST(ProgressPlacement, AGoneMainWindowLeavesThePlacementToQt) {
    auto window = std::make_unique<MainWindow>();
    window->show();
    ProgressDLG progress;
    progress.centreOver(window.get());
    window.reset();
    progress.show(); // no dangling anchor
    EXPECT_TRUE(progress.isVisible());
    progress.hide();
}

struct Language {
    const char* locale;
    const char* send;
    const char* progressTitle;
    const char* fileMenu;
};

class WindowLanguageTest : public ::testing::TestWithParam<Language> {};

TEST_P(WindowLanguageTest, TheWindowsSpeakTheUsersLanguage) {
    const Language& language = GetParam();
    QTranslator translator;
    const bool translated =
        MainWindow::loadTranslator(translator, QLocale(QString::fromLatin1(language.locale)));
    if (translated) {
        QApplication::installTranslator(&translator);
    }
    MainWindow window;
    ProgressDLG progress;
    EXPECT_EQ(window.sendFile()->text(), QString::fromUtf8(language.send));
    EXPECT_EQ(window.fileMenu()->title(), QString::fromUtf8(language.fileMenu));
    EXPECT_EQ(progress.windowTitle(), QString::fromUtf8(language.progressTitle));
    // Every button can be reached from the keyboard.
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        EXPECT_TRUE(button->text().contains(u'&')) << button->objectName().toStdString();
    }
    if (translated) {
        QApplication::removeTranslator(&translator);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Languages, WindowLanguageTest,
    ::testing::Values(Language{"en_US", "&Send", "Updating the firmware", "&File"},
                      Language{"it_IT", "&Invia", "Aggiornamento del firmware", "&File"},
                      Language{"de_DE", "&Senden", "Firmware wird aktualisiert", "&Datei"}),
    [](const auto& language) { return std::string(language.param.locale); });

} // namespace
