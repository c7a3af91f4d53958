#ifndef SCRIPTFILES_H
#define SCRIPTFILES_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>

// Writes a /bin/sh script, executable unless asked otherwise.
inline void writeScript(const QString &path, const QByteArray &body, bool executable = true)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body);
    file.close();
    QVERIFY(file.setPermissions(executable
                                    ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther
                                    : QFile::ReadOwner | QFile::WriteOwner));
}

// A script's record file; empty when it has not run.
inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Body of a script that appends its arguments as one "[a][b]" line to `calls`.
inline QByteArray recordArguments(const QString &calls)
{
    return "printf '[%s]' \"$@\" >> " + calls.toUtf8() + "; echo >> " + calls.toUtf8() + "\n";
}

#endif // SCRIPTFILES_H
