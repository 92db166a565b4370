// Help ▸ About: what the program is, its version and licence, and which flasher an update runs.
#pragma once

class QString;
class QWidget;

// Shows the About box over `parent` (window-modal). `flasherPath` is the dfu-util an update
// would run, resolved to the file it links to; empty when there is none.
void showAboutDialog(QWidget* parent, const QString& flasherPath);
