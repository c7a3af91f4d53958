#include <umockdev.h> // first: GIO's "signals" member clashes with Qt's keyword macro

#include "ovmonitor.h"
#include "testkit.h"
#include "umonitor.h"

static UMockdevTestbed *const testbed = umockdev_testbed_new(); // setenv(): before any thread

// The stand-in probe exits with the codes given for Brennhaven, Mirelu and qconnman-applet,
// or cannot be started at all ("-").
static bool answer(const QByteArray &codes)
{
    const QList<QByteArray> code = codes.split(' ');
    return code.size() == 3
               ? writeScript("/tmp/bin/killall", "case $2 in Brennhaven) exit " + code[0] +
                                                     ";; Mirelu) exit " + code[1] +
                                                     ";; esac; exit " + code[2] + '\n')
               : writeScript("/tmp/bin/killall", {}, false);
}

class TestMonitors : public QObject
{
    Q_OBJECT
    UMonitor usb;
    QStringList usbReports;

private slots:
    void initTestCase()
    {
        qputenv("PATH", "/tmp/bin"); // the stand-in probe, and no other
        connect(&usb, &UMonitor::usbStick, this, [this](bool on, const QString &node) {
            usbReports << (on ? "on " : "off ") + node;
        });
        usb.startMonitor();
        const QDir sockets(qgetenv("UMOCKDEV_DIR"));
        QTRY_VERIFY2(!sockets.entryList({"event*"}, QDir::System).isEmpty(), "monitor listening");
        const QString disk = "P: /devices/%1\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\n\n"
                             "P: /devices/%1/%2\nE: SUBSYSTEM=block\nE: DEVNAME=%2\n"
                             "E: DEVTYPE=partition\n";
        for (const QString name : {"sdx", "sdy"}) // "add" for the disk, then its partition
            QVERIFY(umockdev_testbed_add_from_string(testbed, disk.arg(name, name + '1').toUtf8(),
                                                     nullptr));
        QTRY_COMPARE(usbReports, QStringList({"on /dev/sdx1", "on /dev/sdy1"}));
        usbReports.clear();
    }

    void usbEvents_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("reports"); // the last one is a later event's
        const auto row = [](const char *name, const char *device, const char *action,
                            const QStringList &reports) {
            QTest::newRow(name) << device << action << reports + QStringList{"off /dev/sdy1"};
        };
        row("partition added: on", "sdx/sdx1", "add", {"on /dev/sdx1"});
        row("partition removed: off", "sdx/sdx1", "remove", {"off /dev/sdx1"});
        row("partition changed: nothing", "sdx/sdx1", "change", {});
        row("partition moved: nothing", "sdx/sdx1", "move", {});
        row("whole disk added: nothing", "sdx", "add", {});
        row("whole disk removed: nothing", "sdx", "remove", {});
    }
    void usbEvents()
    {
        QFETCH(QString, device);
        QFETCH(QString, action);
        umockdev_testbed_uevent(testbed, ("/sys/devices/" + device).toUtf8(), action.toUtf8());
        // one event a cycle: the later event's report comes after the earlier one's
        umockdev_testbed_uevent(testbed, "/sys/devices/sdy/sdy1", "remove");
        QTRY_VERIFY2(usbReports.contains("off /dev/sdy1"), "the later event reported");
        QTEST(usbReports, "reports");
        usbReports.clear();
    }

    void probes_data()
    {
        QTest::addColumn<QByteArray>("start"); // the probe's exit codes, see answer()
        QTest::addColumn<QStringList>("startReports");
        QTest::addColumn<QByteArray>("later");
        QTest::addColumn<QStringList>("laterReports");
        QTest::newRow("at start all are reported; 1 and 2 are dead")
            << QByteArray("0 1 2") << QStringList{"live 0", "dead 1", "dead 2"}
            << QByteArray("0 1 2") << QStringList();
        QTest::newRow("then only changes, in id order")
            << QByteArray("0 0 1") << QStringList{"live 0", "live 1", "dead 2"}
            << QByteArray("1 0 0") << QStringList{"dead 0", "live 2"};
        QTest::newRow("a probe that cannot start: no report, counts as dead")
            << QByteArray("-") << QStringList() << QByteArray("0 1 0")
            << QStringList{"live 0", "live 2"};
    }
    void probes()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, later);
        QVERIFY(answer(start));
        OVMonitor monitor;
        QStringList reports;
        const auto report = [&](const char *what) {
            return [&reports, what](int id) { reports << what + QString::number(id); };
        };
        connect(&monitor, &OVMonitor::appLive, this, report("live "));
        connect(&monitor, &OVMonitor::appDead, this, report("dead "));
        monitor.startMonitor(); // the first pass is over when it returns
        QTEST(reports, "startReports");
        reports.clear();
        QVERIFY(answer(later));
        const int probes = calls("killall").count('\n');
        QTRY_VERIFY2(calls("killall").count('\n') >= probes + 6, "two passes, a second apart");
        QTEST(reports, "laterReports");
        monitor.stopMonitor();
    }

    void cleanupTestCase()
    {
        usb.stopMonitor();
        QVERIFY2(usb.isFinished(), "the thread has ended when the stop returns");
    }
};

QTEST_GUILESS_MAIN(TestMonitors)
#include "tst_monitors.moc"
