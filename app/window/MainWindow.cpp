#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMenuBar>
#include <QShortcut>
#include <QTranslator>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(new Ui::MainWindow) {
    ui_->setupUi(this);
    // Queued, so that quitting from the menu never unwinds through the menu's own code.
    connect(ui_->actionQuit, &QAction::triggered, this, &QCoreApplication::quit,
            Qt::QueuedConnection);
    // F10 opens the menu, as elsewhere on the desktop.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(ui_->menuFile->menuAction()); });
    // The first thing to do is to choose a file; the path field only shows it.
    ui_->chooseFile->setFocus();
}

MainWindow::~MainWindow() = default;

QLineEdit* MainWindow::filePath() const {
    return ui_->filePath;
}
QLabel* MainWindow::deviceFoundText() const {
    return ui_->deviceFoundText;
}
QPushButton* MainWindow::sendFile() const {
    return ui_->sendFile;
}
QPushButton* MainWindow::chooseFile() const {
    return ui_->chooseFile;
}
QMenu* MainWindow::fileMenu() const {
    return ui_->menuFile;
}
QAction* MainWindow::locateFileAction() const {
    return ui_->actionLocateFile;
}
QAction* MainWindow::sendFileAction() const {
    return ui_->actionSendFile;
}
QAction* MainWindow::quitAction() const {
    return ui_->actionQuit;
}

QAction* MainWindow::aboutAction() const {
    return ui_->actionAbout;
}

bool MainWindow::loadTranslator(QTranslator& translator, const QLocale& locale) {
    return translator.load(locale, QStringLiteral("vq320-updater"), QStringLiteral("_"),
                           QStringLiteral(":/i18n"));
}
