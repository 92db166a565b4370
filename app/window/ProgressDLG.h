// The progress window shown while the flasher runs: a busy indicator that turns for as long as
// the window is shown, and a bar for the update's progress as a fraction from 0 to 1.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <memory>
#include <mutex>

namespace Ui {
class ProgressDLG;
}

class ProgressDLG : public QDialog {
    Q_OBJECT
public:
    // The bar's range is 0..kBarScale: a fraction v shows as qRound(v * kBarScale).
    static constexpr int kBarScale = 1000;

    // Builds the window from resources/ProgressDLG.ui; nothing turns until it is first shown.
    explicit ProgressDLG(QWidget* parent = nullptr);
    ~ProgressDLG() override;

    // Runs once, when the window is first shown: starts the busy indicator, which the dialog
    // never stops.
    virtual void windowDidLoad();
    bool isWindowLoaded() const { return windowLoaded_; }

    // The window of an update, a child of `window` (so that it stays with it on every desktop) and
    // centred over it. Whoever holds it last deletes it, unless `window` went first and took it.
    static std::shared_ptr<ProgressDLG> createOver(QWidget* window);

    // Where the window appears: centred over `window` (held weakly) rather than on the screen.
    void centreOver(QWidget* window) { anchor_ = window; }
    void setVisible(bool visible) override;

    // A fraction between 0 and 1, shown without clamping.
    void setProgressValue(float value);
    float progressValue() const { return progressValue_; }

    // The phase of the update, under the window's message (waiting, erasing, writing). A screen
    // reader hears each new phase once: it is the phase label's accessible name and the bar's
    // description.
    void setPhaseText(const QString& text);
    // A phase with the share of the firmware done: the percentage is shown, but only a new
    // phase is announced, not every percent.
    void setPhaseProgress(const QString& phase, int percent);
    // A line under the phase (how long the flasher has been silent), shown but not announced, as
    // it changes every second; empty: none.
    void setSilenceNote(const QString& note);
    QString phaseText() const;

    // Weak references to the window's indicators, with atomic accessors.
    QPointer<QProgressBar> spinIndicator() const;
    void setSpinIndicator(QProgressBar* indicator);
    QPointer<QProgressBar> progressBar() const;
    void setProgressBar(QProgressBar* bar);

signals:
    // Every setProgressValue call, with its value.
    void progressValueSet(float value);

public slots:
    // The window cannot be dismissed by the user (Escape, close button): the update ends it.
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;

private:
    void announcePhase(const QString& phase);
    void showPhase();

    std::unique_ptr<Ui::ProgressDLG> ui_;
    QLabel* phase_ = nullptr; // owned by the window
    QString phaseShown_;      // the phase, with its share done
    QString silenceNote_;
    mutable std::mutex mutex_;
    QPointer<QProgressBar> spinIndicator_;
    QPointer<QProgressBar> progressBar_;
    QPointer<QWidget> anchor_;
    bool windowLoaded_ = false;
    float progressValue_ = 0.0f;
};
