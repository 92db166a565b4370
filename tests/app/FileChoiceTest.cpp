// Choosing the firmware file: the dialog's settings, confirming, cancelling, the refusal of other
// files, the menu validation of the send command, and the translated confirm label.
#include "AppTestFixture.h"
#include "DeviceWatch.h"
#include "FakeUsbBus.h"
#include "ModalAnswerer.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>

namespace {

class FileChoiceTest : public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        firmware = touch(QStringLiteral("VQ320 v2.0.dfu"));
        other = touch(QStringLiteral("notes.txt"));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("images.dfu")));
        launch();
    }

    QString touch(const QString& name) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path;
    }

    // Opens the dialog the way the user does and returns it.
    QFileDialog* openDialog() {
        window->chooseFile()->click();
        QFileDialog* dialog = nullptr;
        EXPECT_TRUE(waitUntil([&] {
            dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            return dialog != nullptr && dialog->isVisible();
        }));
        if (dialog != nullptr) {
            dialog->setDirectory(dir.path());
        }
        return dialog;
    }

    // Picks a file as if typed into the dialog and presses its confirm button.
    static void choose(QFileDialog& dialog, const QString& path) {
        dialog.selectFile(path);
        auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_NE(buttons, nullptr);
        QPushButton* confirm = buttons->button(QDialogButtonBox::Open);
        ASSERT_NE(confirm, nullptr);
        ASSERT_TRUE(confirm->isEnabled());
        confirm->click();
        processPendingEvents();
    }

    void chooseFirmware() {
        QFileDialog* dialog = openDialog();
        ASSERT_NE(dialog, nullptr);
        choose(*dialog, firmware);
        ASSERT_TRUE(waitUntil([&] { return app->fileLoaded() != 0; }));
    }

    QTemporaryDir dir;
    QString firmware;
    QString other;
};

TEST_F(FileChoiceTest, TheDialogIsAWindowModalSingleDfuFileChooser) {
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->parentWidget(), window.get());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Locate the Mirt firmware .dfu file"));
    auto* message = dialog->findChild<QLabel*>(QStringLiteral("locateFileMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), QStringLiteral("Locate the Mirt firmware .dfu file"));
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("Choose"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Mirt firmware (*.dfu)")});
    // No directories can be made from it.
    auto* newFolder = dialog->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    ASSERT_NE(newFolder, nullptr);
    EXPECT_FALSE(newFolder->isEnabled());
    // The main window takes no input meanwhile.
    EXPECT_TRUE(window->isVisible());
    dialog->reject();
}

TEST_F(FileChoiceTest, ConfirmingShowsThePathAndEnablesSendWithTheMixer) {
    const MIDIEndpointRef mixer = service->addSource(QStringLiteral("Mirt VQ320"));
    ASSERT_TRUE(waitUntil([&] { return app->deviceFound() != 0; }));
    EXPECT_FALSE(sendButtonEnabled());

    chooseFirmware();
    ASSERT_NE(app->firmwareURL(), nullptr);
    EXPECT_EQ(*app->firmwareURL(), QUrl::fromLocalFile(firmware));
    EXPECT_EQ(window->filePath()->text(), firmware); // the path, not the URL form
    EXPECT_TRUE(sendButtonEnabled());

    service->removeEndpoint(mixer);
    EXPECT_TRUE(waitUntil([&] { return !sendButtonEnabled(); }));
}

TEST_F(FileChoiceTest, CancellingKeepsTheEarlierChoice) {
    service->addSource(QStringLiteral("Mirt VQ320"));
    ASSERT_TRUE(waitUntil([&] { return app->deviceFound() != 0; }));
    chooseFirmware();
    const auto before = app->firmwareURL();
    ASSERT_TRUE(sendButtonEnabled());

    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(dir.filePath(QStringLiteral("VQ320 v2.0.dfu")));
    dialog->reject();
    processPendingEvents();

    EXPECT_EQ(app->firmwareURL(), before);
    EXPECT_EQ(window->filePath()->text(), firmware);
    EXPECT_EQ(app->fileLoaded(), 1);
    EXPECT_TRUE(sendButtonEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(FileChoiceTest, OtherFilesAndDirectoriesCannotBeChosen) {
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    choose(*dialog, other);
    EXPECT_TRUE(dialog->isVisible());                            // refused: the dialog stays open
    choose(*dialog, dir.filePath(QStringLiteral("images.dfu"))); // a directory, even named .dfu
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(app->firmwareURL(), nullptr);
    EXPECT_EQ(window->filePath()->text(), QStringLiteral("-"));
    dialog->reject();
}

TEST_F(FileChoiceTest, CompletionStepFollowsTheResponse) {
    const QUrl first = QUrl::fromLocalFile(firmware);
    const QUrl second = QUrl::fromLocalFile(dir.filePath(QStringLiteral("b.dfu")));
    app->locateFileCompleted(QDialog::Rejected, {first});
    EXPECT_EQ(app->firmwareURL(), nullptr);
    app->locateFileCompleted(QDialog::Accepted, {});
    EXPECT_EQ(app->firmwareURL(), nullptr);
    EXPECT_EQ(app->fileLoaded(), 0);
    app->locateFileCompleted(QDialog::Accepted, {first, second});
    ASSERT_NE(app->firmwareURL(), nullptr);
    EXPECT_EQ(*app->firmwareURL(), first);
    EXPECT_EQ(app->fileLoaded(), 1);
}

// The command is enabled exactly when the button is: a file, and the mixer or its loader
// waiting alone in USB update mode (recovery); never for a file alone, which would restart
// nothing and then write whatever loader is on the bus.
TEST_F(FileChoiceTest, SendCommandFollowsTheButton) {
    QMenu* menu = window->fileMenu();
    QAction* send = window->sendFileAction();
    const auto commandEnabled = [&] {
        menu->popup(window->mapToGlobal(QPoint(0, 0)));
        processPendingEvents();
        const bool enabled = send->isEnabled();
        menu->hide();
        processPendingEvents();
        return enabled;
    };
    EXPECT_FALSE(commandEnabled());
    EXPECT_TRUE(window->locateFileAction()->isEnabled());
    EXPECT_TRUE(window->quitAction()->isEnabled());
    EXPECT_TRUE(app->validateMenuItem(window->quitAction()));

    chooseFirmware();
    EXPECT_EQ(app->deviceFound(), 0);
    EXPECT_FALSE(commandEnabled()) << "a file but no mixer";
    EXPECT_FALSE(sendButtonEnabled());

    auto bus = std::make_unique<FakeUsbBus>();
    bus->present = {FakeUsbBus::device("1-4", 9)};
    app->deviceWatch().setSource(std::move(bus));
    EXPECT_TRUE(commandEnabled()) << "its loader waiting";
    EXPECT_TRUE(sendButtonEnabled());
    app->deviceWatch().setSource(std::make_unique<FakeUsbBus>());
    EXPECT_FALSE(commandEnabled());

    const MIDIEndpointRef mixer = service->addDestination(QStringLiteral("Mirt VQ320"));
    ASSERT_TRUE(waitUntil([&] { return app->deviceFound() != 0; }));
    EXPECT_TRUE(commandEnabled());
    EXPECT_TRUE(sendButtonEnabled());
    app->setFirmwareURL(std::make_shared<const QUrl>(QStringLiteral("https://example.org/a.dfu")));
    EXPECT_FALSE(app->validateMenuItem(send));
    service->removeEndpoint(mixer);
}

TEST_F(FileChoiceTest, ATriggeredSendCommandThatDoesNotValidateDoesNothing) {
    service->addDestination(QStringLiteral("Mirt VQ320"));
    ASSERT_TRUE(waitUntil([&] { return app->deviceFound() != 0; }));
    ModalAnswerer answerer;
    window->sendFileAction()->trigger(); // as by its shortcut, with no file chosen
    processPendingEvents();
    app->waitForSends();
    EXPECT_TRUE(service->sent().empty());
    EXPECT_TRUE(answerer.boxes().empty());
}

TEST_F(FileChoiceTest, TheConfirmLabelIsTranslated) {
    struct Case {
        const char* locale;
        bool translated;
        const char* label;
    };
    const Case cases[] = {
        {"it_IT", true, "Scegli"},
        {"de_DE", true, "Ausw\u00e4hlen"},
        {"en_US", false, "Choose"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        QTranslator translator;
        EXPECT_EQ(MainWindow::loadTranslator(translator, QLocale(QString::fromLatin1(c.locale))),
                  c.translated);
        if (c.translated) {
            QApplication::installTranslator(&translator);
        }
        QFileDialog* dialog = openDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QString::fromUtf8(c.label));
        // "OK" has an entry too; it reads the same in these languages.
        EXPECT_EQ(QCoreApplication::translate("AppDelegate", "OK"), QStringLiteral("OK"));
        dialog->reject();
        processPendingEvents();
        QApplication::removeTranslator(&translator);
    }
}

} // namespace
