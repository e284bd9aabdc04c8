// ReadOutput: runs one command line at a time through /bin/sh, reads the
// child's joined standard output and standard error in reads of at most 256
// bytes while keeping the windows responsive, and reports everything through
// its signals. It knows nothing of the converter; failures are only reported
// through Error, never thrown to the caller.
//
// Order of one run that ends by itself: Starting, GotChunk(text, false) per
// read, GotChunk("", true), Complete. A cancelled run: Starting, the chunks
// read before the request was noticed, then Canceled or Error 1203.
#pragma once

#include <sys/types.h>

#include <QLabel>
#include <QString>
#include <QStringDecoder>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace korvalinfe {

class ReadOutput : public QWidget {
    Q_OBJECT

  public:
    // Error numbers of the Error signal (pipe and process failures carry errno).
    enum : std::int32_t {
        kErrInvalidCommand = 1200,
        kErrBusy = 1201,
        kErrNotProcessing = 1202,
        kErrCannotClose = 1203,
    };
    static constexpr int kReadSize = 256;

    explicit ReadOutput(QWidget* parent = nullptr);
    ~ReadOutput() override;

    // The command; storing or reading it does nothing else.
    QString SetCommand() const { return sCommand; }
    void SetCommand(const QString& sCommandVal) { sCommand = sCommandVal; }

    // The folder the child starts in; empty (the default) means the front end's
    // current directory at the moment of the run.
    QString WorkingDirectory() const { return sWorkingDirectory; }
    void WorkingDirectory(const QString& sFolder) { sWorkingDirectory = sFolder; }

    // The command interpreter, "/bin/sh" by default. The child runs
    // <interpreter> -c <command>, the command passed as one argument, so the
    // shell parses it exactly as written: quoting file names for the shell is
    // the caller's part.
    QString Interpreter() const { return sInterpreter; }
    void Interpreter(const QString& sPath) { sInterpreter = sPath; }

    // Runs sCommand; returns when the run has ended and all its signals were raised.
    void ProcessCommand();
    // Requests the end of the running command; acted on before the next read.
    void CancelProcess();
    // Ends the process group led by lProcessID: SIGTERM, then SIGKILL after a
    // short grace. True when no live process of the group is left.
    bool CloseProcess(std::int32_t lProcessID, std::uint32_t uExitCode);

    bool Processing() const { return bProcessing; }

  signals:
    void Error(const QString& Error, std::int32_t LastDLLError);
    void GotChunk(const QString& sChunk, bool LastChunk);
    void Complete();
    void Starting();
    void Canceled();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void RunCommand(const QString& sCommandText);
    // How the read loop of a run ended: the pipe ended, a cancel was
    // requested, or the control was destroyed by a handler meanwhile.
    enum class LoopEnd { Ended, Cancelled, Gone };
    // Reads fd until it ends or a cancel is noticed, raising GotChunk and Complete.
    LoopEnd readLoop(int fd);
    void reapFinished();

    QString sCommand;
    QString sWorkingDirectory;
    QString sInterpreter;
    bool bProcessing = false;
    bool bCancelRequested = false;
    QLabel* imgIcon = nullptr;
    // Children that had not exited when their run ended; reaped later.
    std::vector<pid_t> unreaped_;
    QTimer reapTimer_;
};

}  // namespace korvalinfe
