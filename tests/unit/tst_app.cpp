#include <umockdev.h> // first: GIO's "signals" member clashes with Qt's keyword macro

#include "appearance.h"
#include "housekeeper.h"
#include "panicreport.h"
#include "testkit.h"
#include "umonitor.h"
#include "verinfo.h"

static UMockdevTestbed *const testbed = umockdev_testbed_new(); // setenv(): before any thread

// The panic report of the controller under test (each test deletes its screens): every mode
// has one, shown or not.
static PanicReport *panicReport()
{
    for (QWidget *screen : QApplication::topLevelWidgets())
        if (auto *report = qobject_cast<PanicReport *>(screen))
            return report;
    return nullptr;
}

static QString reportText()
{
    PanicReport *report = panicReport();
    return report ? report->findChild<QTextBrowser *>()->toPlainText() : "(no report)";
}

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // a stick with one partition; its events come later, each to a controller's monitor
        QVERIFY(umockdev_testbed_add_from_string(testbed,
                                                 "P: /devices/sdz\nE: SUBSYSTEM=block\n"
                                                 "E: DEVTYPE=disk\n\nP: /devices/sdz/sdz1\n"
                                                 "E: SUBSYSTEM=block\nE: DEVNAME=sdz1\n"
                                                 "E: DEVTYPE=partition\n",
                                                 nullptr));
    }
    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()); }

    void usbStick_data()
    {
        QTest::addColumn<bool>("qelScale"); // /media/qz exists: sticks are followed there
        QTest::addColumn<QString>("shown");
        QTest::newRow("a partition is a stick at its /media path")
            << false << "USB: ON - /media/sdz1\nUSB: OFF - /media/sdz1";
        QTest::newRow("on a Qel scale a partition is only logged") << true << "";
    }
    void usbStick()
    {
        QFETCH(bool, qelScale);
        if (qelScale)
            QVERIFY(QDir().mkpath("/media/qz"));
        QDir sockets(qgetenv("UMOCKDEV_DIR")); // a monitor listens on an "event" socket there
        for (const QString &stale : sockets.entryList({"event*"}, QDir::System))
            QVERIFY(sockets.remove(stale)); // the last controller's
        HouseKeeper keeper;
        keeper.startTools("up");
        QTRY_VERIFY2(!sockets.entryList({"event*"}, QDir::System).isEmpty(), "monitor listening");
        QStringList reports; // each comes here after the controller has had its turn
        connect(keeper.findChild<UMonitor *>(), &UMonitor::usbStick, this,
                [&](bool on, const QString &node) { reports << QString::number(on) + node; });
        for (const char *action : {"add", "remove"})
            umockdev_testbed_uevent(testbed, "/sys/devices/sdz/sdz1", action);
        QTRY_COMPARE(reports, QStringList({"1/dev/sdz1", "0/dev/sdz1"}));
        QTEST(reportText(), "shown");
        keeper.stopTools();
    }

    void coreDumps_data()
    {
        QTest::addColumn<QString>("dir");
        for (const char *dir : {"/var/log/coredump", "/home/root/coredump", "/home/qz/coredump"})
            QTest::newRow(dir) << dir;
    }
    void coreDumps() // a new file there is one more entry, in the report's next show
    {
        QFETCH(QString, dir);
        QVERIFY(QDir().mkpath(dir));
        HouseKeeper keeper;
        keeper.startTools("up");
        QSignalSpy changes(keeper.findChild<QFileSystemWatcher *>(),
                           &QFileSystemWatcher::directoryChanged);
        QVERIFY(writeScript(dir + "/core.1"));
        QTRY_COMPARE(changes.count(), 1); // the controller's turn came first
        QVERIFY(panicReport());
        panicReport()->showAPR(800, 600);
        QCOMPARE(reportText().count("Coredump generated at"), 1);
        keeper.stopTools();
    }

    void appearance() // the last: the texts are Chinese from here on
    {
        QString language = "English"; // from the command line; the locale file wins
        QVERIFY(writeScript("/tmp/locale", "Chinese"));
        QTest::ignoreMessage(QtDebugMsg, "Tovrimax_font: The font can not be loaded Noto= -1");
        Appearance appearance;
        appearance.apply(language);
        QCOMPARE(language, QString("Chinese"));
        VerInfo screen; // its catalogue lies beside this program, as beside the tool
        QCOMPARE(screen.findChild<QPushButton *>()->text(), QString("后台"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
