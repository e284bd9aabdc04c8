// Option-file lines and shell words: what the front end writes must come back
// the same through the converter's option-file reader and through the shell.
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "windows/OptionLine.h"

namespace korvalinfe {
namespace {

TEST(OptionLine, TokenizerAndValue) {
    struct Case {
        const char* line;
        const char* word;
        const char* value;
    };
    const Case cases[] = {
        {"-sampd /srv/pats", "-sampd", "/srv/pats"},
        {"-8bit ", "-8bit", ""},
        {"-8bit\tx", "-8bit\tx", ""},
        {"-maxch   32  ", "-maxch", "32"},
        {"-sampd \"/my pats\"", "-sampd", "/my pats"},
        {"-sampd '/a \"b\"'", "-sampd", "/a \"b\""},
        {"-sampd \"unclosed", "-sampd", "\"unclosed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const QString line = QString::fromUtf8(c.line);
        EXPECT_EQ(StringTokenizer(line), QString::fromUtf8(c.word));
        EXPECT_EQ(optionValue(line, StringTokenizer(line)), QString::fromUtf8(c.value));
    }
}

// A folder written by optionFileFolder is one word for the converter's reader
// and reads back as the same folder.
TEST(OptionLine, FolderRoundTripsThroughTheOptionFileReader) {
    const char* folders[] = {"/srv/pats", "/my pats", "/tab\there", "/it's", "/say \"hi\"", "/a`b"};
    for (const char* f : folders) {
        SCOPED_TRACE(f);
        const QString folder = QString::fromUtf8(f);
        const QString line = QStringLiteral("-sampd ") + optionFileFolder(folder);
        EXPECT_EQ(optionFileWords(line), (QStringList{QStringLiteral("-sampd"), folder}));
        EXPECT_EQ(optionValue(line, StringTokenizer(line)), folder);
    }
    EXPECT_EQ(optionFileFolder(QStringLiteral("/srv/pats")), QStringLiteral("/srv/pats"));
}

TEST(OptionLine, OptionFileWordsFollowTheReadersQuoting) {
    struct Case {
        const char* text;
        QStringList words;
    };
    const Case cases[] = {
        {"-sampd \"C:\\My Samples\"", {"-sampd", "C:\\My Samples"}},
        {"a\"b c\"d", {"ab cd"}},
        {"x '' y", {"x", "y"}},
        {"'a`  \r\n\t", {"a"}},
        {"\"open to the end", {"open to the end"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(optionFileWords(QString::fromUtf8(c.text)), c.words);
    }
}

// Every word survives the shell as exactly one argument, and plain words are
// left as they are.
TEST(OptionLine, ShellWordsReachTheProgramUnchanged) {
    const QStringList words{"plain/path-1.mid", "with blank", "$HOME", "`id`", "a\\b",
                            "\"quoted\"", "it's", "*.mid", "~", "", "ünï"};
    QString command = QStringLiteral("printf '%s\\n'");
    for (const QString& word : words) command += u' ' + shellWord(word);
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    ASSERT_TRUE(shell.waitForFinished(10000));
    QStringList got = QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n');
    got.removeLast();
    EXPECT_EQ(got, words);
    EXPECT_EQ(shellWord(QStringLiteral("/srv/pats")), QStringLiteral("/srv/pats"));
    EXPECT_EQ(shellQuoted(QStringLiteral("/m/a.mid")), QStringLiteral("\"/m/a.mid\""));
}

TEST(OptionLine, SampleOptionForTheShell) {
    EXPECT_EQ(sampleOptionForShell(QStringLiteral("-sampd /srv/pats")), QStringLiteral("-sampd /srv/pats"));
    EXPECT_EQ(sampleOptionForShell(QStringLiteral("-sampd \"/my pats\"")),
              QStringLiteral("-sampd \"/my pats\""));
    EXPECT_EQ(sampleOptionForShell(QStringLiteral("-sampd /a$b")), QStringLiteral("-sampd \"/a\\$b\""));
    EXPECT_EQ(sampleOptionForShell(QString()), QString());
}

}  // namespace
}  // namespace korvalinfe
