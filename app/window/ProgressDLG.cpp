#include "ProgressDLG.h"

#include "ui_ProgressDLG.h"

#include <QLayout>
#include <QRect>
#include <QShowEvent>
#include <QtMath>

ProgressDLG::ProgressDLG(QWidget* parent) : QDialog(parent), ui_(new Ui::ProgressDLG) {
    ui_->setupUi(this);
    setSpinIndicator(ui_->spinIndicator);
    setProgressBar(ui_->progressBar);
    phase_ = new QLabel(this);
    phase_->setObjectName(QStringLiteral("phaseText"));
    phase_->setWordWrap(true);
    ui_->verticalLayout->insertWidget(1, phase_);
    // No close button: only the update procedure ends this window.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

ProgressDLG::~ProgressDLG() = default;

std::shared_ptr<ProgressDLG> ProgressDLG::createOver(QWidget* window) {
    auto* dialog = new ProgressDLG(window);
    dialog->centreOver(window);
    // The parent deletes its children: a dialog it took along is not deleted again.
    return {dialog, [guard = QPointer<ProgressDLG>(dialog)](ProgressDLG*) { delete guard.data(); }};
}

void ProgressDLG::setVisible(bool visible) {
    if (visible && anchor_ != nullptr && anchor_->isVisible()) {
        // Qt would centre a window without a parent on the screen, and a child before its size
        // is settled. The layout first settles the window's final size.
        if (layout() != nullptr) {
            layout()->activate();
        }
        // Before it is first shown the window's own frame is unknown: it is taken to be like
        // the main window's.
        const QRect anchorFrame = anchor_->frameGeometry();
        QRect frame(QPoint(), size() + (anchorFrame.size() - anchor_->geometry().size()));
        frame.moveCenter(anchorFrame.center());
        move(frame.topLeft());
    }
    QDialog::setVisible(visible);
}

void ProgressDLG::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!windowLoaded_) {
        windowLoaded_ = true;
        windowDidLoad();
    }
}

void ProgressDLG::windowDidLoad() {
    // A bar with the range 0..0 is Qt's busy indicator: the style animates it while shown.
    if (const QPointer<QProgressBar> spinner = spinIndicator()) {
        spinner->setRange(0, 0);
    }
}

void ProgressDLG::setProgressValue(float value) {
    progressValue_ = value;
    if (const QPointer<QProgressBar> bar = progressBar()) {
        bar->setValue(qRound(static_cast<double>(value) * kBarScale));
    }
    emit progressValueSet(value);
}

QPointer<QProgressBar> ProgressDLG::spinIndicator() const {
    std::lock_guard lock(mutex_);
    return spinIndicator_;
}

void ProgressDLG::setSpinIndicator(QProgressBar* indicator) {
    std::lock_guard lock(mutex_);
    spinIndicator_ = indicator;
}

QPointer<QProgressBar> ProgressDLG::progressBar() const {
    std::lock_guard lock(mutex_);
    return progressBar_;
}

void ProgressDLG::setProgressBar(QProgressBar* bar) {
    std::lock_guard lock(mutex_);
    progressBar_ = bar;
}

void ProgressDLG::setPhaseText(const QString& text) {
    // Named first: a label without a name of its own signals each new text as a name change.
    announcePhase(text);
    phaseShown_ = text;
    showPhase();
}

void ProgressDLG::setPhaseProgress(const QString& phase, int percent) {
    announcePhase(phase);
    phaseShown_ = tr("%1… %L2% of the firmware").arg(phase).arg(percent);
    showPhase();
}

void ProgressDLG::setSilenceNote(const QString& note) {
    if (note != silenceNote_) {
        silenceNote_ = note;
        showPhase();
    }
}

void ProgressDLG::showPhase() {
    phase_->setText(silenceNote_.isEmpty() ? phaseShown_
                                           : phaseShown_ + QLatin1Char('\n') + silenceNote_);
}

void ProgressDLG::announcePhase(const QString& phase) {
    // Qt signals every accessible name it is given, also the same again.
    if (phase == phase_->accessibleName()) {
        return;
    }
    phase_->setAccessibleName(phase);
    if (const QPointer<QProgressBar> bar = progressBar()) {
        bar->setAccessibleDescription(phase);
    }
}

QString ProgressDLG::phaseText() const {
    return phase_->text();
}
