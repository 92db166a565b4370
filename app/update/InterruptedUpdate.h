// The note that an update may have left the mixer in its loader: written just before the mixer is
// restarted (or a waiting loader is written), removed once the user has been told the outcome. A
// note found at start-up means the program ended in between (a quit, a signal, a crash), so the
// mixer may still wait, with incomplete firmware, for Send to finish the update.
#pragma once

#include <QString>
#include <optional>

class InterruptedUpdate {
public:
    // The note lives in `stateDirectory`; empty: defaultDirectory().
    explicit InterruptedUpdate(QString stateDirectory = {});

    // $XDG_STATE_HOME/vq320-updater, or ~/.local/state/vq320-updater without it (the XDG base
    // directory rules: a relative $XDG_STATE_HOME counts as unset).
    static QString defaultDirectory();

    // Notes that an update of `firmwarePath` is under way. False when it cannot be written.
    bool record(const QString& firmwarePath);
    void clear();
    // The firmware of the interrupted update, when there is a note.
    std::optional<QString> recorded() const;

    QString notePath() const { return notePath_; }

private:
    QString notePath_;
};
