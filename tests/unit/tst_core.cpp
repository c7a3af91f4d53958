#include "languagechoice.h"
#include "logoutput.h"
#include "medialisting.h"
#include "screenchoice.h"
#include "testkit.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

// The rules everything uses. Each data tag is a case: the rule, then its input.
class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void rules_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::newRow("screens 801 480") << "0 801 480"; // sizes side by side; 0 0: no widget
        QTest::newRow("screens 1024 768 1280 800") << "1 1280 800";
        QTest::newRow("screens 1024 768 1024 600") << "0 1024 768";
        QTest::newRow("screens 0 0 800 480") << "-1 800 600";
        QTest::newRow("media a b > b") << "b -a"; // old > new: the new listing, then the change
        QTest::newRow("media a > b") << "b =";
        QTest::newRow("media > Beta alpha") << "alpha,Beta +alpha";
        QTest::newRow("language chinese") << "English";
        QTest::newRow("debug") << ""; // stderr, from a child process: a fatal message ends it
        QTest::newRow("info") << "";
        QTest::newRow("warning without context") << "Warning: 5% %s (unknown:0, unknown)\n";
        QTest::newRow("critical") << "Critical: 5% %s (f.cpp:7, f())\n";
        QTest::newRow("fatal") << "Fatal: 5% %s (f.cpp:7, f())\naborted";
    }
    void rules()
    {
        const QString tag = QTest::currentDataTag(), rule = tag.section(' ', 0, 0);
        const QStringList words = tag.split(' ').mid(1);
        QString got;
        if (rule == "screens") {
            QVector<QRect> rects;
            for (int i = 1; i < words.size(); i += 2)
                rects << QRect(i * 1000, 0, words[i - 1].toInt(), words[i].toInt());
            const ScreenChoice choice = chooseScreen(rects);
            got = QString("%1 %2 %3").arg(choice.index).arg(choice.width).arg(choice.height);
        } else if (rule == "media") { // the new ones are made, beside a hidden one and a file
            QTemporaryDir dir;
            for (const QString &name : words.mid(words.indexOf(">") + 1) + QStringList{".hidden"})
                QVERIFY(QDir(dir.path()).mkdir(name) && writeScript(dir.filePath("file")));
            const QStringList now = listMediaDirs(dir.path());
            const MediaChange change = compareMediaListings(words.mid(0, words.indexOf(">")), now);
            got = now.join(',') + ' ' + "=+-"[change.kind] + change.name;
        } else if (rule == "language") {
            got = reducedLanguage(words.value(0));
        } else if (const pid_t child = fork()) {
            int status = 0;
            QCOMPARE(waitpid(child, &status, 0), child);
            got = calls("stderr") +
                  (WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT ? "aborted" : "");
        } else {
            prctl(PR_SET_DUMPABLE, 0); // no core file for the expected abort
            dup2(open("/tmp/calls.stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            const QStringList types{"debug", "warning", "critical", "fatal", "info"};
            QMessageLogContext full("f.cpp", 7, "f()", "c"), none;
            Debug_OpenLog(); // the handler for the debug message
            qDebug("%s", "5% %s");
            myMessageOutput(QtMsgType(types.indexOf(rule)), words.isEmpty() ? full : none, "5% %s");
            _exit(0);
        }
        QTEST(got, "expected");
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
