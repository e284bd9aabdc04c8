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
    QByteArray defaultFile() const {
        return crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(), "-8bit ", "-maxch 32"});
    }
};

TEST_F(OptionWindowTest, DefaultFileLoadsAndRewritesUnchanged) {
    QPointer<frmOption> window = open(defaultFile());
    EXPECT_EQ(window->txtSampleDir->text(), appFolder());
    EXPECT_EQ(window->txtOutputDir->text(), appFolder());
    EXPECT_TRUE(window->Chk8Bit->isChecked());
    EXPECT_EQ(window->cbMaxCh->currentText(), QStringLiteral("32"));
    EXPECT_EQ(window->cbMaxRate->currentIndex(), -1);
    EXPECT_TRUE(window->OptNewMethod->isChecked());
    EXPECT_FALSE(window->ChkQuantisize->isEnabled());
    EXPECT_FALSE(window->cbQuantisize->isEnabled());
    close(window);
    EXPECT_EQ(readAll(optionFile()), defaultFile());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(OptionWindowTest, EveryOptionRoundTripsInItsOrder) {
    const QByteArray file =
        crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(), "-dirtyend ", "-tweakvol ",
                   "-8bit ", "-maxrate 22050", "-maxch 12", "-small ", "-qnt 8", "-nopan ", "-perch 9"});
    QPointer<frmOption> window = open(file);
    EXPECT_TRUE(window->cbQuantisize->isEnabled());
    close(window);
    EXPECT_EQ(readAll(optionFile()), file);
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

// A bare "-qnt" would make the converter read the next option word as its
// value; such a line is not written, and one read back only ticks the box.
TEST_F(OptionWindowTest, QuantisizeWithoutAnEntryKeepsTheLinesAfterIt) {
    QPointer<frmOption> window = open(crlfLines({"-small ", "-qnt ", "-nopan "}));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(window->ChkQuantisize->isChecked());
    EXPECT_TRUE(window->ChkNoPan->isChecked());
    close(window);
    EXPECT_EQ(readAll(optionFile()), crlfLines({"-small ", "-nopan "}));
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
    QPointer<frmOption> window = open(defaultFile());
    window->txtSampleDir->setText(other);
    close(window);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("Sample Directory was change, please restart program to take it effect."));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("KorvalinFE"));
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(readAll(optionFile()).startsWith(("-sampd " + other + "\r\n").toUtf8()));
}

}  // namespace
}  // namespace korvalinfe::testing
