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

TEST_F(OptionWindowTest, DefaultFileFillsTheControls) {
    QPointer<frmOption> window = open(defaultOptionFile());
    EXPECT_EQ(window->txtSampleDir->text(), appFolder());
    EXPECT_EQ(window->txtOutputDir->text(), appFolder());
    EXPECT_TRUE(window->Chk8Bit->isChecked());
    EXPECT_EQ(window->cbMaxCh->currentText(), QStringLiteral("32"));
    EXPECT_EQ(window->cbMaxRate->currentIndex(), -1);
    EXPECT_FALSE(window->cbQuantisize->isEnabled());
    delete window;
}

TEST_F(OptionWindowTest, FilesComeBackUnchangedWhenClosed) {
    const QByteArray every = crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(),
                                        "-dirtyend ", "-tweakvol ", "-8bit ", "-maxrate 22050",
                                        "-maxch 12", "-small ", "-qnt 8", "-nopan ", "-perch 9"});
    // A bare "-qnt" would make the converter read the next option word as its
    // value: it is not written back, and the lines after it still apply.
    const std::pair<QByteArray, QByteArray> cases[] = {
        {defaultOptionFile(), defaultOptionFile()},
        {every, every},
        {crlfLines({"-small ", "-qnt ", "-nopan "}), crlfLines({"-small ", "-nopan "})},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in.toStdString());
        QPointer<frmOption> window = open(in);
        close(window);
        EXPECT_EQ(readAll(optionFile()), out);
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(OptionWindowTest, QuantisizeStaysWrittenUnderTheNewMethod) {
    QPointer<frmOption> window = open(QByteArray());
    window->OptOldMethod->click();
    EXPECT_TRUE(window->cbQuantisize->isEnabled());  // also while the box is clear
    window->ChkQuantisize->click();
    window->cbQuantisize->setCurrentText(QStringLiteral("4"));
    window->WriteSettings();
    EXPECT_EQ(readAll(optionFile()), crlfLines({"-small ", "-qnt 4"}));
    window->OptNewMethod->click();
    EXPECT_TRUE(window->ChkQuantisize->isChecked());
    EXPECT_FALSE(window->ChkQuantisize->isEnabled());
    close(window);
    EXPECT_EQ(readAll(optionFile()), crlfLines({"-qnt 4"}));
}

TEST_F(OptionWindowTest, ThirteenLinesApplyAndAFourteenthAppliesNone) {
    QStringList lines(12, QStringLiteral("-nopan "));
    lines.append(QStringLiteral("-perch 3"));
    const QByteArray thirteen = "\r\n" + crlfLines(lines);  // empty lines do not count
    QPointer<frmOption> window = open(thirteen);
    EXPECT_EQ(window->cbPercussion->currentText(), QStringLiteral("3"));
    delete window;

    window = open(thirteen + "-tweakvol \r\n");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Subscript out of range"));
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Option"));
    EXPECT_FALSE(window->ChkNoPan->isChecked());
    delete window;
}

TEST_F(OptionWindowTest, FolderLines) {
    const QString blank = makeFolder(QStringLiteral("My Samples")).chopped(1);
    QPointer<frmOption> window = open(crlfLines({"-maxch 8"}));
    // Both folders must exist, or neither line is written.
    window->txtSampleDir->setText(appFolder());
    window->txtOutputDir->setText(root.path() + QStringLiteral("/missing"));
    window->WriteSettings();
    EXPECT_EQ(readAll(optionFile()), crlfLines({"-maxch 8"}));
    // A folder with a blank is written in quotes and read back without them.
    window->txtSampleDir->setText(blank);
    window->txtOutputDir->setText(blank);
    window->WriteSettings();
    const QByteArray quoted =
        crlfLines({"-sampd \"" + blank + "\"", "-outd \"" + blank + "\"", "-maxch 8"});
    EXPECT_EQ(readAll(optionFile()), quoted);
    delete window;
    window = open(quoted);
    EXPECT_EQ(window->txtSampleDir->text(), blank);
    close(window);
    EXPECT_EQ(readAll(optionFile()), quoted);
    EXPECT_TRUE(messages.messages.empty());  // no restart notice either
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
