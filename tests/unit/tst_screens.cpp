#include "appupdate.h"
#include "panicreport.h"
#include "testkit.h"
#include "verinfo.h"

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void report()
    {
        qputenv("TZ", "TVX-5:30"); // local time 5:30 ahead of UTC, whatever the machine's zone
        PanicReport report;
        auto *text = report.findChild<QTextBrowser *>();
        auto *clock = report.findChild<QLabel *>("labelTimeElapse");
        auto *timer = report.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        report.onAppDead(0);
        report.onAppDead(3); // no such application, nor the next
        report.onAppDead(-1);
        report.onCoreDump();
        report.showAPR(800, 600);
        report.onCoreDump(); // recorded, shown only by a later show
        QCOMPARE(withoutTimes(text->toPlainText()), "App=Brennhaven Die @ <time>\n"
                                                    "App=Unknown Applet Die @ <time>\n"
                                                    "App=Unknown Applet Die @ <time>\n" +
                                                        QString(33, '-') +
                                                        "Coredump generated at<time>\n");
        QCOMPARE(clock->text(), QString()); // until the first tick
        QCOMPARE(timer->interval(), 1000);
        QTRY_VERIFY2(!clock->text().isEmpty(), "a tick");
        QStringList lately; // the local date and time of the last two seconds
        for (int back = 0; back <= 2; ++back)
            lately << QDateTime::currentDateTime().addSecs(-back).toString("yyyy-MM-ddThh:mm:ss");
        QVERIFY2(lately.contains(clock->text()), qPrintable(clock->text() + " is no clock"));
        const bool ended = asksToQuit([&] { report.onAppLive(0); });
        QVERIFY2(ended, "all alive again: unknown applications hold nothing");
        const QString stopped = clock->text(); // the clock stands still until a stick arrives
        QTest::qWait(1500);                    // longer than a tick
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
                            "until [ -e /tmp/saved ]; do sleep 0.1; done\n"
                            "(sleep 0.2; seq 1 30000; : >/tmp/bg) & exit 1\n")); // left writing
        PanicReport report; // hidden: a stick starts a save whatever the mode
        auto *text = report.findChild<QTextBrowser *>();
        auto *bar = report.findChild<QProgressBar *>();
        auto *status = report.findChild<QLabel *>("labelCoreDump");
        auto *timer = report.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        const QString plug = "Please plug USB stick to save logs";
        const auto tick = [&](int times) { // the report's 1-second tick, driven by the test
            for (int i = 0; i < times; ++i)
                QVERIFY(QMetaObject::invokeMethod(&report, "onRepeatTimer"));
        };
        report.onUSBInserted(true, "/media/sda1");
        // its error output as one paragraph, its standard output not at all
        QTRY_COMPARE(withoutTimes(text->toPlainText()),
                     QString("USB: ON - /media/sda1\nno core\nno space\n"));
        timer->stop(); // the test ticks from here on
        tick(5);
        QCOMPARE(bar->value(), 10);
        report.onUSBInserted(false, "/media/sda1"); // the script goes on
        QCOMPARE(status->text(), plug);
        QCOMPARE(bar->value(), 0);
        tick(1);
        QCOMPARE(bar->value(), 12); // where the count stood, plus 2
        tick(40);
        QCOMPARE(bar->value(), 90); // and no further

        QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
        report.onUSBInserted(true, "/media/sdb1"); // the running script refuses a second one
        QCOMPARE(status->text(), QString("Saving... Don't Unplug the USB stick"));
        QCOMPARE(bar->value(), 0);
        QVERIFY(writeScript("/tmp/saved")); // the script ends, with code 1
        QTRY_COMPARE(status->text(), QString("Panic log saved successfully!\n"));
        QCOMPARE(bar->value(), 100);
        QTRY_VERIFY2(QFile::exists("/tmp/bg"), "what the script left writes on, read by nobody");
        QCOMPARE(calls("savelog.sh"), QByteArray("1 /media/sda1\n"));
        QCOMPARE(withoutTimes(text->toPlainText()),
                 QString("USB: ON - /media/sda1\nno core\nno space\n\n"
                         "USB: OFF - /media/sda1\nUSB: ON - /media/sdb1"));

        report.onUSBInserted(false, "/media/sdb1");
        report.findChild<QPushButton *>("btnReboot")->click();
        QTRY_COMPARE(calls("reboot"), QByteArray("0 \n"));
        QTRY_COMPARE(report.findChild<QProcess *>()->state(), QProcess::NotRunning);
        QCOMPARE(status->text(), plug); // the reboot command's end is no save's end
    }

    void upgradeAfterAnUpload()
    {
        QTemporaryDir images, upload; // beside packages a file and a directory; in the upload
        const QString files = "cd %1 && touch a.tgz APP.TGZ notes && mkdir x.tgz && cd %2 && "
                              "touch -d@1 old.tgz && touch -d@2 a.tgz B.tgz"; // two equally new
        const int made = QProcess::execute("sh", {"-c", files.arg(images.path(), upload.path())});
        QCOMPARE(made, 0);
        QVERIFY(writeScript(upload.filePath("iup.sh")));
        AppUpdate screen;
        auto *list = screen.findChild<QListView *>();
        auto *upgrade = screen.findChild<QPushButton *>("btnUpgrade");
        screen.showDirs(images.path(), 800, 600);
        QTRY_COMPARE(list->model()->rowCount(list->rootIndex()), 2); // a.tgz, APP.TGZ
        const QModelIndex a =
            static_cast<QFileSystemModel *>(list->model())->index(images.filePath("a.tgz"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(a).center());
        // an upload: its newest package is the choice, while the label still shows the click;
        // of equally new ones, the first in plain character order
        screen.onCheckPackage(upload.path());
        QCOMPARE(screen.findChild<QLabel *>("labelPackInfo")->text(), QString("a.tgz"));
        QCOMPARE(screen.pos(), QPoint(80, 60)); // centred as at the last show
        upgrade->click();
        const QByteArray installed = "1 " + upload.filePath("B.tgz").toUtf8() + '\n';
        QTRY_COMPARE(calls("iup.sh"), installed);
        // the package gone before the next press: the tool ends and nothing runs
        screen.onCheckPackage(upload.path());
        QVERIFY(QFile::remove(upload.filePath("B.tgz")));
        const bool ended = asksToQuit([&] { upgrade->click(); });
        QVERIFY2(ended, "Upgrade of a vanished package ends the tool");
        QTest::qWait(1000); // a started installer records its call in a few milliseconds
        QCOMPARE(calls("iup.sh"), installed);
    }

    void scriptOutlivesItsReport() // deleted, as Qt may delete a screen's parent at its end
    {
        QVERIFY(writeScript("/Orvalen/opt/savelog.sh",
                            "set -e; until [ -e /tmp/go ]; do sleep 0.05; done\n"
                            "seq 1 30000; seq 1 30000 >&2; : >/tmp/done\n")); // > a pipe holds
        auto *report = new PanicReport;
        report->onUSBInserted(true, "/media/sdc1");
        QTRY_VERIFY2(calls("savelog.sh").endsWith("1 /media/sdc1\n"), "the script started");
        delete report;
        QVERIFY(writeScript("/tmp/go"));
        QTRY_VERIFY2(QFile::exists("/tmp/done"), "the script ran to its end");
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
