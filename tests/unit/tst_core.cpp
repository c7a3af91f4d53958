#include "logoutput.h"
#include "testkit.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

// The message handler: every diagnostic of the tool goes through it.
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
};

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
