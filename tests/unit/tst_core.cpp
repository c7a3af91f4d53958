#include "languagechoice.h"
#include "logoutput.h"
#include "medialisting.h"
#include "screenchoice.h"
#include "testkit.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using Sizes = QVector<QSize>;

// The rules everything else uses, one table each.
class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void screenChoice_data()
    {
        QTest::addColumn<Sizes>("screens"); // side by side; an empty size: no widget for it
        QTest::addColumn<int>("index");     // -1: none, the tool's screens get no parent
        QTest::addColumn<QSize>("size");
        const auto row = [](const char *name, Sizes screens, int index, QSize size) {
            QTest::newRow(name) << screens << index << size;
        };
        row("800x600: none", {{800, 600}}, -1, {800, 600});
        row("800x480: none, 600 high all the same", {{800, 480}}, -1, {800, 600});
        row("801 wide: chosen", {{801, 480}}, 0, {801, 480});
        row("1024, 1280: the wider", {{1024, 768}, {1280, 800}}, 1, {1280, 800});
        row("equally wide: the first", {{1024, 600}, {1024, 768}}, 0, {1024, 600});
        row("taller but narrower: not chosen", {{1024, 600}, {900, 1600}}, 0, {1024, 600});
        row("no widget: passed over", {{}, {1024, 768}}, 1, {1024, 768});
    }
    void screenChoice()
    {
        QFETCH(Sizes, screens);
        QVector<QRect> geometries;
        for (const QSize &size : screens)
            geometries << (size.isEmpty() ? QRect() : QRect({2000 * geometries.size(), 0}, size));
        const ScreenChoice choice = chooseScreen(geometries);
        QTEST(choice.index, "index");
        QTEST(QSize(choice.width, choice.height), "size");
    }

    void centring() // a 640x480 window; the halves are rounded toward zero
    {
        QCOMPARE(centredOrigin(601, 479), QPoint(-19, 0));
        QCOMPARE(centredOrigin(600, 400), QPoint(-20, -40));
    }

    void mediaChange_data() // the sub-directories of /media/qz as last seen, and now
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QString>("change");
        QTest::newRow("a, then a b c: b, the first new one")
            << QStringList{"a"} << QStringList{"a", "b", "c"} << "inserted b";
        QTest::newRow("a b c, then b: a, the first gone one")
            << QStringList{"a", "b", "c"} << QStringList{"b"} << "removed a";
    }
    void mediaChange()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        const MediaChange change = compareMediaListings(before, now);
        const char *const kinds[] = {"no change", "inserted", "removed"};
        QTEST(QString(kinds[change.kind] + QLatin1Char(' ') + change.name), "change");
    }

    void language_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("language");
        QTest::newRow("case counts") << "chinese"
                                     << "English";
        QTest::newRow("inside a longer word") << "SimplifiedChinese"
                                              << "Chinese";
        QTest::newRow("a locale code") << "zh_CN.UTF-8"
                                       << "English";
    }
    void language()
    {
        QFETCH(QString, word);
        QTEST(reducedLanguage(word), "language");
    }

    void localeFile() // when it exists it replaces the word of -l, even with nothing to give
    {
        QTemporaryDir dir;
        QFile empty(dir.filePath("empty"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        QCOMPARE(languageWordFrom("Chinese", empty.fileName()), QString());
        QCOMPARE(languageWordFrom("Chinese", dir.path()), QString()); // cannot be read
        QCOMPARE(languageWordFrom("Chinese", dir.filePath("none")), QString("Chinese"));
    }

    void messages_data() // what the handler makes of each kind of message
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("context"); // release builds of Qt give none
        QTest::addColumn<QByteArray>("stderr");
        QTest::addColumn<bool>("aborts");
        const auto row = [](const char *name, QtMsgType type, bool context, const char *stderr,
                            bool aborts = false) {
            QTest::newRow(name) << int(type) << context << QByteArray(stderr) << aborts;
        };
        row("debug: to the system log", QtDebugMsg, true, "");
        row("info: nowhere", QtInfoMsg, true, "");
        row("warning", QtWarningMsg, true, "Warning: 5% %s (f.cpp:7, f())\n");
        row("warning, no context", QtWarningMsg, false, "Warning: 5% %s (unknown:0, unknown)\n");
        row("critical", QtCriticalMsg, true, "Critical: 5% %s (f.cpp:7, f())\n");
        row("fatal, then SIGABRT", QtFatalMsg, true, "Fatal: 5% %s (f.cpp:7, f())\n", true);
    }
    void messages()
    {
        QFETCH(int, type);
        QFETCH(bool, context);
        const pid_t child = fork();
        if (!child) {                  // a fatal message ends the process: one of its own
            prctl(PR_SET_DUMPABLE, 0); // no core file for the expected abort
            dup2(open("/tmp/stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            Debug_OpenLog();
            QMessageLogContext full("f.cpp", 7, "f()", "c"), none;
            myMessageOutput(QtMsgType(type), context ? full : none, "5% %s");
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QFile stderrFile("/tmp/stderr");
        QVERIFY(stderrFile.open(QIODevice::ReadOnly));
        QTEST(stderrFile.readAll(), "stderr");
        const bool aborted = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
        QTEST(aborted, "aborts");
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
