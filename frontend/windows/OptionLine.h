// Lines of the converter's option file korvalin.cfg as the front end writes and
// reads them, and the quoting of texts for the command interpreter.
#pragma once

#include <QString>
#include <QStringList>

namespace korvalinfe {

// The option word of a settings line: the characters before the first blank,
// or the whole line when it holds none. Only the blank separates, not a tab.
QString StringTokenizer(const QString& sLine);

// The value of a settings line whose option word is sWord: the rest of the
// line with outer blanks removed and, when it is enclosed in a matching pair of
// double or single quotes, without them.
QString optionValue(const QString& sLine, const QString& sWord);

// A folder as it goes into the option file. The converter splits option-file
// lines at whitespace, so a folder holding whitespace or a quote character is
// enclosed in quotes its reader honours; any other folder is written as is.
QString optionFileFolder(const QString& sFolder);

// The four lines a new option file starts with.
QStringList defaultOptionLines(const QString& sProgramFolder);

// Splits option-file text into words the way the converter reads the file:
// whitespace separates, quoted stretches belong to their word without quotes.
QStringList optionFileWords(const QString& sText);

// A word for the command interpreter, always enclosed in double quotes, with
// the characters that stay special inside them escaped.
QString shellQuoted(const QString& sWord);

// A word for the command interpreter: unchanged when it is made only of
// characters the shell leaves alone, otherwise as shellQuoted gives it.
QString shellWord(const QString& sWord);

// The sample-folder option line of the option file as it goes on the command
// line: each of its option-file words as one shell word, joined by blanks. An
// ordinary line such as "-sampd /home/me/samples" comes out unchanged.
QString sampleOptionForShell(const QString& sSampleOption);

// The text with the blanks (not other whitespace) around it removed.
QString trimBlanks(const QString& sText);

}  // namespace korvalinfe
