#include "appupdate.h"
#include "panicreport.h"
#include "testkit.h"
#include "verinfo.h"

class TestScreens : public QObject
{
    Q_OBJECT
    const QString stamp = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d"; // yyyy-MM-ddThh:mm:ss

private slots:
    void textsAndPlaces() // 640x480 windows, centred with the halves rounded toward zero
    {
        PanicReport report;
        report.onAppDead(0);
        report.onAppDead(7); // no such application
        report.onCoreDump();
        report.showAPR(601, 479);
        const QRegularExpression entries(QString("^App=Brennhaven Die @ %1\nApp=Unknown Applet "
                                                 "Die @ %1\n-{33}Coredump generated at%1\n$")
                                             .arg(stamp));
        QVERIFY(report.findChild<QTextBrowser *>()->toPlainText().contains(entries));
        QVERIFY(report.pos() == QPoint(-19, 0) && !asksToQuit([&] { report.onAppLive(1); }));
        VerInfo version;
        version.showInfo(1024, 768);
        QCOMPARE(version.findChild<QLabel *>()->text(), QString("Ravelin\nRevision:0.1"));
    }

    void saveToStick()
    {
        qputenv("PATH", "/tmp/bin:" + qgetenv("PATH")); // where bash -c reboot finds its stand-in
        QVERIFY(writeScript("/tmp/bin/reboot") &&
                writeScript("/Orvalen/opt/savelog.sh",
                            "echo out; printf 'no core\\nno space\\n' >&2\nuntil [ -e /tmp/saved "
                            "]; do sleep 0.1; done; exit 1\n"));
        PanicReport screen; // hidden: a stick saves whatever the mode
        auto *bar = screen.findChild<QProgressBar *>();
        auto *status = screen.findChild<QLabel *>("labelCoreDump");
        auto *timer = screen.findChild<QTimer *>("repeatTimer");
        auto *text = screen.findChild<QTextBrowser *>();
        const auto state = [&] {
            return QString("%1 %2|%3").arg(bar->value()).arg(status->text(), text->toPlainText());
        };
        const auto tick = [&](int times) {
            while (times-- > 0)
                QMetaObject::invokeMethod(&screen, "onRepeatTimer");
            return bar->value();
        };
        screen.onUSBInserted(true, "/media/sda1");
        QVERIFY(timer->isActive() && timer->interval() == 1000);
        timer->stop(); // the test ticks from here on
        const QString shown = "USB: ON - /media/sda1\nno core\nno space\n"; // stderr, not stdout
        QTRY_COMPARE(state(), "0 Saving... Don't Unplug the USB stick|" + shown);
        QCOMPARE(calls("savelog.sh") + QByteArray::number(tick(5)),
                 QByteArray("1 /media/sda1\n10"));
        screen.onUSBInserted(false, "/media/sda1"); // the script goes on
        const QString removed = "|" + shown + "\nUSB: OFF - /media/sda1";
        QCOMPARE(state(), "0 Please plug USB stick to save logs" + removed);
        QCOMPARE(QString("%1 %2").arg(tick(1)).arg(tick(45)), QString("12 90"));
        QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
        screen.findChild<QPushButton *>("btnReboot")->click(); // refused while the script runs
        QVERIFY(writeScript("/tmp/saved"));                    // the script ends, with code 1
        QTRY_COMPARE(state(), "100 Panic log saved successfully!\n" + removed);
        screen.onUSBInserted(false, "/media/sda1");
        QVERIFY(!asksToQuit([&] { screen.findChild<QPushButton *>("btnReboot")->click(); }));
        QTRY_VERIFY(calls("reboot") == "0 \n" && !screen.findChild<QProcess *>()->state());
        QCOMPARE(tick(1), 0); // the reboot's end is no save's end
    }

    void appUpdate()
    {
        QTemporaryDir dir; // an upload; its installer comes without the execute bit
        const QString files = "cd %1;touch -d@1 APP.TGZ;touch -d@2 a.tgz B.tgz;mkdir x.tgz";
        QVERIFY(writeScript(dir.filePath("iup.sh"), {}, false) &&
                !QProcess::execute("sh", {"-c", files.arg(dir.path())}));
        AppUpdate screen;
        auto *upgrade = screen.findChild<QPushButton *>("btnUpgrade");
        auto *list = screen.findChild<QListView *>();
        QVERIFY(!asksToQuit([&] { screen.onCheckPackage(dir.path()); }));
        QTRY_COMPARE(list->model()->rowCount(list->rootIndex()), 3); // the packages, no other file
        upgrade->click(); // the newest package; of equal age, the first in character order
        QTRY_COMPARE(QString(calls("iup.sh")), "1 " + dir.filePath("B.tgz") + '\n');
        const QModelIndex a =
            static_cast<QFileSystemModel *>(list->model())->index(dir.filePath("a.tgz"));
        QVERIFY(!upgrade->isEnabled() && !screen.findChild<QPushButton *>("btnLater")->isEnabled());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(a).center());
        QCOMPARE(screen.findChild<QLabel *>("labelPackInfo")->text(), QString("a.tgz"));
        QVERIFY(upgrade->isEnabled() && QFile::remove(dir.filePath("a.tgz")) &&
                asksToQuit([&] { upgrade->click(); }));
        QVERIFY(upgrade->isEnabled()); // nothing was started
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
