#ifndef STDOUTCAPTURE_H
#define STDOUTCAPTURE_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// Sends the process's standard output (fd 1, whichever thread writes it) to a file while it
// lives, so a test can read the lines the code prints with the C library. QtTest writes to
// stdout too: when the test failed, the captured text is echoed to stderr so nothing is lost.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        fflush(stdout);
        path = dir.filePath(QStringLiteral("stdout"));
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
        saved = ::dup(STDOUT_FILENO);
        if (fd >= 0 && saved >= 0)
            ::dup2(fd, STDOUT_FILENO);
        if (fd >= 0)
            ::close(fd);
    }

    ~StdoutCapture()
    {
        fflush(stdout);
        if (saved >= 0) {
            ::dup2(saved, STDOUT_FILENO);
            ::close(saved);
        }
        if (QTest::currentTestFailed()) {
            const QByteArray captured = text().toLocal8Bit();
            fprintf(stderr, "--- captured stdout ---\n%s--- end of captured stdout ---\n",
                    captured.constData());
        }
    }

    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    bool isValid() const { return dir.isValid() && saved >= 0; }

    // what reached the file so far; text still in stdio's buffer shows after the next flush
    QString text() const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromLocal8Bit(file.readAll());
    }

private:
    QTemporaryDir dir;
    QString path;
    int saved = -1;
};

#endif // STDOUTCAPTURE_H
