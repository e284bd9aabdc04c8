// The file dialog wrapper with its dialog replaced by a stub that returns
// chosen paths: filter conversion, the multiple-selection result and its
// splitting, cancelling, and the folder picker's stub.
#include "common/Module1.h"
#include "common/Toolkit.h"
#include "dialogs/cFileDialog.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace korvalinfe {
namespace {

const QChar kNul(u'\0');

// Answers every dialog with paths (nullopt: the user cancels) and keeps the request.
class StubDialog {
public:
    explicit StubDialog(std::optional<QStringList> paths) {
        cFileDialog::setDialogHook([this, paths](const cFileDialog::Request& request) {
            requests.push_back(request);
            return paths;
        });
    }
    ~StubDialog() { cFileDialog::setDialogHook(nullptr); }
    std::vector<cFileDialog::Request> requests;
};

// Keeps the current directory across a test.
class KeepCurrentDir {
public:
    ~KeepCurrentDir() { QDir::setCurrent(saved_); }
private:
    QString saved_ = QDir::currentPath();
};

TEST(cFileDialog, FilterTextBecomesDescriptionPatternPairs) {
    struct Case {
        const char* filter;
        std::vector<std::pair<QString, QString>> pairs;
        QStringList nameFilters;
    };
    const Case cases[] = {
        {"Midi Files (*.mid)|*.mid", {{"Midi Files (*.mid)", "*.mid"}}, {"Midi Files (*.mid)"}},
        {"Midi|*.mid;*.rmi|All files|*", {{"Midi", "*.mid;*.rmi"}, {"All files", "*"}},
         {"Midi (*.mid *.rmi)", "All files (*)"}},
        {"Text: *.txt", {{"Text", " *.txt"}}, {"Text (*.txt)"}},
        {"", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(cFileDialog::filterPairs(c.filter), c.pairs);
        EXPECT_EQ(cFileDialog::nameFilters(c.filter), c.nameFilters);
    }
}

TEST(cFileDialog, ParseMultiFileNameSplitsFolderAndNames) {
    struct Case {
        const char* name;
        QString filename;
        QString dir;
        QStringList files;
    };
    const Case cases[] = {
        {"one file", QStringLiteral("/music/a.mid") + kNul + kNul, "/music/", {"a.mid"}},
        {"three files", QStringLiteral("/music") + kNul + "a.mid" + kNul + "b.mid" + kNul + "c.mid" + kNul + kNul,
         "/music", {"a.mid", "b.mid", "c.mid"}},
        {"one file at the root", QStringLiteral("/a.mid") + kNul + kNul, "/", {"a.mid"}},
        {"one name without folder", QStringLiteral("a.mid") + kNul + kNul, "", {"a.mid"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cFileDialog dialog;
        dialog.Filename(c.filename);
        QString dir;
        QStringList files;
        std::int32_t count = 0;
        dialog.ParseMultiFileName(dir, files, count);
        EXPECT_EQ(dir, c.dir);
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(count, c.files.size());
    }
    cFileDialog single;
    single.Filename("/music/a.mid");
    QString dir;
    QStringList files;
    std::int32_t count = 0;
    EXPECT_THROW(single.ParseMultiFileName(dir, files, count), RuntimeError);
}

TEST(cFileDialog, MultipleSelectionRoundTripsThroughParse) {
    KeepCurrentDir keep;
    QTemporaryDir music;
    const QString folder = QDir(music.path()).canonicalPath();
    struct Case {
        const char* name;
        QStringList chosen;
        QString dir;
        QStringList files;
    };
    const Case cases[] = {
        {"one", {folder + "/a.mid"}, folder + "/", {"a.mid"}},
        {"three", {folder + "/a.mid", folder + "/b.mid", folder + "/c d.mid"}, folder,
         {"a.mid", "b.mid", "c d.mid"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StubDialog stub(c.chosen);
        cFileDialog dialog;
        dialog.DialogTitle("Choose Midi Files");
        dialog.flags(0x81200);
        dialog.Filter("Midi Files (*.mid)|*.mid");
        dialog.InitDir("/start");
        dialog.ShowOpen();
        ASSERT_EQ(stub.requests.size(), 1u);
        EXPECT_EQ(stub.requests[0].title, "Choose Midi Files");
        EXPECT_EQ(stub.requests[0].initDir, "/start");
        EXPECT_EQ(stub.requests[0].nameFilters, QStringList{"Midi Files (*.mid)"});
        EXPECT_TRUE(stub.requests[0].flags & cFileDialog::kAllowMultiSelect);
        QString dir;
        QStringList files;
        std::int32_t count = 0;
        dialog.ParseMultiFileName(dir, files, count);
        EXPECT_EQ(dir, c.dir);
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(count, c.files.size());
        // Without kNoChangeDir the chosen files' folder becomes the current directory.
        EXPECT_EQ(QDir::currentPath(), folder);
    }
}

TEST(cFileDialog, SingleSelectionGivesOnePlainPathAndCanKeepTheCurrentDir) {
    KeepCurrentDir keep;
    const QString before = QDir::currentPath();
    StubDialog stub(QStringList{"/tmp/x/song.mid"});
    cFileDialog dialog;
    dialog.flags(cFileDialog::kNoChangeDir);
    dialog.ShowOpen();
    EXPECT_EQ(dialog.Filename(), "/tmp/x/song.mid");
    EXPECT_EQ(QDir::currentPath(), before);
    dialog.ShowSave();
    EXPECT_EQ(dialog.Filename(), "/tmp/x/song.mid");
}

TEST(cFileDialog, CancelKeepsFilenameOrRaisesTheCancelError) {
    struct Case {
        const char* name;
        bool save;
        bool cancelError;
        QString source;  // empty: no error
    };
    const Case cases[] = {
        {"open, silent", false, false, ""},
        {"open, raising", false, true, App::EXEName() + ".cFileDialog"},
        {"save, silent", true, false, ""},
        {"save, raising", true, true, App::EXEName() + ".cFilenDialog"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StubDialog stub(std::nullopt);
        cFileDialog dialog;
        dialog.Filename("/music/previous.mid");
        dialog.CancelError(c.cancelError);
        try {
            c.save ? dialog.ShowSave() : dialog.ShowOpen();
            EXPECT_TRUE(c.source.isEmpty()) << "no error raised";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), 32755);
            EXPECT_EQ(error.Description(), "User selected cancel.");
            EXPECT_EQ(error.Source(), c.source);
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

TEST(BrowseForFolder, StubAnswersInsteadOfTheChooser) {
    QString prompt;
    setBrowseForFolderHook([&](QWidget*, const QString& sPrompt) {
        prompt = sPrompt;
        return QString();
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Please select a folder."), QString());
    EXPECT_EQ(prompt, "Please select a folder.");
    setBrowseForFolderHook(nullptr);
}

}  // namespace
}  // namespace korvalinfe
