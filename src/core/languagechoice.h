#ifndef LANGUAGECHOICE_H
#define LANGUAGECHOICE_H

#include <QByteArray>
#include <QString>

// Text of a file's bytes: UTF-8, cut at the first NUL if there is one.
QString textUpToFirstNul(const QByteArray &bytes);

// The language word in force: the whole content of the locale file when that file exists (an
// empty or unreadable one gives an empty word, not the fallback), otherwise commandLineWord.
QString languageWordFrom(const QString &commandLineWord, const QString &localeFilePath);

// "Chinese" when the word contains "Chinese" (case-sensitive), "English" for anything else.
QString reducedLanguage(const QString &word);

#endif // LANGUAGECHOICE_H
