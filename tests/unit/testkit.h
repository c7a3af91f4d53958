#pragma once
#include <QtTest>
#include <QtWidgets>

#include <linux/magic.h>
#include <sys/vfs.h>

// A stand-in script: logs "argc args" to /tmp/calls.NAME, then runs `rest`. Written only
// inside the sandbox's private root, never on the machine that runs the tests.
inline bool writeScript(const QString &path, const QByteArray &rest = {}, bool executable = true)
{
    struct statfs root;
    QFile file(path);
    return qgetenv("TOVRIMAX_SANDBOX") == "1" && !statfs("/", &root) &&
           root.f_type == TMPFS_MAGIC && QDir().mkpath(QFileInfo(path).path()) &&
           file.open(QIODevice::WriteOnly) &&
           file.write("#!/bin/sh\necho \"$# $*\" >> \"/tmp/calls.${0##*/}\"\n" + rest) > 0 &&
           file.setPermissions(QFile::Permissions(executable ? 0x7000 : 0x6000)); // rwx or rw-
}
inline QByteArray calls(const QString &script)
{
    QFile file("/tmp/calls." + script);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text with each time stamp (yyyy-MM-ddThh:mm:ss) written as <time>.
inline QString withoutTimes(QString text)
{
    return text.replace(QRegularExpression("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d"), "<time>");
}

// Whether `action`, run in the event loop, asks the loop to end within a tenth of a second.
inline bool asksToQuit(const std::function<void()> &action)
{
    QObject scope; // takes its pending calls with it
    QTimer::singleShot(0, &scope, [&] {
        action();
        QTimer::singleShot(100, &scope, [] { QCoreApplication::exit(1); });
    });
    return QCoreApplication::exec() == 0;
}
