// What the front end writes must come back unchanged through the converter's
// option-file reader and through the shell.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include "windows/OptionLine.h"

namespace korvalinfe {
namespace {

TEST(OptionLine, FolderIsOneWordForTheOptionFileReader) {
    const char* folders[] = {"/srv/pats", "/my pats", "/tab\there", "/it's", "/say \"hi\"", "/a`b"};
    for (const char* f : folders) {
        SCOPED_TRACE(f);
        const QString folder = QString::fromUtf8(f);
        const QString line = QStringLiteral("-sampd ") + optionFileFolder(folder);
        EXPECT_EQ(optionFileWords(line), (QStringList{QStringLiteral("-sampd"), folder}));
        EXPECT_EQ(optionValue(line, StringTokenizer(line)), folder);
    }
    EXPECT_EQ(defaultOptionLines(QStringLiteral("/srv/app"))[0], QStringLiteral("-sampd /srv/app"));
    EXPECT_EQ(defaultOptionLines(QStringLiteral("/my app"))[1],
              QStringLiteral("-outd \"/my app\""));
}

TEST(OptionLine, ShellWordsReachTheProgramUnchanged) {
    const QStringList words{"plain/path-1.mid",
                            "with blank",
                            "$HOME",
                            "`id`",
                            "a\\b",
                            "\"quoted\"",
                            "it's",
                            "*.mid",
                            "~",
                            "",
                            "ünï"};
    QString command = QStringLiteral("printf '%s\\n'");
    for (const QString& word : words) command += u' ' + shellWord(word);
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(QString::fromUtf8(shell.readAllStandardOutput()), words.join(u'\n') + u'\n');
    // Ordinary words keep the form the command line always had.
    EXPECT_EQ(shellWord(QStringLiteral("/srv/pats")), QStringLiteral("/srv/pats"));
    EXPECT_EQ(shellQuoted(QStringLiteral("/m/a.mid")), QStringLiteral("\"/m/a.mid\""));
}

}  // namespace
}  // namespace korvalinfe
