#include "languagechoice.h"
#include "logoutput.h"
#include "medialisting.h"
#include "screenchoice.h"
#include "testkit.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using Rects = QVector<QRect>;

// The rules everything else uses, one table each.
class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void screenChoice_data()
    {
        QTest::addColumn<Rects>("screens"); // a null rect: a screen without a widget
        QTest::addColumn<int>("index");     // -1: no screen, the tool's screens get no parent
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("800x600 alone: none") << Rects{{0, 0, 800, 600}} << -1 << 800 << 600;
        QTest::newRow("800x480 alone: none, and 600 high") << Rects{{0, 0, 800, 480}} << -1 << 800
                                                           << 600;
        QTest::newRow("801 wide: chosen, 480 high") << Rects{{0, 0, 801, 480}} << 0 << 801 << 480;
        QTest::newRow("1024 then 1280: the wider")
            << Rects{{0, 0, 1024, 768}, {1024, 0, 1280, 800}} << 1 << 1280 << 800;
        QTest::newRow("1280 then 1024: the wider")
            << Rects{{0, 0, 1280, 800}, {1280, 0, 1024, 768}} << 0 << 1280 << 800;
        QTest::newRow("equally wide: the first") << Rects{{0, 0, 1024, 600}, {1024, 0, 1024, 768}}
                                                 << 0 << 1024 << 600;
        QTest::newRow("taller but narrower: not chosen")
            << Rects{{0, 0, 1024, 600}, {1024, 0, 900, 1600}} << 0 << 1024 << 600;
        QTest::newRow("no widget: passed over") << Rects{{}, {0, 0, 1024, 768}} << 1 << 1024 << 768;
    }
    void screenChoice()
    {
        QFETCH(Rects, screens);
        const ScreenChoice choice = chooseScreen(screens);
        QTEST(choice.index, "index");
        QTEST(choice.width, "width");
        QTEST(choice.height, "height");
    }

    void centring_data() // a 640x480 window; the halves are rounded toward zero
    {
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("800x600") << QSize(800, 600) << QPoint(80, 60);
        QTest::newRow("1024x768") << QSize(1024, 768) << QPoint(192, 144);
        QTest::newRow("601x479: partly off") << QSize(601, 479) << QPoint(-19, 0);
        QTest::newRow("600x400: partly off") << QSize(600, 400) << QPoint(-20, -40);
    }
    void centring()
    {
        QFETCH(QSize, area);
        QTEST(centredOrigin(area.width(), area.height()), "origin");
    }

    void mediaChange_data() // the sub-directories of /media/qz, as last seen and now
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("name");
        const QString in = "inserted", out = "removed";
        QTest::newRow("a, then a b: b in") << QStringList{"a"} << QStringList{"a", "b"} << in << "b";
        QTest::newRow("a, then a b c: b in, the first new one")
            << QStringList{"a"} << QStringList{"a", "b", "c"} << in << "b";
        QTest::newRow("a b, then b: a out") << QStringList{"a", "b"} << QStringList{"b"} << out
                                            << "a";
        QTest::newRow("a b c, then b: a out, the first gone one")
            << QStringList{"a", "b", "c"} << QStringList{"b"} << out << "a";
        QTest::newRow("a, then b: as many as before, no change")
            << QStringList{"a"} << QStringList{"b"} << "no change" << "";
    }
    void mediaChange()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        const MediaChange change = compareMediaListings(before, now);
        const char *const changes[] = {"no change", "inserted", "removed"};
        QTEST(QString(changes[change.kind]), "change");
        QTEST(change.name, "name");
    }

    void mediaListing() // visible sub-directories only, by name without regard to case
    {
        QTemporaryDir media;
        for (const char *name : {"Beta", "alpha", ".hidden"})
            QVERIFY(QDir(media.path()).mkdir(name));
        QVERIFY(writeScript(media.filePath("a-file")));
        QCOMPARE(listMediaDirs(media.path()), QStringList({"alpha", "Beta"}));
    }

    void language_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("language");
        QTest::newRow("Chinese") << "Chinese" << "Chinese";
        QTest::newRow("chinese: case counts") << "chinese" << "English";
        QTest::newRow("inside a longer word") << "SimplifiedChinese" << "Chinese";
        QTest::newRow("with a line feed") << "Chinese\n" << "Chinese";
        QTest::newRow("a locale code") << "zh_CN.UTF-8" << "English";
        QTest::newRow("empty") << "" << "English";
    }
    void language()
    {
        QFETCH(QString, word);
        QTEST(reducedLanguage(word), "language");
    }

    void languageWord_data() // /tmp/locale, when it exists, replaces the word of -l
    {
        QTest::addColumn<int>("file"); // 0: none, 1: a file, 2: a directory (cannot be read)
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("word");
        QTest::newRow("no file: the word of -l") << 0 << QByteArray() << "Chinese";
        QTest::newRow("the file's text, up to a NUL") << 1 << QByteArray("English\0Chinese", 15)
                                                      << "English";
        QTest::newRow("an empty file: empty") << 1 << QByteArray() << "";
        QTest::newRow("an unreadable file: empty") << 2 << QByteArray() << "";
    }
    void languageWord()
    {
        QFETCH(int, file);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString locale = dir.filePath("locale");
        QFile text(locale);
        if (file == 1) {
            QVERIFY(text.open(QIODevice::WriteOnly));
            QCOMPARE(text.write(content), qint64(content.size()));
            text.close();
        }
        if (file == 2)
            QVERIFY(QDir().mkdir(locale));
        QTEST(languageWordFrom("Chinese", locale), "word");
    }

    void messages_data() // what the handler makes of each kind of message, "5% %s" each
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("context"); // release builds of Qt give none
        QTest::addColumn<QByteArray>("stderr");
        QTest::addColumn<bool>("aborts");
        QTest::newRow("debug: system log only") << int(QtDebugMsg) << true << QByteArray() << false;
        QTest::newRow("info: nowhere") << int(QtInfoMsg) << true << QByteArray() << false;
        QTest::newRow("warning") << int(QtWarningMsg) << true
                                 << QByteArray("Warning: 5% %s (f.cpp:7, f())\n") << false;
        QTest::newRow("warning without context") << int(QtWarningMsg) << false
                                                 << QByteArray("Warning: 5% %s (unknown:0, unknown)\n")
                                                 << false;
        QTest::newRow("critical") << int(QtCriticalMsg) << true
                                  << QByteArray("Critical: 5% %s (f.cpp:7, f())\n") << false;
        QTest::newRow("fatal: then SIGABRT") << int(QtFatalMsg) << true
                                             << QByteArray("Fatal: 5% %s (f.cpp:7, f())\n") << true;
    }
    void messages()
    {
        QFETCH(int, type);
        QFETCH(bool, context);
        const pid_t child = fork();
        if (!child) { // the handler ends the process on a fatal message: in a child of its own
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
