#include <umockdev.h> // first: GIO's "signals" member clashes with Qt's keyword macro

#include "appearance.h"
#include "housekeeper.h"
#include "panicreport.h"
#include "testkit.h"
#include "umonitor.h"

static UMockdevTestbed *const testbed = umockdev_testbed_new(); // setenv(): before any thread
static const char *const dumpDirs[] = {"/var/log/coredump", "/home/root/coredump",
                                       "/home/qz/coredump"};

// The report view of the one panic report there is: every mode has one, hidden or not.
static QTextBrowser *reportView()
{
    for (QWidget *screen : QApplication::topLevelWidgets())
        if (qobject_cast<PanicReport *>(screen))
            return screen->findChild<QTextBrowser *>();
    return nullptr;
}

// The controller with the real monitors and screens, in mode "up" over the sandbox's device.
class TestApp : public QObject
{
    Q_OBJECT
    HouseKeeper keeper;
    QTextBrowser *report = nullptr; // the panic report's: hidden, and told everything all the same

private slots:
    void initTestCase()
    {
        const QString disk = "P: /devices/%1\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\n\n"
                             "P: /devices/%1/%2\nE: SUBSYSTEM=block\nE: DEVNAME=%2\n"
                             "E: DEVTYPE=partition\n";
        for (const QString name : {"sdx", "sdy"}) // before the monitor listens: not reported
            QVERIFY(umockdev_testbed_add_from_string(
                testbed, disk.arg(name).arg(name + '1').toUtf8(), nullptr));
        for (const char *dir : dumpDirs)
            QVERIFY(QDir().mkpath(dir));
        qputenv("PATH", "/tmp/bin:" + qgetenv("PATH")); // a probe: Brennhaven 0, Mirelu 1, others 2
        QVERIFY(writeScript("/tmp/bin/killall", "case $2 in Brennhaven) exit 0;; Mirelu) exit 1;; "
                                                "esac; exit 2\n"));
        keeper.startTools("up");
        const QDir sockets(qgetenv("UMOCKDEV_DIR"));
        QTRY_VERIFY2(!sockets.entryList({"event*"}, QDir::System).isEmpty(), "USB monitor on");
        report = reportView();
        QVERIFY(report);
    }

    void usbEvents_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("shown"); // the last paragraph is a later event's
        const auto row = [](const char *name, const char *device, const char *action,
                            const QString &shown) {
            QTest::newRow(name) << device << action << shown + "USB: OFF - /media/sdy1";
        };
        row("partition added: a stick at its /media path", "sdx/sdx1", "add",
            "USB: ON - /media/sdx1\n");
        row("partition removed", "sdx/sdx1", "remove", "USB: OFF - /media/sdx1\n");
        row("partition changed: nothing", "sdx/sdx1", "change", "");
        row("partition moved: nothing", "sdx/sdx1", "move", "");
        row("whole disk added: nothing", "sdx", "add", "");
    }
    void usbEvents()
    {
        QFETCH(QString, device);
        QFETCH(QString, action);
        report->clear();
        umockdev_testbed_uevent(testbed, ("/sys/devices/" + device).toUtf8(), action.toUtf8());
        // the monitor takes one event a cycle: this one is shown after the one before
        umockdev_testbed_uevent(testbed, "/sys/devices/sdy/sdy1", "remove");
        QTRY_VERIFY2(report->toPlainText().endsWith("/media/sdy1"), "the later event shown");
        QTEST(report->toPlainText(), "shown");
    }

    void
    reportAfterStart() // deaths found at start, probe codes 1 and 2; news in each dump directory
    {
        QSignalSpy changes(keeper.findChild<QFileSystemWatcher *>(),
                           &QFileSystemWatcher::directoryChanged);
        for (const char *dir : dumpDirs)
            QVERIFY(QDir(dir).mkdir("core"));
        QTRY_COMPARE(changes.count(), 3); // the controller has had its turn for each
        qobject_cast<PanicReport *>(report->window())->showAPR(800, 600);
        QCOMPARE(withoutTimes(report->toPlainText()),
                 "App=Mirelu Die @ <time>\nApp=qconnman-applet Die @ <time>\n" + QString(33, '-') +
                     QString("Coredump generated at<time>\n").repeated(3));
    }

    void anotherDevice() // sticks below /media/qz, and a probe that cannot be started
    {
        keeper.stopTools();
        QVERIFY2(keeper.findChild<UMonitor *>()->isFinished(), "USB monitor ended");
        qDeleteAll(QApplication::topLevelWidgets()); // the stopped controller's screens
        QVERIFY(QDir().mkpath("/media/qz"));
        qputenv("PATH", "/tmp/bin");
        QVERIFY(writeScript("/tmp/bin/killall", {}, false));
        HouseKeeper qel;
        qel.startTools("up");
        qel.onUSBStick(true, "/dev/sdx1"); // a partition is only logged here
        QCOMPARE(reportView()->toPlainText(), QString());
        qobject_cast<PanicReport *>(reportView()->window())->showAPR(800, 600);
        QCOMPARE(reportView()->toPlainText(), QString(33, '-')); // no answer, no death
    }

    void translation() // the last: the texts are Chinese from here on
    {
        QString language = "Chinese";
        Appearance appearance;
        appearance.applyTranslation(language);
        QCOMPARE(qApp->translate("VerInfo", "Background"), QString("后台"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
