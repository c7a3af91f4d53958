#include <umockdev.h> // first: GIO's "signals" member clashes with Qt's keyword macro

#include "appearance.h"
#include "housekeeper.h"
#include "panicreport.h"
#include "testkit.h"
#include "umonitor.h"
#include "verinfo.h"

static UMockdevTestbed *const testbed = umockdev_testbed_new(); // setenv(): before any thread

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()); }
    void panicReport_data()
    {
        QTest::addColumn<bool>("qel"); // whether sticks are followed under /media/qz instead
        QTest::newRow("sdb") << false;
        QTest::newRow("sdc") << true;
    }
    void panicReport()
    {
        QFETCH(bool, qel);
        const QString stick = QTest::currentDataTag();
        qputenv("PATH", "/tmp/bin:" + qgetenv("PATH")); // a probe that finds all but Brennhaven
        QVERIFY(writeScript("/tmp/bin/killall", "[ \"$2\" != Brennhaven ]\n") &&
                writeScript("/Orvalen/opt/savelog.sh") && QDir().mkpath("/var/log/coredump") &&
                (!qel || QDir().mkpath("/media/qz")));
        HouseKeeper keeper;
        keeper.startTools("apr");
        PanicReport *report = nullptr; // the only screen shown
        for (QWidget *screen : QApplication::topLevelWidgets())
            report = screen->isVisible() ? qobject_cast<PanicReport *>(screen) : report;
        QVERIFY(report && report->pos() == QPoint(80, 60) &&
                QDir().mkdir("/var/log/coredump/" + stick));
        auto *text = report->findChild<QTextBrowser *>();
        const QRegularExpression news("^App=Brennhaven Die @ \\S+\n-{33}Coredump generated at");
        QTRY_VERIFY((report->showAPR(800, 600), text->toPlainText().contains(news)));

        QStringList reports; // straight from the udev thread, each after the controller's turn
        connect(keeper.findChild<UMonitor *>(), &UMonitor::usbStick, this,
                [&](bool on, const QString &node) { reports << QString::number(on) + node; });
        QTRY_VERIFY(!QDir(qgetenv("UMOCKDEV_DIR")).entryList({"event*"}, QDir::System).isEmpty());
        const QString device =
            "P: /devices/%1\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\n\nP: /devices/%1/%1p\nE: "
            "SUBSYSTEM=block\nE: DEVNAME=%1p\nE: DEVTYPE=partition\n";
        QVERIFY(umockdev_testbed_add_from_string(testbed, device.arg(stick).toUtf8(), nullptr));
        for (const char *action : {"remove", "change", "add"}) // after the disk's and its own add
            umockdev_testbed_uevent(testbed, QString("/sys/devices/%1/%1p").arg(stick).toUtf8(),
                                    action);
        QTRY_COMPARE(reports.join(','), QString("1/dev/%1p,0/dev/%1p,1/dev/%1p").arg(stick));
        const QString shown = "USB: ON - /media/%1p\nUSB: OFF - /media/%1p\nUSB: ON - /media/%1p";
        QCOMPARE(text->toPlainText().section("\n\n", 1), qel ? "" : shown.arg(stick));
        QVERIFY((keeper.stopTools(), keeper.findChild<UMonitor *>()->isFinished()));
    }

    void appearance() // the last: the texts are Chinese from here on
    {
        QString language = "English"; // from the command line, but the locale file wins
        QTest::ignoreMessage(QtDebugMsg, "Tovrimax_font: The font can not be loaded Noto= -1");
        Appearance appearance;
        QVERIFY(writeScript("/tmp/locale", "Chinese") && (appearance.apply(language), true));
        VerInfo screen; // its catalogue lies beside this program, as beside the tool
        QCOMPARE(language + screen.findChild<QPushButton *>()->text(), QString("Chinese后台"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
