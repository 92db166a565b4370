#include "AboutDialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

void showAboutDialog(QWidget* parent, const QString& flasherPath) {
    const QString flasher =
        flasherPath.isEmpty()
            ? QCoreApplication::translate("AboutDialog", "dfu-util: not found, updates cannot run")
            : QCoreApplication::translate("AboutDialog", "dfu-util: %1").arg(flasherPath);
    const QString text =
        QCoreApplication::translate("AboutDialog",
                                    "Mirt VQ320 Firmware Updater %1\n\n"
                                    "Writes new firmware to the Mirt VQ320 USB-MIDI mixer.\n\n"
                                    "Copyright (c) 2026 Mirt and the Mirt VQ320 Firmware Updater "
                                    "contributors. Licensed under the MIT License.\n\n%2")
            .arg(QCoreApplication::applicationVersion(), flasher);
    // Plain text: a path may hold characters that rich text would read as markup.
    auto* box = new QMessageBox(QMessageBox::Information,
                                QCoreApplication::translate("AboutDialog", "About"), text,
                                QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->show();
}
