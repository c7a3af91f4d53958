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

// Whether `action`, run in the event loop, asks the loop to end within graceMs.
inline bool asksToQuit(const std::function<void()> &action, int graceMs = 100)
{
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, &guard, [&] {
        action();
        guard.start(graceMs);
    });
    return QCoreApplication::exec() == 0;
}
