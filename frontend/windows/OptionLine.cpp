#include "OptionLine.h"

namespace korvalinfe {

namespace {

bool isOptionFileSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Characters a POSIX shell gives no meaning to in an unquoted word.
bool isShellPlain(QChar c) {
    if (c.unicode() >= 0x80) return false;
    if (c.isLetterOrNumber()) return true;
    return QStringView(u"_-./,:=+@%^").contains(c);
}

}  // namespace

QString StringTokenizer(const QString& sLine) {
    const qsizetype blank = sLine.indexOf(u' ');
    return blank < 0 ? sLine : sLine.left(blank);
}

QString trimBlanks(const QString& sText) {
    qsizetype first = 0;
    qsizetype last = sText.size();
    while (first < last && sText[first] == u' ') ++first;
    while (last > first && sText[last - 1] == u' ') --last;
    return sText.mid(first, last - first);
}

QString optionValue(const QString& sLine, const QString& sWord) {
    QString value = trimBlanks(sLine.mid(sWord.size()));
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

QString optionFileFolder(const QString& sFolder) {
    bool needsQuotes = sFolder.isEmpty();
    for (QChar c : sFolder)
        if (isOptionFileSpace(c) || c == u'"' || c == u'\'' || c == u'`') needsQuotes = true;
    if (!needsQuotes) return sFolder;
    // A double quote cannot stand inside a double-quoted stretch, so such a
    // folder is put in single quotes instead.
    if (sFolder.contains(u'"')) return u'\'' + sFolder + u'\'';
    return u'"' + sFolder + u'"';
}

QStringList defaultOptionLines(const QString& sProgramFolder) {
    const QString folder = optionFileFolder(sProgramFolder);
    return {QStringLiteral("-sampd ") + folder, QStringLiteral("-outd ") + folder,
            QStringLiteral("-8bit "), QStringLiteral("-maxch 32")};
}

QStringList optionFileWords(const QString& sText) {
    QStringList words;
    QString word;
    bool haveWord = false;  // a quoted stretch may make a word of its own
    qsizetype i = 0;
    while (i < sText.size()) {
        const QChar c = sText[i++];
        if (isOptionFileSpace(c)) {
            if (haveWord) words.append(word);
            word.clear();
            haveWord = false;
        } else if (c == u'"' || c == u'\'' || c == u'`') {
            // A double quote closes only on a double quote; a single quote or
            // a backquote closes on either of the two.
            while (i < sText.size()) {
                const QChar q = sText[i++];
                const bool closes = c == u'"' ? q == u'"' : (q == u'\'' || q == u'`');
                if (closes) break;
                word.append(q);
                haveWord = true;
            }
        } else {
            word.append(c);
            haveWord = true;
        }
    }
    if (haveWord) words.append(word);
    return words;
}

QString shellQuoted(const QString& sWord) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : sWord) {
        // Inside double quotes the shell still gives $, `, the backslash and
        // the double quote a meaning; a backslash in front makes each literal.
        if (c == u'$' || c == u'`' || c == u'\\' || c == u'"') quoted.append(u'\\');
        quoted.append(c);
    }
    quoted.append(u'"');
    return quoted;
}

QString shellWord(const QString& sWord) {
    if (sWord.isEmpty()) return QStringLiteral("\"\"");
    for (QChar c : sWord)
        if (!isShellPlain(c)) return shellQuoted(sWord);
    return sWord;
}

QString sampleOptionForShell(const QString& sSampleOption) {
    QStringList words;
    for (const QString& word : optionFileWords(sSampleOption)) words.append(shellWord(word));
    return words.join(u' ');
}

}  // namespace korvalinfe
