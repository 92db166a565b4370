// The main window, laid out in resources/MainWindow.ui: status line, path field, Choose and Send
// buttons, the File menu (Choose Firmware…, Send, Quit) and the Help menu (About…).
#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QLocale;
class QMenu;
class QPushButton;
class QTranslator;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QLineEdit* filePath() const;
    QLabel* deviceFoundText() const;
    QPushButton* sendFile() const;
    QPushButton* chooseFile() const;
    QMenu* fileMenu() const;
    QAction* locateFileAction() const;
    QAction* sendFileAction() const;
    QAction* quitAction() const;
    QAction* aboutAction() const;

    // Loads the embedded translation (:/i18n/vq320-updater_<language>.qm) that best fits the
    // locale. False when there is none, e.g. for English.
    static bool loadTranslator(QTranslator& translator, const QLocale& locale);

private:
    std::unique_ptr<Ui::MainWindow> ui_;
};
