// Shared set-up of the front-end tests: file helpers, and for the windows a
// program folder and a converter folder of their own, recorded message boxes
// and program ends, and a file dialog that "chooses" the files a test names.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "dialogs/cFileDialog.h"

namespace korvalinfe::testing {

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

inline QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Option-file lines, each ended by CR LF.
inline QByteArray crlfLines(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
    return bytes;
}

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        overrideAppPath(appDir);
        overrideWindowsPath(converterDir);
        setEndProgramHook([this] { ++programEnds; });
        cFileDialog::setDialogHook([this](const cFileDialog::Request& request) {
            startedIn << request.initDir;
            return chosen;
        });
    }
    void TearDown() override {
        cFileDialog::setDialogHook(nullptr);
        setEndProgramHook(nullptr);
        overrideAppPath(QString());
        overrideWindowsPath(QString());
    }

    // A folder below the test root, created, with a trailing '/'.
    QString makeFolder(const QString& name) const {
        const QString folder = root.path() + u'/' + name + u'/';
        QDir().mkpath(folder);
        return folder;
    }
    QString appFolder() const { return appDir.chopped(1); }
    QString optionFile() const { return appDir + QStringLiteral("korvalin.cfg"); }
    QByteArray defaultOptionFile() const {
        return crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(), "-8bit ", "-maxch 32"});
    }

    QTemporaryDir root;
    QString appDir = makeFolder(QStringLiteral("app"));
    QString converterDir = makeFolder(QStringLiteral("bin"));
    MessageRecorder messages;
    int programEnds = 0;
    std::optional<QStringList> chosen;  // full paths, or nullopt for a cancel
    QStringList startedIn;              // the folder each dialog started in
};

}  // namespace korvalinfe::testing
