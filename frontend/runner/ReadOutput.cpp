#include "runner/ReadOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/Module1.h"
#include "common/Toolkit.h"

extern char** environ;

namespace korvalinfe {

namespace {

// How long the window's events are left unattended while waiting for output.
constexpr int kPollMilliseconds = 50;
// How long a process group gets to end after SIGTERM, and again after SIGKILL.
constexpr int kGraceMilliseconds = 1000;

// The control's picture: a small console window.
QPixmap consoleIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::darkBlue);
    painter.drawRect(1, 3, 29, 25);
    painter.setPen(QColor(0, 220, 0));
    painter.drawLine(5, 9, 9, 12);
    painter.drawLine(9, 12, 5, 15);
    painter.drawLine(11, 16, 18, 16);
    return pixmap;
}

// True while a process of group pgid is alive (a zombie counts as ended).
bool groupAlive(pid_t pgid) {
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    bool procReadable = false;
    while (processes.hasNext()) {
        processes.next();
        bool numeric = false;
        processes.fileName().toInt(&numeric);
        if (!numeric) continue;
        procReadable = true;
        QFile stat(processes.filePath() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        // "pid (comm) state ppid pgrp ..."; comm may hold blanks and ')'.
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0) continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 3) continue;
        if (fields[2].toLong() == pgid && fields[0] != "Z" && fields[0] != "X") return true;
    }
    if (!procReadable) return ::kill(-pgid, 0) == 0;
    return false;
}

// Reaps every ended child of group pgid, then waits up to milliseconds for
// the group to end.
bool waitForGroupEnd(pid_t pgid, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (::waitpid(-pgid, nullptr, WNOHANG) > 0) {
        }
        if (!groupAlive(pgid)) return true;
        if (clock.elapsed() >= milliseconds) return false;
        QThread::msleep(10);
    }
}

// The environment of the child: the parent's, with the converter's folder first on PATH.
std::vector<std::string> childEnvironment() {
    std::vector<std::string> entries;
    const std::string folder = QFile::encodeName(WindowsPath()).toStdString();
    bool havePath = false;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        if (text.rfind("PATH=", 0) == 0) {
            text = "PATH=" + folder + ":" + text.substr(5);
            havePath = true;
        }
        entries.push_back(std::move(text));
    }
    if (!havePath) entries.push_back("PATH=" + folder + ":/usr/local/bin:/usr/bin:/bin");
    return entries;
}

// Closes fd when it goes out of scope.
struct FdCloser {
    int fd = -1;
    ~FdCloser() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

}  // namespace

ReadOutput::ReadOutput(QWidget* parent) : QWidget(parent), sInterpreter(QStringLiteral("/bin/sh")) {
    imgIcon = new QLabel(this);
    imgIcon->setPixmap(consoleIcon());
    imgIcon->resize(imgIcon->pixmap().size());
    setFixedSize(imgIcon->size());
    bProcessing = false;
    bCancelRequested = false;

    reapTimer_.setInterval(500);
    connect(&reapTimer_, &QTimer::timeout, this, &ReadOutput::reapFinished);
}

ReadOutput::~ReadOutput() {
    for (pid_t pid : unreaped_) ::waitpid(pid, nullptr, WNOHANG);
}

void ReadOutput::resizeEvent(QResizeEvent* event) {
    // The control always keeps its picture's size.
    QWidget::resizeEvent(event);
    if (imgIcon && size() != imgIcon->size()) resize(imgIcon->size());
}

void ReadOutput::ProcessCommand() {
    if (sCommand.isEmpty()) {
        emit Error(QStringLiteral("Invalid Command."), kErrInvalidCommand);
        return;
    }
    if (bProcessing) {
        emit Error(QStringLiteral("Currently processing a command!"), kErrBusy);
        return;
    }
    RunCommand(sCommand);
}

void ReadOutput::CancelProcess() {
    if (bProcessing) {
        bCancelRequested = true;
        return;
    }
    emit Error(QStringLiteral("Not currently processing a command!"), kErrNotProcessing);
}

bool ReadOutput::CloseProcess(std::int32_t lProcessID, std::uint32_t /*uExitCode*/) {
    // Process ids 0 and 1 (and negative ones) would name our own group, init
    // or every process: never signal those.
    if (lProcessID <= 1) return false;
    const pid_t pgid = static_cast<pid_t>(lProcessID);
    if (::kill(-pgid, SIGTERM) != 0) {
        setLastDllError(errno);
        return false;
    }
    if (waitForGroupEnd(pgid, kGraceMilliseconds)) return true;
    ::kill(-pgid, SIGKILL);
    return waitForGroupEnd(pgid, kGraceMilliseconds);
}

namespace {

// Starts <interpreter> -c <command> in a process group of its own, in folder
// (the current directory when empty), with standard output and standard
// error on writeFd and no standard input. Returns 0 or the error number.
int spawnChild(const QString& sInterpreter, const QString& sCommandText, const QString& sFolder,
               int writeFd, pid_t& pid) {
    const QByteArray interpreter = QFile::encodeName(sInterpreter);
    const QByteArray command = sCommandText.toUtf8();
    const std::vector<std::string> environment = childEnvironment();
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(interpreter.constData()), const_cast<char*>("-c"),
                    const_cast<char*>(command.constData()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeFd, 1);
    posix_spawn_file_actions_adddup2(&actions, writeFd, 2);
    const QByteArray folder = QFile::encodeName(sFolder);
    if (!sFolder.isEmpty()) posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int error =
        ::posix_spawn(&pid, interpreter.constData(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

}  // namespace

void ReadOutput::RunCommand(const QString& sCommandText) {
    bProcessing = true;
    const QPointer<ReadOutput> self(this);

    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        const int error = errno;
        bProcessing = false;
        emit Error(QStringLiteral("CreatePipe failed."), error);
        return;
    }
    FdCloser readEnd{fds[0]};
    FdCloser writeEnd{fds[1]};

    pid_t pid = -1;
    const int spawnError = spawnChild(sInterpreter, sCommandText, sWorkingDirectory, fds[1], pid);
    if (spawnError != 0) {
        bProcessing = false;
        emit Error(QStringLiteral("CreateProcess failed."), spawnError);
        return;
    }

    // From now on only the child and its descendants hold the write end, so
    // the pipe ends when all of them have exited or closed it.
    writeEnd.reset();
    emit Starting();
    if (!self) return;
    bCancelRequested = false;

    const LoopEnd end = readLoop(readEnd.fd);
    if (end == LoopEnd::Gone) return;
    if (end == LoopEnd::Cancelled) {
        if (CloseProcess(static_cast<std::int32_t>(pid), 0)) {
            emit Canceled();
        } else {
            emit Error(QStringLiteral("Cannot close process id: ") + QString::number(pid),
                       kErrCannotClose);
        }
        if (!self) return;
    }

    // Clean-up: the exit status is never looked at, but the child is reaped
    // (later, when it has not exited yet) so that it leaves no zombie behind.
    readEnd.reset();
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {
        unreaped_.push_back(pid);
        reapTimer_.start();
    }
    bProcessing = false;
    bCancelRequested = false;
}

ReadOutput::LoopEnd ReadOutput::readLoop(int fd) {
    const QPointer<ReadOutput> self(this);
    // Bytes are UTF-8 text; a character split between two reads is completed
    // by the next read instead of being garbled.
    QStringDecoder decoder(QStringDecoder::Utf8);
    char buffer[kReadSize];
    for (;;) {
        doEvents();
        if (!self) return LoopEnd::Gone;
        if (bCancelRequested) return LoopEnd::Cancelled;
        // Wait for output without leaving the window's events unattended.
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPollMilliseconds);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;

        ssize_t count = -1;
        do {
            count = ::read(fd, buffer, sizeof buffer);
        } while (count < 0 && errno == EINTR);
        if (count > 0) {
            emit GotChunk(decoder.decode(QByteArrayView(buffer, count)), false);
            if (!self) return LoopEnd::Gone;
            continue;
        }
        // The pipe has ended (or failed): the empty last chunk, then Complete.
        const QString rest = decoder.decode(QByteArrayView());
        if (decoder.hasError() && !rest.isEmpty()) {
            emit GotChunk(rest, false);
            if (!self) return LoopEnd::Gone;
        }
        emit GotChunk(QString(), true);
        if (!self) return LoopEnd::Gone;
        emit Complete();
        if (!self) return LoopEnd::Gone;
        return bCancelRequested ? LoopEnd::Cancelled : LoopEnd::Ended;
    }
}

void ReadOutput::reapFinished() {
    std::erase_if(unreaped_, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    if (unreaped_.empty()) reapTimer_.stop();
}

}  // namespace korvalinfe
