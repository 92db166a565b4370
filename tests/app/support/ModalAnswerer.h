// Answers the real modal dialogs a test opens: polls the active modal widget, records every
// QMessageBox (text, icon, buttons) and presses its button; a QFileDialog is handed to a handler
// the test sets (or left alone).
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

class QFileDialog;

class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons; // button texts, in the box's order
        Qt::WindowModality modality = Qt::NonModal;
        QString informativeText;
        QString detailedText;
        QString defaultButton; // its text, empty without one
        QString escapeButton;
    };

    explicit ModalAnswerer(QObject* parent = nullptr);

    // Every message box answered so far, in order.
    const std::vector<Box>& boxes() const { return boxes_; }
    QStringList texts() const;

    // Runs while the box is shown, before it is answered (to look at the window meanwhile).
    void setBeforeAnswer(std::function<void(QMessageBox&)> hook) {
        beforeAnswer_ = std::move(hook);
    }
    // Answers each file dialog once: the handler selects a file and accepts, or rejects.
    // Without one, file dialogs are left open.
    void setFileDialogHandler(std::function<void(QFileDialog&)> handler) {
        fileDialogHandler_ = std::move(handler);
    }
    int fileDialogsHandled() const { return fileDialogsHandled_; }

    // Stops answering (boxes stay recorded).
    void stop() { timer_.stop(); }

private:
    void poll();

    QTimer timer_;
    std::vector<Box> boxes_;
    std::function<void(QMessageBox&)> beforeAnswer_;
    std::function<void(QFileDialog&)> fileDialogHandler_;
    int fileDialogsHandled_ = 0;
    QPointer<QFileDialog> lastFileDialog_; // each dialog is handed over once
};
