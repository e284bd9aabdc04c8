// The command runner against real /bin/sh children: the order of its events,
// the 256-byte reads, its refusals, cancelling, and how the child is started.
#include "common/Module1.h"
#include "runner/ReadOutput.h"

#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace korvalinfe {
namespace {

// Every event of a runner, in the order raised.
struct EventLog {
    explicit EventLog(ReadOutput& runner) {
        QObject::connect(&runner, &ReadOutput::Error, [this](const QString& text, std::int32_t n) {
            events << QStringLiteral("Error %1 %2").arg(n).arg(text);
        });
        QObject::connect(&runner, &ReadOutput::GotChunk, [this](const QString& chunk, bool last) {
            events << QStringLiteral("GotChunk %1%2").arg(chunk.size()).arg(last ? " last" : "");
            text += chunk;
        });
        QObject::connect(&runner, &ReadOutput::Complete, [this] { events << "Complete"; });
        QObject::connect(&runner, &ReadOutput::Starting, [this] { events << "Starting"; });
        QObject::connect(&runner, &ReadOutput::Canceled, [this] { events << "Canceled"; });
    }
    QStringList events;
    QString text;
};

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

// True while process pid exists and is not a zombie.
bool processAlive(const QString& pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.size() > close + 2 && line[close + 2] != 'Z';
}

TEST(ReadOutput, SilentCommandRaisesStartingEmptyLastChunkAndComplete) {
    ReadOutput runner;
    EventLog log(runner);
    QSignalSpy chunks(&runner, &ReadOutput::GotChunk);
    runner.SetCommand(QStringLiteral("true"));
    runner.ProcessCommand();
    EXPECT_EQ(log.events, (QStringList{"Starting", "GotChunk 0 last", "Complete"}));
    ASSERT_EQ(chunks.count(), 1);
    EXPECT_EQ(chunks[0][0].toString(), QString());
    EXPECT_TRUE(chunks[0][1].toBool());
    EXPECT_FALSE(runner.Processing());
}

TEST(ReadOutput, OneWriteOf600BytesArrivesIn256ByteReads) {
    QTemporaryDir dir;
    const QString file = writeFile(dir, "out.txt", QByteArray(600, 'x'));
    ReadOutput runner;
    EventLog log(runner);
    runner.SetCommand(QStringLiteral("cat '%1'").arg(file));
    runner.ProcessCommand();
    EXPECT_EQ(log.events, (QStringList{"Starting", "GotChunk 256", "GotChunk 256", "GotChunk 88",
                                       "GotChunk 0 last", "Complete"}));
    EXPECT_EQ(log.text, QString(600, u'x'));
}

TEST(ReadOutput, DeliversTheJoinedOutputOfTheCommandAsTheShellParsesIt) {
    QTemporaryDir dir;
    // 255 ASCII bytes and a two-byte character: the first read splits it.
    const QString split = writeFile(dir, "split.txt", QByteArray(255, 'a') + "\xc3\xa9");
    struct Case {
        const char* name;
        QString command;
        QString output;
    };
    const Case cases[] = {
        {"standard error joins standard output", "echo out; echo err 1>&2", "out\nerr\n"},
        {"quoted names keep blanks and $", R"(printf '%s|' "a b.mid" 'c$d.mid')", "a b.mid|c$d.mid|"},
        {"no standard input to wait for", "cat", ""},
        {"character split between reads", QStringLiteral("cat '%1'").arg(split),
         QString(255, u'a') + QChar(0xe9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOutput runner;
        EventLog log(runner);
        runner.SetCommand(c.command);
        runner.ProcessCommand();
        EXPECT_EQ(log.text, c.output);
        EXPECT_EQ(log.events.last(), "Complete");
    }
}

TEST(ReadOutput, RefusesWithoutDisturbingItsState) {
    struct Case {
        const char* name;
        QString command;
        bool cancel;
        QString expected;
    };
    const Case cases[] = {
        {"empty command", QString(), false, "Error 1200 Invalid Command."},
        {"cancel while idle", QStringLiteral("echo x"), true,
         "Error 1202 Not currently processing a command!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOutput runner;
        EventLog log(runner);
        QSignalSpy errors(&runner, &ReadOutput::Error);
        runner.SetCommand(c.command);
        if (c.cancel)
            runner.CancelProcess();
        else
            runner.ProcessCommand();
        EXPECT_EQ(log.events, QStringList{c.expected});
        EXPECT_EQ(errors.count(), 1);
        EXPECT_FALSE(runner.Processing());
        EXPECT_EQ(runner.SetCommand(), c.command);
    }
}

TEST(ReadOutput, SecondCommandDuringARunIsRefusedAndTheRunGoesOn) {
    ReadOutput runner;
    EventLog log(runner);
    bool asked = false;
    QObject::connect(&runner, &ReadOutput::GotChunk, [&](const QString&, bool last) {
        if (last || asked) return;
        asked = true;
        runner.ProcessCommand();
    });
    runner.SetCommand(QStringLiteral("echo one; sleep 0.2; echo two"));
    runner.ProcessCommand();
    ASSERT_GE(log.events.size(), 4);
    EXPECT_EQ(log.events[2], "Error 1201 Currently processing a command!");
    EXPECT_EQ(log.text, "one\ntwo\n");
    EXPECT_EQ(log.events.last(), "Complete");
}

TEST(ReadOutput, CancelEndsTheWholeProcessGroupWithoutFurtherChunks) {
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("sleeper.pid");
    ReadOutput runner;
    EventLog log(runner);
    QObject::connect(&runner, &ReadOutput::GotChunk, [&](const QString&, bool last) {
        if (!last) runner.CancelProcess();
    });
    // A background child that holds the pipe open for half a minute.
    runner.SetCommand(QStringLiteral("sleep 30 & echo $! > '%1'; while :; do echo tick; sleep 0.05; done")
                          .arg(pidFile));
    runner.ProcessCommand();
    // One chunk (one or more ticks), then no more reads.
    ASSERT_EQ(log.events.size(), 3) << log.events.join(", ").toStdString();
    EXPECT_EQ(log.events[0], "Starting");
    EXPECT_TRUE(log.events[1].startsWith("GotChunk ") && !log.events[1].endsWith("last"));
    EXPECT_EQ(log.events[2], "Canceled");
    EXPECT_FALSE(runner.Processing());
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString sleeper = QString::fromLatin1(file.readAll()).trimmed();
    ASSERT_FALSE(sleeper.isEmpty());
    EXPECT_FALSE(processAlive(sleeper));
}

TEST(ReadOutput, CancelFromCompleteFollowsComplete) {
    ReadOutput runner;
    EventLog log(runner);
    QObject::connect(&runner, &ReadOutput::Complete, [&] { runner.CancelProcess(); });
    runner.SetCommand(QStringLiteral("echo done"));
    runner.ProcessCommand();
    ASSERT_EQ(log.events.size(), 5) << log.events.join(", ").toStdString();
    EXPECT_EQ(log.events[3], "Complete");
    // The child has ended by then: closing its group succeeds, or finds no group.
    EXPECT_TRUE(log.events[4] == "Canceled" || log.events[4].startsWith("Error 1203 Cannot close process id: "))
        << log.events[4].toStdString();
    EXPECT_FALSE(runner.Processing());
}

TEST(ReadOutput, UnstartableChildIsReportedAndLeavesTheRunnerIdle) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        QString interpreter;
        QString folder;
        int error;
    };
    const Case cases[] = {
        {"missing interpreter", "/nonexistent/sh", QString(), ENOENT},
        {"missing working folder", "/bin/sh", dir.filePath("missing"), ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOutput runner;
        EventLog log(runner);
        runner.Interpreter(c.interpreter);
        runner.WorkingDirectory(c.folder);
        runner.SetCommand(QStringLiteral("echo x"));
        runner.ProcessCommand();
        EXPECT_EQ(log.events, QStringList{QStringLiteral("Error %1 CreateProcess failed.").arg(c.error)});
        EXPECT_FALSE(runner.Processing());
    }
}

TEST(ReadOutput, ChildStartsInTheWorkingFolderAndFindsTheConverterFolderFirst) {
    QTemporaryDir work;
    QTemporaryDir bin;
    const QString script = writeFile(bin, "korvalin", "#!/bin/sh\necho \"converter in $(pwd)\"\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    overrideWindowsPath(bin.path());
    ReadOutput runner;
    EventLog log(runner);
    runner.WorkingDirectory(work.path());
    runner.SetCommand(QStringLiteral("korvalin"));
    runner.ProcessCommand();
    overrideWindowsPath(QString());
    EXPECT_EQ(log.text, QStringLiteral("converter in %1\n").arg(work.path()));
}

TEST(ReadOutput, CloseProcessNeverSignalsOwnGroupInitOrEveryProcess) {
    ReadOutput runner;
    for (std::int32_t pid : {0, 1, -1, -12345}) {
        SCOPED_TRACE(pid);
        EXPECT_FALSE(runner.CloseProcess(pid, 0));
    }
}

}  // namespace
}  // namespace korvalinfe
