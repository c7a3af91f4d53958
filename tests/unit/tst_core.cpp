#include "logoutput.h"
#include "outputdrain.h"
#include "testkit.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

// The message handler, through which every diagnostic of the tool goes; the start of a drain.
class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void messages() // info goes nowhere; critical and fatal to stderr, and fatal ends it all
    {
        const pid_t child = fork();
        if (!child) {                  // it ends by SIGABRT: a process of its own
            prctl(PR_SET_DUMPABLE, 0); // no core file for the expected abort
            dup2(open("/tmp/calls.stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            const QMessageLogContext context("f.cpp", 7, "f()", "c");
            for (QtMsgType type : {QtInfoMsg, QtCriticalMsg, QtFatalMsg, QtCriticalMsg})
                myMessageOutput(type, context, "5% %s");
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WIFSIGNALED(status) ? WTERMSIG(status) : 0, SIGABRT);
        QCOMPARE(calls("stderr"),
                 QByteArray("Critical: 5% %s (f.cpp:7, f())\nFatal: 5% %s (f.cpp:7, f())\n"));
    }

    void drainGivesUpWithAFullDescriptorTable() // rather than run with the script's write ends
    {
        int out[2], lifeline[2], report[2];
        const bool made = !pipe(out) && !pipe(lifeline) && !pipe2(report, O_CLOEXEC);
        QVERIFY2(made, "pipes");
        const pid_t script = fork();
        if (!script) { // its output and error are a pipe whose read end the tool holds
            dup2(out[1], 1);
            dup2(out[1], 2);
            const int null = open("/dev/null", O_RDONLY);
            for (int fd = 0; fd < 10; ++fd) // every descriptor in use but the four the drain's
                if (fcntl(fd, F_GETFD) < 0) // copies take, from 10 on
                    dup2(null, fd);
            int fd = 10;
            for (int room = 0; room < 4; ++fd)
                room += fcntl(fd, F_GETFD) < 0;
            const rlimit limit = {rlim_t(fd), rlim_t(fd)};
            setrlimit(RLIMIT_NOFILE, &limit);
            startOutputDrain("/usr/bin/true", lifeline[0], report[1]);
            _exit(0);
        }
        ::close(report[1]);
        int error = 0;
        const ssize_t got = read(report[0], &error, sizeof error);
        waitpid(script, nullptr, 0);
        QCOMPARE(got, ssize_t(sizeof error));
        QCOMPARE(error, EMFILE); // no /dev/null to put on its 0, 1 and 2
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
