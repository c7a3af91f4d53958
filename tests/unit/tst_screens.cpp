#include "appupdate.h"
#include "panicreport.h"
#include "testkit.h"
#include "verinfo.h"

#include <sys/time.h>

// yyyy-MM-ddThh:mm:ss: the time stamp of the report's entries and of its clock
static const QRegularExpression stamp("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d");

// The report's text, each time stamp in it written as <time>.
static QString reportText(const PanicReport &report)
{
    return report.findChild<QTextBrowser *>()->toPlainText().replace(stamp, "<time>");
}

static QTimer *tickTimer(PanicReport &report)
{
    return report.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
}

// The report's 1-second tick, driven by the test.
static void tick(PanicReport &report, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QVERIFY(QMetaObject::invokeMethod(&report, "onRepeatTimer"));
}

// A file, or a directory for a name ending in '/', last modified at the given second.
static bool makeAged(const QString &path, int second)
{
    QFile file(path);
    const bool made = path.endsWith('/') ? QDir().mkpath(path) : file.open(QIODevice::WriteOnly);
    file.close();
    const timeval times[2] = {{second, 0}, {second, 0}};
    return made && utimes(QFile::encodeName(path).constData(), times) == 0;
}

// The names the package list shows, sorted.
static QStringList entries(const QListView *list)
{
    QStringList names;
    for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
        names << list->model()->index(row, 0, list->rootIndex()).data().toString();
    names.sort();
    return names;
}

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void reportIsASnapshot()
    {
        PanicReport report;
        report.onAppDead(0);
        report.onAppDead(3); // no such application, nor the next
        report.onAppDead(-1);
        report.onCoreDump();
        report.showAPR(800, 600);
        report.onCoreDump(); // recorded, shown only by a later show
        const bool ended = asksToQuit([&] { report.onAppLive(0); });
        QVERIFY2(ended, "all alive again: unknown applications hold nothing");
        QCOMPARE(reportText(report), "App=Brennhaven Die @ <time>\n"
                                     "App=Unknown Applet Die @ <time>\n"
                                     "App=Unknown Applet Die @ <time>\n" +
                                         QString(33, '-') + "Coredump generated at<time>\n");
    }

    void clock()
    {
        PanicReport report;
        auto *clock = report.findChild<QLabel *>("labelTimeElapse");
        report.showAPR(800, 600);
        QCOMPARE(clock->text(), QString()); // until the first tick
        QCOMPARE(tickTimer(report)->interval(), 1000);
        const QRegularExpression now('^' + stamp.pattern() + '$');
        QTRY_VERIFY2(now.match(clock->text()).hasMatch(), qPrintable(clock->text()));
        // all alive before the event loop runs: the end request is lost, the report stays,
        // and its clock stands still until a stick arrives
        report.onAppLive(1);
        const QString stopped = clock->text();
        QTest::qWait(1500); // longer than a tick
        QCOMPARE(clock->text(), stopped);
        report.onUSBInserted(true, "/media/sdz1");
        QTRY_VERIFY2(clock->text() != stopped, "ticking again");
    }

    void save()
    {
        qputenv("PATH", "/tmp/bin:" + qgetenv("PATH")); // for "bash -c reboot"
        QVERIFY(writeScript("/tmp/bin/reboot"));
        QVERIFY(writeScript("/Orvalen/opt/savelog.sh",
                            "echo out; printf 'no core\\nno space\\n' >&2\n"
                            "until [ -e /tmp/saved ]; do sleep 0.1; done; exit 1\n"));
        PanicReport report; // hidden: a stick starts a save whatever the mode
        auto *bar = report.findChild<QProgressBar *>();
        auto *status = report.findChild<QLabel *>("labelCoreDump");
        auto *reboot = report.findChild<QPushButton *>("btnReboot");
        const QString saving = "Saving... Don't Unplug the USB stick";
        const QString plug = "Please plug USB stick to save logs";
        report.onUSBInserted(true, "/media/sda1");
        QCOMPARE(status->text(), saving);
        QCOMPARE(bar->value(), 0);
        QTRY_COMPARE(calls("savelog.sh"), QByteArray("1 /media/sda1\n"));
        // its error output as one paragraph, its standard output not at all
        QTRY_COMPARE(reportText(report), QString("USB: ON - /media/sda1\nno core\nno space\n"));
        QVERIFY2(tickTimer(report)->isActive(), "a stick starts the tick");
        tickTimer(report)->stop(); // the test ticks from here on
        tick(report, 5);
        QCOMPARE(bar->value(), 10);
        report.onUSBInserted(false, "/media/sda1"); // the script goes on
        QCOMPARE(status->text(), plug);
        QCOMPARE(bar->value(), 0);
        tick(report);
        QCOMPARE(bar->value(), 12); // where the count stood, plus 2
        tick(report, 40);
        QCOMPARE(bar->value(), 90); // and no further

        QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
        report.onUSBInserted(true, "/media/sdb1"); // the running script refuses a second one
        QCOMPARE(status->text(), saving);
        QCOMPARE(bar->value(), 0);
        QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
        reboot->click();                    // refused as well
        QVERIFY(writeScript("/tmp/saved")); // the script ends, with code 1
        QTRY_COMPARE(status->text(), QString("Panic log saved successfully!\n"));
        QCOMPARE(bar->value(), 100);
        QCOMPARE(calls("savelog.sh"), QByteArray("1 /media/sda1\n"));
        QCOMPARE(reportText(report), QString("USB: ON - /media/sda1\nno core\nno space\n\n"
                                             "USB: OFF - /media/sda1\nUSB: ON - /media/sdb1"));

        report.onUSBInserted(false, "/media/sdb1");
        const bool ended = asksToQuit([&] { reboot->click(); });
        QVERIFY2(!ended, "Reboot leaves the report up");
        QTRY_COMPARE(calls("reboot"), QByteArray("0 \n"));
        QTRY_COMPARE(report.findChild<QProcess *>()->state(), QProcess::NotRunning);
        QCOMPARE(status->text(), plug); // the reboot command's end is no save's end
        tick(report);
        QCOMPARE(bar->value(), 0);
    }

    void aSaveOutlivesItsScreen()
    {
        QVERIFY(writeScript("/Orvalen/opt/savelog.sh",
                            "until [ -e /tmp/go ]; do sleep 0.1; done; echo on; : >/tmp/copied\n"));
        auto *report = new PanicReport;
        report->onUSBInserted(true, "/media/sdc1");
        QTRY_VERIFY(calls("savelog.sh").endsWith("1 /media/sdc1\n"));
        delete report;
        QVERIFY(writeScript("/tmp/go"));
        QTRY_VERIFY2(QFile::exists("/tmp/copied"), "the script ran to its end");
    }

    void packageChoice_data() // an FTP upload, with iup.sh
    {
        QTest::addColumn<QStringList>("files"); // a name ending in '/': a directory
        QTest::addColumn<QVector<int>>("ages"); // their modification times
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("installed"); // by Upgrade, without a click
        QTest::newRow("of equal age, the first in character order")
            << QStringList{"a.tgz", "B.tgz", "c.tgz"} << QVector<int>{2, 2, 1}
            << QStringList{"B.tgz", "a.tgz", "c.tgz"} << "B.tgz";
        QTest::newRow("an upper-case extension counts")
            << QStringList{"a.tgz", "APP.TGZ"} << QVector<int>{1, 2}
            << QStringList{"APP.TGZ", "a.tgz"} << "APP.TGZ";
        QTest::newRow("other names and directories do not")
            << QStringList{"a.tgz", "notes.txt", "x.tgz/"} << QVector<int>{1, 2, 3}
            << QStringList{"a.tgz"} << "a.tgz";
    }
    void packageChoice()
    {
        QFETCH(QStringList, files);
        QFETCH(QVector<int>, ages);
        QFETCH(QStringList, listed);
        QFETCH(QString, installed);
        QTemporaryDir upload;
        QFile::remove("/tmp/calls.iup.sh");
        QVERIFY(writeScript(upload.filePath("iup.sh")));
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(makeAged(upload.filePath(files[i]), ages[i]));
        AppUpdate screen;
        screen.onCheckPackage(upload.path());
        QTRY_COMPARE(entries(screen.findChild<QListView *>()), listed);
        screen.findChild<QPushButton *>("btnUpgrade")->click();
        QTRY_COMPARE(calls("iup.sh"), "1 " + upload.filePath(installed).toUtf8() + '\n');
    }

    void upgradeAfterAnUpload()
    {
        QTemporaryDir images, upload;
        QFile::remove("/tmp/calls.iup.sh");
        QVERIFY(makeAged(images.filePath("a.tgz"), 1));
        QVERIFY(writeScript(upload.filePath("iup.sh")));
        QVERIFY(makeAged(upload.filePath("new.tgz"), 2));
        AppUpdate screen;
        auto *list = screen.findChild<QListView *>();
        auto *label = screen.findChild<QLabel *>("labelPackInfo");
        auto *upgrade = screen.findChild<QPushButton *>("btnUpgrade");
        screen.showDirs(images.path(), 800, 600);
        QTRY_COMPARE(entries(list), QStringList{"a.tgz"});
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(0, 0, list->rootIndex())).center());
        QCOMPARE(label->text(), QString("a.tgz"));
        // the upload's newest package is the choice, while the label still shows the click
        screen.onCheckPackage(upload.path());
        QCOMPARE(label->text(), QString("a.tgz"));
        QCOMPARE(screen.pos(), QPoint(80, 60)); // centred as at the last show
        upgrade->click();
        const QByteArray installed = "1 " + upload.filePath("new.tgz").toUtf8() + '\n';
        QTRY_COMPARE(calls("iup.sh"), installed);
        // the package gone before the next press: the tool ends and nothing runs
        screen.onCheckPackage(upload.path());
        QVERIFY(QFile::remove(upload.filePath("new.tgz")));
        const bool ended = asksToQuit([&] { upgrade->click(); });
        QVERIFY2(ended, "Upgrade of a vanished package ends the tool");
        QCOMPARE(calls("iup.sh"), installed);
    }

    void version()
    {
        VerInfo version;
        version.showInfo(800, 600);
        QCOMPARE(version.findChild<QLabel *>()->text(), QString("Ravelin\nRevision:0.1"));
        const bool ended = asksToQuit([&] { version.findChild<QPushButton *>()->click(); });
        QVERIFY2(ended, "Background ends the tool at once");
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
