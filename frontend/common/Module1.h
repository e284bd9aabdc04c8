// Shared procedures of the front end: the folder picker, the program folder and
// the converter's folder, existence tests for folders and files, and the writer
// that puts an embedded resource into a file.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace korvalinfe {

// Embedded resources of type "CUSTOM".
inline constexpr std::uint16_t kResConverter = 101;  // the korvalin program
inline constexpr std::uint16_t kResPatchMap = 102;   // the default patch map

// Shows a folder chooser titled by sPrompt; the chosen folder's path, or an
// empty text when the user cancelled.
QString BrowseForFolder(QWidget* hwndOwner, const QString& sPrompt);
// Replaces the chooser by hook (tests; nullptr restores the real chooser).
using BrowseForFolderHook = std::function<QString(QWidget* hwndOwner, const QString& sPrompt)>;
void setBrowseForFolderHook(BrowseForFolderHook hook);

// The folder that holds the option file and the default sample folder, with
// exactly one trailing '/': the executable's folder when it is writable (a
// portable install), otherwise a per-user data folder (created when missing).
QString AppPath();
// The per-user folder that holds the extracted korvalin program and that the
// command runner puts first on the child's PATH; exactly one trailing '/';
// created when missing.
QString WindowsPath();

// Tests point the two folders elsewhere (an empty text restores the real ones).
void overrideAppPath(const QString& folder);
void overrideWindowsPath(const QString& folder);

// The choice behind AppPath, apart from the file system: programFolder when it
// is writable, otherwise dataFolder; either with exactly one trailing '/'.
QString chooseAppPath(const QString& programFolder, bool programFolderWritable,
                      const QString& dataFolder);
// The per-user data folder: $XDG_DATA_HOME/KorvalinFE, or
// $HOME/.local/share/KorvalinFE when XDG_DATA_HOME is unset or not absolute.
QString userDataFolder();

// True when a folder, or a file, of that name exists.
bool DirExists(const QString& sPath);
// True when the file can be opened for reading; a folder counts as absent.
bool FileExists(const QString& sPath);
// Writes resource iResource to sPath unless a file of that name already exists
// (an existing file is never replaced). The converter program is written with
// its execute bits set. Failures are raised as RuntimeError.
void ExtractResource(std::uint16_t iResource, const QString& sPath);

// Makes sPath hold resource iResource exactly: written when absent, replaced
// through a temporary file and a rename when its bytes differ (a file the
// user may not write is left as it is and reported), left alone when equal.
// The converter program keeps its execute bits. Failures are raised as
// RuntimeError.
void RefreshResource(std::uint16_t iResource, const QString& sPath);

// Appends '/' unless the text already ends in one.
QString withTrailingSlash(const QString& folder);

}  // namespace korvalinfe
