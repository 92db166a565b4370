#include "MixerProcess.h"

#include "EventLoopWait.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

MixerProcess::~MixerProcess() {
    stop();
    if (output_ >= 0) {
        close(output_);
    }
}

bool MixerProcess::start(const QString& program, const QStringList& arguments, const QString& ready,
                         std::chrono::milliseconds timeout) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::vector<std::string> words{program.toStdString()};
    for (const QString& argument : arguments) {
        words.push_back(argument.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    fcntl(output_, F_SETFL, fcntl(output_, F_GETFL) | O_NONBLOCK);
    if (spawned != 0) {
        pid_ = 0;
        return false;
    }
    return waitUntil([&] { return !lines(ready).isEmpty(); }, timeout);
}

int MixerProcess::stop() {
    if (input_ >= 0) {
        close(std::exchange(input_, -1));
    }
    int status = -1;
    if (pid_ > 0) {
        waitpid(std::exchange(pid_, 0), &status, 0);
    }
    return status;
}

void MixerProcess::kill(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

QString MixerProcess::output() {
    char buffer[256];
    ssize_t n;
    while (output_ >= 0 && (n = read(output_, buffer, sizeof buffer)) > 0) {
        out_ += QString::fromUtf8(buffer, n);
    }
    return out_;
}

QStringList MixerProcess::lines(const QString& prefix) {
    QStringList found;
    QStringList all = output().split('\n');
    all.removeLast(); // not ended yet
    for (const QString& line : all) {
        if (line.startsWith(prefix)) {
            found << line;
        }
    }
    return found;
}
