#include "logoutput.h"
#include "sandboxguard.h"

#include <QDebug>
#include <QStringList>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using Emit = std::function<void()>;
Q_DECLARE_METATYPE(Emit)

namespace {

// The sandbox's own /dev/log, bound by the test: openlog() with LOG_NDELAY connects to it,
// and every syslog() call arrives here as one datagram before the call returns.
class LogSocket
{
public:
    LogSocket()
    {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "/dev/log");
        unlink(address.sun_path);
        bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~LogSocket()
    {
        if (fd >= 0)
            close(fd);
        unlink("/dev/log");
    }
    bool isValid() const { return bound; }

    // everything received so far, one entry per datagram, the "<PRI>Mmm dd hh:mm:ss " header
    // kept
    QList<QByteArray> take()
    {
        QList<QByteArray> datagrams;
        char buffer[8192];
        ssize_t size;
        while ((size = recv(fd, buffer, sizeof buffer, 0)) >= 0)
            datagrams.append(QByteArray(buffer, int(size)));
        return datagrams;
    }

private:
    int fd = -1;
    bool bound = false;
};

// Sends fd 2 to a pipe while it lives (the handler writes stderr with fprintf).
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        if (pipe(pipeFds) != 0)
            return;
        saved = dup(STDERR_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[1]);
    }
    ~StderrCapture()
    {
        restore();
        close(pipeFds[0]);
    }
    QByteArray text()
    {
        restore();
        QByteArray all;
        char buffer[4096];
        ssize_t size;
        while ((size = read(pipeFds[0], buffer, sizeof buffer)) > 0)
            all.append(buffer, int(size));
        return all;
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        saved = -1;
    }
    int pipeFds[2] = {-1, -1};
    int saved = -1;
};

// The message after the syslog header, or an empty array when it has no header.
QByteArray withoutHeader(const QByteArray &datagram)
{
    static const QRegularExpression header(
        QStringLiteral("^<15>[A-Z][a-z]{2} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d "));
    const QRegularExpressionMatch match = header.match(QString::fromLatin1(datagram));
    return match.hasMatch() ? datagram.mid(match.capturedLength()) : QByteArray();
}

struct ChildResult
{
    int status = 0;
    QByteArray err;
};

// Runs `work` in a forked child with stderr on a pipe; the child exits 0 if work returns.
ChildResult inChild(const std::function<void()> &work)
{
    int fds[2];
    ChildResult result;
    if (pipe(fds) != 0)
        return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_DUMPABLE, 0); // the abort is expected: no core file
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        work();
        std::fflush(stderr);
        _exit(0);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t size;
    while ((size = read(fds[0], buffer, sizeof buffer)) > 0 || (size < 0 && errno == EINTR))
        if (size > 0)
            result.err.append(buffer, int(size));
    close(fds[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

} // namespace

class TestLogOutput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void debugLineComposition_data();
    void debugLineComposition();
    void routing_data();
    void routing();
    void fatalPrintsThenAborts();
    void closeKeepsTheHandler();

private:
    LogSocket *log = nullptr;
};

void TestLogOutput::initTestCase()
{
    QVERIFY2(insideSandbox(), "binds /dev/log: run me through tests/sandbox/sandbox-run");
    log = new LogSocket;
    QVERIFY(log->isValid());
    Debug_OpenLog();
}

void TestLogOutput::cleanupTestCase()
{
    Debug_CloseLog();
    qInstallMessageHandler(nullptr);
    delete log;
}

void TestLogOutput::debugLineComposition_data()
{
    QTest::addColumn<Emit>("emitLine");
    QTest::addColumn<QByteArray>("expected");

    const QString path = QStringLiteral("/media/sda1");
    QTest::newRow("string quoted, two blanks before on=")
        << Emit([=] { qDebug() << "HouseKeeper::onUSBStick filePath=" << path << " on=" << true; })
        << QByteArray("HouseKeeper::onUSBStick filePath= \"/media/sda1\"  on= true");
    QTest::newRow("false") << Emit([=] {
        qDebug() << "HouseKeeper::onUSBStick filePath=" << path << " on=" << false;
    }) << QByteArray("HouseKeeper::onUSBStick filePath= \"/media/sda1\"  on= false");
    QTest::newRow("list of strings") << Emit([] {
        qDebug() << "HouseKeeper: new paths="
                 << QStringList{QStringLiteral("sda1"), QStringLiteral("SDB1")};
    }) << QByteArray("HouseKeeper: new paths= (\"sda1\", \"SDB1\")");
    QTest::newRow("empty list") << Emit([] {
        qDebug() << "HouseKeeper: old paths=" << QStringList();
    }) << QByteArray("HouseKeeper: old paths= ()");
    QTest::newRow("trailing blank in literal")
        << Emit([] { qDebug() << "HouseKeeper:: Qel usb inserted: " << QStringLiteral("sdb1"); })
        << QByteArray("HouseKeeper:: Qel usb inserted:  \"sdb1\"");
    QTest::newRow("numbers in decimal")
        << Emit([] { qDebug() << "font id=" << -1 << "count" << 42; })
        << QByteArray("font id= -1 count 42");
    QTest::newRow("empty string") << Emit([] { qDebug() << "name=" << QString(); })
                                  << QByteArray("name= \"\"");
    QTest::newRow("percent signs unchanged")
        << Emit([] { qDebug() << "100%" << QStringLiteral("%s%n%d%%") << "%x"; })
        << QByteArray("100% \"%s%n%d%%\" %x");
    QTest::newRow("literal alone, no trailing blank")
        << Emit([] { qDebug() << "Fatal Error, dirs no changes"; })
        << QByteArray("Fatal Error, dirs no changes");
}

void TestLogOutput::debugLineComposition()
{
    QFETCH(Emit, emitLine);
    QFETCH(QByteArray, expected);
    log->take();
    emitLine();
    const QList<QByteArray> datagrams = log->take();
    QCOMPARE(datagrams.size(), 1);
    QCOMPARE(withoutHeader(datagrams.first()), "USBStick: [USBStick] " + expected + '\n');
}

void TestLogOutput::routing_data()
{
    QTest::addColumn<Emit>("emitLine");
    QTest::addColumn<QByteArray>("stderrText");
    QTest::addColumn<int>("syslogLines");

    // the handler called as Qt would, for a message from main.cpp:42
    auto direct = [](QtMsgType type, const QString &text) {
        return Emit([=] {
            myMessageOutput(type, QMessageLogContext("main.cpp", 42, "int main()", "default"),
                            text);
        });
    };
    QTest::newRow("debug: syslog only")
        << Emit([] { qDebug() << "to syslog"; }) << QByteArray() << 1;
    const Emit info = direct(QtInfoMsg, QStringLiteral("dropped"));
    QTest::newRow("info: nowhere") << Emit([=] {
        qInfo() << "dropped";
        info();
    }) << QByteArray() << 0;
    QTest::newRow("warning") << direct(QtWarningMsg, QStringLiteral("list is empty"))
                             << QByteArray("Warning: list is empty (main.cpp:42, int main())\n")
                             << 0;
    QTest::newRow("critical") << direct(QtCriticalMsg, QStringLiteral("bad"))
                              << QByteArray("Critical: bad (main.cpp:42, int main())\n") << 0;
    QTest::newRow("percent in warning")
        << direct(QtWarningMsg, QStringLiteral("50%s %n"))
        << QByteArray("Warning: 50%s %n (main.cpp:42, int main())\n") << 0;
    QTest::newRow("release build: no file or function")
        << Emit([] { myMessageOutput(QtWarningMsg, QMessageLogContext(), QStringLiteral("x")); })
        << QByteArray("Warning: x (unknown:0, unknown)\n") << 0;
}

void TestLogOutput::routing()
{
    QFETCH(Emit, emitLine);
    log->take();
    StderrCapture err;
    emitLine();
    QTEST(err.text(), "stderrText");
    QTEST(int(log->take().size()), "syslogLines");
}

void TestLogOutput::fatalPrintsThenAborts()
{
    const ChildResult child = inChild([] {
        myMessageOutput(QtFatalMsg, QMessageLogContext("x.cpp", 7, "void f()", "default"),
                        QStringLiteral("cannot go on"));
    });
    QVERIFY2(WIFSIGNALED(child.status), "the handler returned from a fatal message");
    QCOMPARE(WTERMSIG(child.status), SIGABRT);
    QCOMPARE(child.err, QByteArray("Fatal: cannot go on (x.cpp:7, void f())\n"));
}

void TestLogOutput::closeKeepsTheHandler()
{
    const ChildResult child = inChild([] {
        Debug_CloseLog();
        qWarning("after close");
    });
    QVERIFY(WIFEXITED(child.status));
    QVERIFY2(child.err.startsWith("Warning: after close ("), child.err.constData());
}

QTEST_APPLESS_MAIN(TestLogOutput)
#include "tst_logoutput.moc"
