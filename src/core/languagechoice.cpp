#include "languagechoice.h"

#include <QFile>

QString textUpToFirstNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

QString languageWordFrom(const QString &commandLineWord, const QString &localeFilePath)
{
    if (!QFile::exists(localeFilePath))
        return commandLineWord;

    // the file wins even when it cannot be read; its text is not trimmed, the reduction
    // looks only for a substring anyway
    QFile localeFile(localeFilePath);
    if (!localeFile.open(QIODevice::ReadOnly))
        return QString();
    const QString word = textUpToFirstNul(localeFile.readAll());
    localeFile.close();
    return word;
}

QString reducedLanguage(const QString &word)
{
    return word.contains(QLatin1String("Chinese"), Qt::CaseSensitive) ? QStringLiteral("Chinese")
                                                                      : QStringLiteral("English");
}
