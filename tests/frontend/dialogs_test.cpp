// The file dialog wrapper with its dialog replaced by a stub that returns
// chosen paths: filter conversion, the multiple-selection result and its
// splitting, and cancelling.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "dialogs/cFileDialog.h"

namespace korvalinfe {
namespace {

const QChar kNul(u'\0');

// Answers every dialog with paths (nullopt: the user cancels) and keeps the request.
struct StubDialog {
    explicit StubDialog(std::optional<QStringList> paths) {
        cFileDialog::setDialogHook([this, paths](const cFileDialog::Request& request) {
            requests.push_back(request);
            return paths;
        });
    }
    ~StubDialog() { cFileDialog::setDialogHook(nullptr); }
    std::vector<cFileDialog::Request> requests;
};

void expectParsed(cFileDialog& dialog, const QString& dir, const QStringList& files) {
    QString parsedDir;
    QStringList parsedFiles;
    std::int32_t count = 0;
    dialog.ParseMultiFileName(parsedDir, parsedFiles, count);
    EXPECT_EQ(parsedDir, dir);
    EXPECT_EQ(parsedFiles, files);
    EXPECT_EQ(count, files.size());
}

TEST(cFileDialog, FilterTextBecomesDescriptionPatternPairs) {
    using Pairs = std::vector<std::pair<QString, QString>>;
    const std::tuple<const char*, Pairs, QStringList> cases[] = {
        {"Midi Files (*.mid)|*.mid", {{"Midi Files (*.mid)", "*.mid"}}, {"Midi Files (*.mid)"}},
        {"Midi|*.mid;*.rmi|All files|*",
         {{"Midi", "*.mid;*.rmi"}, {"All files", "*"}},
         {"Midi (*.mid *.rmi)", "All files (*)"}},
        {"Text: *.txt", {{"Text", " *.txt"}}, {"Text (*.txt)"}},
        {"", {}, {}},
    };
    for (const auto& [filter, pairs, nameFilters] : cases) {
        SCOPED_TRACE(filter);
        EXPECT_EQ(cFileDialog::filterPairs(filter), pairs);
        EXPECT_EQ(cFileDialog::nameFilters(filter), nameFilters);
    }
}

TEST(cFileDialog, ParseMultiFileNameSplitsFolderAndNames) {
    const std::tuple<QString, QString, QStringList> cases[] = {
        {QStringLiteral("/music/a.mid") + kNul + kNul, "/music/", {"a.mid"}},
        {QStringLiteral("/music") + kNul + "a.mid" + kNul + "b.mid" + kNul + "c.mid" + kNul + kNul,
         "/music",
         {"a.mid", "b.mid", "c.mid"}},
        {QStringLiteral("/a.mid") + kNul + kNul, "/", {"a.mid"}},
        {QStringLiteral("a.mid") + kNul + kNul, "", {"a.mid"}},
    };
    for (const auto& [filename, dir, files] : cases) {
        SCOPED_TRACE(dir.toStdString() + " " + files.join(' ').toStdString());
        cFileDialog dialog;
        dialog.Filename(filename);
        expectParsed(dialog, dir, files);
    }
    cFileDialog single;  // not a multiple-selection result
    single.Filename("/music/a.mid");
    EXPECT_THROW(expectParsed(single, "", {}), RuntimeError);
}

TEST(cFileDialog, MultipleSelectionRoundTripsThroughParse) {
    const QString saved = QDir::currentPath();
    QTemporaryDir music;
    const QString folder = QDir(music.path()).canonicalPath();
    StubDialog stub(QStringList{folder + "/a.mid", folder + "/b.mid", folder + "/c d.mid"});
    cFileDialog dialog;
    dialog.flags(0x81200);
    dialog.Filter("Midi Files (*.mid)|*.mid");
    dialog.ShowOpen();
    ASSERT_EQ(stub.requests.size(), 1u);
    EXPECT_EQ(stub.requests[0].nameFilters, QStringList{"Midi Files (*.mid)"});
    EXPECT_TRUE(stub.requests[0].flags & cFileDialog::kAllowMultiSelect);
    expectParsed(dialog, folder, {"a.mid", "b.mid", "c d.mid"});
    // Without kNoChangeDir the chosen files' folder becomes the current directory.
    EXPECT_EQ(QDir::currentPath(), folder);
    QDir::setCurrent(saved);
}

TEST(cFileDialog, CancelKeepsFilenameOrRaisesTheCancelError) {
    const std::tuple<bool, bool, QString> cases[] = {
        {false, false, ""},
        {false, true, App::EXEName() + ".cFileDialog"},
        {true, true, App::EXEName() + ".cFilenDialog"},
    };
    for (const auto& [save, cancelError, source] : cases) {
        SCOPED_TRACE(::testing::Message() << "save " << save << ", raising " << cancelError);
        StubDialog stub(std::nullopt);
        cFileDialog dialog;
        dialog.Filename("/music/previous.mid");
        dialog.CancelError(cancelError);
        try {
            save ? dialog.ShowSave() : dialog.ShowOpen();
            EXPECT_TRUE(source.isEmpty()) << "no error raised";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), 32755);
            EXPECT_EQ(error.Description(), "User selected cancel.");
            EXPECT_EQ(error.Source(), source);
        }
        EXPECT_EQ(dialog.Filename(), "/music/previous.mid");
    }
}

TEST(cFileDialog, InitialNameLongerThanTheBufferIsRaised) {
    StubDialog stub(QStringList{"/x.mid"});
    cFileDialog dialog;
    dialog.Filename(QString(1025, u'a'));
    EXPECT_THROW(dialog.ShowOpen(), RuntimeError);
    EXPECT_TRUE(stub.requests.empty());
    dialog.flags(cFileDialog::kAllowMultiSelect);
    EXPECT_NO_THROW(dialog.ShowOpen());
}

}  // namespace
}  // namespace korvalinfe
