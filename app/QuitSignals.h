// SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a closed terminal or a logout) brought into the event
// loop through a self-pipe, so that they take the program's own quit path instead of ending it
// at once. One instance per process.
#pragma once

#include <QObject>
#include <memory>
#include <vector>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    // Gives the signals it took back their default action. A signal ignored when it was made
    // (nohup) is left ignored.
    ~QuitSignals() override;

    bool isListening() const { return notifier_ != nullptr; }

signals:
    // On the event loop's thread, once per signal delivered.
    void received(int signal);

private:
    void drain();

    int readEnd_ = -1;
    std::vector<int> installed_; // the signals whose handler this is
    std::unique_ptr<QSocketNotifier> notifier_;
};
