// The options window: korvalin.cfg into the controls and back, the method and
// quantisation controls, and the restart notice.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include "main_option_fixture.h"
#include "windows/frmOption.h"

namespace korvalinfe::testing {
namespace {

class OptionWindowTest : public WindowFixture {
  protected:
    QPointer<frmOption> open(const QByteArray& content) {
        writeAll(optionFile(), content);
        return new frmOption();
    }
    // Closes the window as the user does; it deletes itself.
    static void close(QPointer<frmOption>& window) {
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

// A line whose value the window cannot show is named once and left out of
// the next save; every other line is read and written back.
TEST_F(OptionWindowTest, FilesComeBackWhenClosed) {
    const QByteArray every = crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(),
                                        "-dirtyend ", "-tweakvol ", "-8bit ", "-maxrate 22050",
                                        "-maxch 12", "-small ", "-qnt 8", "-nopan ", "-perch 9"});
    const QString unshown = QStringLiteral(
        "korvalin.cfg: the line \"%1\" has the value \"%2\", which this window "
        "cannot show; the line is skipped and not saved again.");
    // A bare "-qnt" would make the converter read the next option word as its
    // value: it is not written back, and the lines after it still apply.
    const std::tuple<QByteArray, QByteArray, QString> cases[] = {
        {defaultOptionFile(), defaultOptionFile(), ""},
        {every, every, ""},
        {crlfLines({"-small ", "-qnt ", "-nopan "}), crlfLines({"-small ", "-nopan "}), ""},
        {crlfLines({"-maxch 64", "-maxrate 96000", "-nopan ", "-perch 3"}),
         crlfLines({"-nopan ", "-perch 3"}),
         unshown.arg("-maxch 64", "64") + "\r\n" + unshown.arg("-maxrate 96000", "96000")},
    };
    for (const auto& [in, out, message] : cases) {
        SCOPED_TRACE(in.toStdString());
        messages.messages.clear();
        QPointer<frmOption> window = open(in);
        close(window);
        EXPECT_EQ(readAll(optionFile()), out);
        ASSERT_EQ(messages.messages.size(), message.isEmpty() ? 0u : 1u);
        if (!message.isEmpty()) {
            EXPECT_EQ(messages.messages[0].text, message);
        }
    }
}

// A long file (once refused whole from its 14th line on) is read to its end.
TEST_F(OptionWindowTest, EveryLineOfALongFileApplies) {
    QStringList lines(13, QStringLiteral("-nopan "));
    lines << QStringLiteral("-perch 3") << QStringLiteral("-tweakvol ");
    QPointer<frmOption> window = open("\r\n" + crlfLines(lines));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(window->cbPercussion->currentText(), QStringLiteral("3"));
    EXPECT_TRUE(window->ChkTweakVol->isChecked());
    delete window;
}

// Each folder line is written when its folder exists; a missing folder is
// named when the window closes. A folder with a blank is written in quotes
// and read back without them.
TEST_F(OptionWindowTest, FolderLines) {
    const QString blank = makeFolder(QStringLiteral("My Samples")).chopped(1);
    const QString missing = root.path() + QStringLiteral("/missing");
    const std::tuple<QString, QString, QByteArray, QString> cases[] = {
        {blank, blank, crlfLines({"-sampd \"" + blank + "\"", "-outd \"" + blank + "\"", "-8bit "}),
         ""},
        {blank, missing, crlfLines({"-sampd \"" + blank + "\"", "-8bit "}),
         "Output Folder \"" + missing + "\" does not exist; it is not saved."},
        {missing, "", crlfLines({"-8bit "}),
         "Sample Folder \"" + missing + "\" does not exist; it is not saved."},
    };
    for (const auto& [sample, output, written, message] : cases) {
        SCOPED_TRACE(written.toStdString());
        messages.messages.clear();
        QPointer<frmOption> window = open(crlfLines({"-sampd " + sample, "-8bit "}));
        window->txtOutputDir->setText(output);
        close(window);
        EXPECT_EQ(readAll(optionFile()), written);
        ASSERT_EQ(messages.messages.size(), message.isEmpty() ? 0u : 1u);
        if (!message.isEmpty()) {
            EXPECT_EQ(messages.messages[0].text, message);
        }
        window = open(written);
        EXPECT_EQ(window->txtSampleDir->text(), written.startsWith("-sampd") ? blank : "");
        delete window;
    }
}

TEST_F(OptionWindowTest, ChangedSampleFolderAsksForARestart) {
    const QString other = makeFolder(QStringLiteral("samples")).chopped(1);
    QPointer<frmOption> window = open(defaultOptionFile());
    window->txtSampleDir->setText(other);
    close(window);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              "Sample Directory was change, please restart program to take it effect.");
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(readAll(optionFile()).startsWith(("-sampd " + other + "\r\n").toUtf8()));
}

}  // namespace
}  // namespace korvalinfe::testing
