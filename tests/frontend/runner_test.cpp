// The command runner against real /bin/sh children: the order of its events,
// the 256-byte reads, its refusals, cancelling, and how the child is started.
#include <cerrno>
#include <utility>

#include "main_option_fixture.h"
#include "runner/ReadOutput.h"

namespace korvalinfe::testing {
namespace {

// Every event of a runner, in the order raised, and the text of its chunks.
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

TEST(ReadOutput, EventsAndTextOfACommand) {
    QTemporaryDir dir;
    writeAll(dir.filePath("600.txt"), QByteArray(600, 'x'));
    // 255 ASCII bytes and a two-byte character: the first read splits it.
    writeAll(dir.filePath("split.txt"), QByteArray(255, 'a') + "\xc3\xa9");
    const std::tuple<QString, QStringList, QString> cases[] = {
        {"true", {"GotChunk 0 last"}, ""},
        {"cat 600.txt",
         {"GotChunk 256", "GotChunk 256", "GotChunk 88", "GotChunk 0 last"},
         QString(600, u'x')},
        {"cat split.txt",
         {"GotChunk 255", "GotChunk 1", "GotChunk 0 last"},
         QString(255, u'a') + QChar(0xe9)},
        {"echo out; echo err 1>&2", {}, "out\nerr\n"},
        {R"(printf '%s|' "a b.mid" 'c$d.mid')", {}, "a b.mid|c$d.mid|"},
        {"cat", {"GotChunk 0 last"}, ""},  // no standard input to wait for
    };
    for (const auto& [command, chunks, text] : cases) {
        SCOPED_TRACE(command.toStdString());
        ReadOutput runner;
        EventLog log(runner);
        runner.WorkingDirectory(dir.path());
        runner.SetCommand(command);
        runner.ProcessCommand();
        if (chunks.isEmpty()) {
            EXPECT_EQ(log.events.last(), "Complete");
        } else {
            EXPECT_EQ(log.events, QStringList{"Starting"} + chunks + QStringList{"Complete"});
        }
        EXPECT_EQ(log.text, text);
        EXPECT_FALSE(runner.Processing());
    }
}

TEST(ReadOutput, RefusalsAndUnstartableChildrenLeaveTheRunnerIdle) {
    enum Act { kRun, kCancel };
    const std::tuple<QString, QString, Act, QString> cases[] = {
        {"", "/bin/sh", kRun, "Error 1200 Invalid Command."},
        {"echo x", "/bin/sh", kCancel, "Error 1202 Not currently processing a command!"},
        {"echo x", "/nonexistent/sh", kRun,
         QStringLiteral("Error %1 CreateProcess failed.").arg(ENOENT)},
    };
    for (const auto& [command, interpreter, act, expected] : cases) {
        SCOPED_TRACE(expected.toStdString());
        ReadOutput runner;
        EventLog log(runner);
        runner.Interpreter(interpreter);
        runner.SetCommand(command);
        act == kCancel ? runner.CancelProcess() : runner.ProcessCommand();
        EXPECT_EQ(log.events, QStringList{expected});
        EXPECT_FALSE(runner.Processing());
        EXPECT_EQ(runner.SetCommand(), command);
    }
}

// From a chunk handler a second command is refused while the run goes on,
// and a cancel ends the run before any further chunk.
TEST(ReadOutput, CallsFromAChunkHandler) {
    const std::tuple<bool, QString, QString, QString> cases[] = {
        {false, "echo one; sleep 0.2; echo two", "Error 1201 Currently processing a command!",
         "one\ntwo\n"},
        {true, "while :; do echo tick; sleep 0.05; done", "Canceled", "tick\n"},
    };
    for (const auto& [cancel, command, third, text] : cases) {
        SCOPED_TRACE(command.toStdString());
        ReadOutput runner;
        EventLog log(runner);
        bool asked = false;
        QObject::connect(&runner, &ReadOutput::GotChunk,
                         [&, cancel = cancel](const QString&, bool last) {
                             if (last || std::exchange(asked, true)) return;
                             cancel ? runner.CancelProcess() : runner.ProcessCommand();
                         });
        runner.SetCommand(command);
        runner.ProcessCommand();
        ASSERT_GE(log.events.size(), 3);
        EXPECT_EQ(log.events[2], third);
        EXPECT_EQ(log.events.last(), cancel ? "Canceled" : "Complete");
        EXPECT_EQ(log.text, text);
        EXPECT_FALSE(runner.Processing());
    }
    ReadOutput runner;  // never our own group, init or every process
    for (std::int32_t pid : {0, 1, -1, -12345}) EXPECT_FALSE(runner.CloseProcess(pid, 0)) << pid;
}

}  // namespace
}  // namespace korvalinfe::testing
