// The options window: loading korvalin.cfg into the controls, writing them
// back on close, the method and quantisation controls, and the notices.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include "main_option_fixture.h"
#include "windows/frmOption.h"

namespace korvalinfe::testing {
namespace {

class OptionWindowTest : public WindowFixture {
protected:
    // Opens the window on the given option file content.
    QPointer<frmOption> open(const QByteArray& content) {
        writeAll(optionFile(), content);
        return new frmOption();
    }
    // Closes the window as the user does; the window deletes itself.
    static void close(QPointer<frmOption>& window) {
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QByteArray defaultFile() const {
        return crlfLines({QStringLiteral("-sampd ") + appFolder(),
                          QStringLiteral("-outd ") + appFolder(), QStringLiteral("-8bit "),
                          QStringLiteral("-maxch 32")});
    }
};

TEST_F(OptionWindowTest, DefaultFileLoadsAndRewritesUnchanged) {
    QPointer<frmOption> window = open(defaultFile());
    EXPECT_EQ(window->txtSampleDir->text(), appFolder());
    EXPECT_EQ(window->txtOutputDir->text(), appFolder());
    EXPECT_TRUE(window->Chk8Bit->isChecked());
    EXPECT_EQ(window->cbMaxCh->currentText(), QStringLiteral("32"));
    EXPECT_EQ(window->cbMaxRate->currentIndex(), -1);
    EXPECT_EQ(window->cbPercussion->currentIndex(), -1);
    EXPECT_TRUE(window->OptNewMethod->isChecked());
    EXPECT_FALSE(window->ChkQuantisize->isEnabled());
    EXPECT_FALSE(window->cbQuantisize->isEnabled());

    close(window);
    EXPECT_EQ(readAll(optionFile()), defaultFile());
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(programEnds, 0);
}

TEST_F(OptionWindowTest, FlagLinesAreRecognisedByTheirWordOnly) {
    struct Case {
        const char* name;
        QByteArray line;
        bool ticked;
    };
    const Case cases[] = {
        {"trailing blank", "-8bit \r\n", true},
        {"no trailing blank", "-8bit\r\n", true},
        {"tab and text", "-8bit\tx\r\n", false},
        {"other case", "-8BIT \r\n", false},
        {"lone line feed", "-8bit\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPointer<frmOption> window = open(c.line);
        EXPECT_EQ(window->Chk8Bit->isChecked(), c.ticked);
        delete window;
    }
}

TEST_F(OptionWindowTest, OldMethodWithQuantisizeKeepsItsLineUnderTheNewMethod) {
    QPointer<frmOption> window = open(QByteArray());
    window->OptOldMethod->click();
    EXPECT_TRUE(window->ChkQuantisize->isEnabled());
    EXPECT_TRUE(window->cbQuantisize->isEnabled());  // also while the box is clear
    window->ChkQuantisize->click();
    window->cbQuantisize->setCurrentText(QStringLiteral("4"));
    window->WriteSettings();
    EXPECT_EQ(readAll(optionFile()), crlfLines({QStringLiteral("-small "), QStringLiteral("-qnt 4")}));

    window->OptNewMethod->click();
    EXPECT_TRUE(window->ChkQuantisize->isChecked());
    EXPECT_FALSE(window->ChkQuantisize->isEnabled());
    EXPECT_FALSE(window->cbQuantisize->isEnabled());
    close(window);
    EXPECT_EQ(readAll(optionFile()), crlfLines({QStringLiteral("-qnt 4")}));

    // Read back: ticked, 4 chosen, but disabled under the new method.
    window = open(readAll(optionFile()));
    EXPECT_TRUE(window->ChkQuantisize->isChecked());
    EXPECT_EQ(window->cbQuantisize->currentText(), QStringLiteral("4"));
    EXPECT_FALSE(window->cbQuantisize->isEnabled());
    delete window;
}

TEST_F(OptionWindowTest, EveryOptionRoundTrips) {
    const QByteArray file = crlfLines({
        QStringLiteral("-sampd ") + appFolder(), QStringLiteral("-outd ") + appFolder(),
        QStringLiteral("-dirtyend "), QStringLiteral("-tweakvol "), QStringLiteral("-8bit "),
        QStringLiteral("-maxrate 22050"), QStringLiteral("-maxch 12"), QStringLiteral("-small "),
        QStringLiteral("-qnt 8"), QStringLiteral("-nopan "), QStringLiteral("-perch 9")});
    QPointer<frmOption> window = open(file);
    EXPECT_TRUE(window->OptOldMethod->isChecked());
    EXPECT_TRUE(window->cbQuantisize->isEnabled());
    close(window);
    EXPECT_EQ(readAll(optionFile()), file);
}

// A ticked Quantisize box without a chosen entry writes no line, and a bare
// "-qnt" line of an older file only ticks the box: a bare "-qnt" would make the
// converter read "-nopan" as its value and the window stop at it.
TEST_F(OptionWindowTest, QuantisizeWithoutAnEntryKeepsTheLinesAfterIt) {
    QPointer<frmOption> window =
        open(crlfLines({QStringLiteral("-small "), QStringLiteral("-qnt "), QStringLiteral("-nopan ")}));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(window->ChkQuantisize->isChecked());
    EXPECT_EQ(window->cbQuantisize->currentIndex(), -1);
    EXPECT_TRUE(window->ChkNoPan->isChecked());
    close(window);
    EXPECT_EQ(readAll(optionFile()), crlfLines({QStringLiteral("-small "), QStringLiteral("-nopan ")}));
}

TEST_F(OptionWindowTest, ThirteenLinesApplyAndAFourteenthAppliesNone) {
    QStringList lines;
    for (int i = 0; i < 12; ++i) lines.append(QStringLiteral("-nopan "));
    lines.append(QStringLiteral("-perch 3"));
    // Empty lines are not counted.
    QByteArray thirteen = crlfLines(lines);
    thirteen.insert(0, "\r\n\r\n");

    QPointer<frmOption> window = open(thirteen);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(window->cbPercussion->currentText(), QStringLiteral("3"));
    delete window;

    window = open(thirteen + "-tweakvol \r\n");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Subscript out of range"));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Option"));
    EXPECT_FALSE(window->ChkNoPan->isChecked());
    EXPECT_EQ(window->cbPercussion->currentIndex(), -1);
    delete window;
}

TEST_F(OptionWindowTest, ValueOutsideItsListStopsTheRestOfTheFile) {
    QPointer<frmOption> window =
        open(crlfLines({QStringLiteral("-nopan "), QStringLiteral("-maxch 33"),
                        QStringLiteral("-tweakvol ")}));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Invalid property value"));
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Option"));
    EXPECT_TRUE(window->ChkNoPan->isChecked());
    EXPECT_EQ(window->cbMaxCh->currentIndex(), -1);
    EXPECT_FALSE(window->ChkTweakVol->isChecked());
    delete window;
}

TEST_F(OptionWindowTest, FolderLinesNeedBothFoldersToExist) {
    struct Case {
        const char* name;
        QString sample;
        QString output;
        bool written;
    };
    const QString there = makeFolder(QStringLiteral("there"));
    const Case cases[] = {
        {"both exist", appFolder(), there, true},
        {"output missing", appFolder(), root.path() + QStringLiteral("/missing"), false},
        {"sample empty", QString(), there, false},
        {"output only blanks", appFolder(), QStringLiteral("   "), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPointer<frmOption> window = open(crlfLines({QStringLiteral("-maxch 8")}));
        window->txtSampleDir->setText(c.sample);
        window->txtOutputDir->setText(c.output);
        window->WriteSettings();
        const QByteArray expected =
            c.written ? crlfLines({QStringLiteral("-sampd ") + c.sample,
                                   QStringLiteral("-outd ") + c.output, QStringLiteral("-maxch 8")})
                      : crlfLines({QStringLiteral("-maxch 8")});
        EXPECT_EQ(readAll(optionFile()), expected);
        delete window;
    }
}

TEST_F(OptionWindowTest, FolderWithABlankIsQuotedAndReadBackWithout) {
    const QString samples = makeFolder(QStringLiteral("My Samples"));
    const QString folder = samples.left(samples.size() - 1);
    QPointer<frmOption> window = open(defaultFile());
    window->txtSampleDir->setText(folder);
    window->txtOutputDir->setText(folder);
    window->WriteSettings();
    const QByteArray quoted = crlfLines({QStringLiteral("-sampd \"") + folder + u'"',
                                         QStringLiteral("-outd \"") + folder + u'"',
                                         QStringLiteral("-8bit "), QStringLiteral("-maxch 32")});
    EXPECT_EQ(readAll(optionFile()), quoted);
    delete window;

    // Loaded and closed unchanged: the same file, and no restart notice.
    window = open(quoted);
    EXPECT_EQ(window->txtSampleDir->text(), folder);
    EXPECT_EQ(window->txtOutputDir->text(), folder);
    close(window);
    EXPECT_EQ(readAll(optionFile()), quoted);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(OptionWindowTest, ChangedSampleFolderAsksForARestart) {
    const QString other = makeFolder(QStringLiteral("samples"));
    QPointer<frmOption> window = open(defaultFile());
    window->txtSampleDir->setText(other);
    close(window);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("Sample Directory was change, please restart program to take it "
                             "effect."));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("KorvalinFE"));
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(readAll(optionFile()).startsWith(("-sampd " + other + "\r\n").toUtf8()));
}

TEST_F(OptionWindowTest, MissingOptionFileIsNeverCreated) {
    QPointer<frmOption> window = new frmOption();
    EXPECT_TRUE(window->OptNewMethod->isChecked());
    EXPECT_FALSE(window->Chk8Bit->isChecked());
    window->ChkNoPan->setChecked(true);
    close(window);
    EXPECT_FALSE(QFileInfo::exists(optionFile()));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(OptionWindowTest, BrowsedFolderReplacesTextUnlessCancelled) {
    QString answer;
    setBrowseForFolderHook([&](QWidget*, const QString& prompt) {
        EXPECT_EQ(prompt, QStringLiteral("Please select a folder."));
        return answer;
    });
    QPointer<frmOption> window = open(defaultFile());
    answer = QStringLiteral("/chosen");
    window->cmdOutputDir->click();
    EXPECT_EQ(window->txtOutputDir->text(), QStringLiteral("/chosen"));
    answer.clear();
    window->cmdSampleDir->click();
    EXPECT_EQ(window->txtSampleDir->text(), appFolder());
    setBrowseForFolderHook(nullptr);
    delete window;
}

}  // namespace
}  // namespace korvalinfe::testing
