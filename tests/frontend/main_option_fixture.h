// Shared set-up of the main and options window tests: a program folder and a
// converter folder of their own, recorded message boxes and program ends, and
// a file dialog that "chooses" the files a test names.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "dialogs/cFileDialog.h"

namespace korvalinfe::testing {

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// The names of a folder's entries, sorted.
inline QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot,
                                  QDir::Name);
}

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        appDir = root.path() + QStringLiteral("/app/");
        converterDir = root.path() + QStringLiteral("/bin/");
        QDir().mkpath(appDir);
        QDir().mkpath(converterDir);
        overrideAppPath(appDir);
        overrideWindowsPath(converterDir);
        setEndProgramHook([this] { ++programEnds; });
        cFileDialog::setDialogHook([this](const cFileDialog::Request& request) {
            requests.push_back(request);
            return chosen;
        });
        savedCurrent = QDir::currentPath();
    }

    void TearDown() override {
        QDir::setCurrent(savedCurrent);
        cFileDialog::setDialogHook(nullptr);
        setEndProgramHook(nullptr);
        overrideAppPath(QString());
        overrideWindowsPath(QString());
    }

    // The program folder without its trailing '/'.
    QString appFolder() const { return appDir.left(appDir.size() - 1); }
    QString optionFile() const { return appDir + QStringLiteral("korvalin.cfg"); }

    // A folder below the test root, created, with a trailing '/'.
    QString makeFolder(const QString& name) const {
        const QString folder = root.path() + u'/' + name + u'/';
        QDir().mkpath(folder);
        return folder;
    }

    // The lines written to an option file, each ended by CR LF.
    static QByteArray crlfLines(const QStringList& lines) {
        QByteArray bytes;
        for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
        return bytes;
    }

    QTemporaryDir root;
    QString appDir;
    QString converterDir;
    QString savedCurrent;
    MessageRecorder messages;
    int programEnds = 0;
    // What the next file dialog returns: full paths, or nullopt for a cancel.
    std::optional<QStringList> chosen;
    std::vector<cFileDialog::Request> requests;
};

}  // namespace korvalinfe::testing
