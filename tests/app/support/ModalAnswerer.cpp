#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QPushButton>

ModalAnswerer::ModalAnswerer(QObject* parent) : QObject(parent) {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer_.start();
}

QStringList ModalAnswerer::texts() const {
    QStringList result;
    for (const Box& box : boxes_) {
        result << box.text;
    }
    return result;
}

void ModalAnswerer::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Box record;
        record.text = box->text();
        record.icon = box->icon();
        record.modality = box->windowModality();
        record.informativeText = box->informativeText();
        record.detailedText = box->detailedText();
        if (box->defaultButton() != nullptr) {
            record.defaultButton = box->defaultButton()->text();
        }
        if (box->escapeButton() != nullptr) {
            record.escapeButton = box->escapeButton()->text();
        }
        for (QAbstractButton* button : box->buttons()) {
            record.buttons << button->text();
        }
        boxes_.push_back(record);
        const QPointer<QMessageBox> guard(box);
        if (beforeAnswer_) {
            beforeAnswer_(*box);
        }
        if (guard.isNull() || !guard->isVisible()) {
            return;
        }
        const QList<QAbstractButton*> buttons = guard->buttons();
        if (!buttons.isEmpty()) {
            buttons.first()->click();
        } else {
            guard->done(0);
        }
        return;
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        if (fileDialogHandler_ && lastFileDialog_ != dialog) {
            lastFileDialog_ = dialog;
            ++fileDialogsHandled_;
            fileDialogHandler_(*dialog);
        }
    }
}
