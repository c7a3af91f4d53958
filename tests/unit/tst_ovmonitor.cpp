#include "messagecapture.h"
#include "ovmonitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTimerEvent>
#include <QtTest>

#include <memory>

namespace {

const char AlreadyRunning[] = "QProcess::start: Process is already running";

// A stand-in "killall" that answers "-0 NAME" as the file states/NAME says, and notes each call.
const char StandIn[] = R"sh(#!/bin/sh
PATH=/usr/bin:/bin
echo "$*" >> "%1/calls"
case "$(cat "%1/states/$2" 2>/dev/null)" in
alive) exit 0 ;;
slow) sleep 1.5; exit 0 ;;
hang) exec sleep 60 ;;
*) exit 1 ;;
esac
)sh";

} // namespace

class TestOVMonitor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void appName_data();
    void appName();
    void startReportsEveryApplication_data();
    void startReportsEveryApplication();
    void laterOnlyChangesAreReported();
    void changesInOnePassComeInIdOrder();
    void slowProbeResultGoesToTheNextApplication();
    void probeThatCannotStartReportsNothing();
    void foreignTimerEventChangesNothing();
    void stopEndsThePasses();
    void neverStartedMonitorIsInert();
    void destructionEndsARunningProbe();

private:
    void installStandIn();
    void setState(const QString &name, const char *state);
    void setStates(const char *brennhaven, const char *mirelu, const char *applet);
    QStringList calls() const;
    bool waitForPasses(int passes);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<OVMonitor> monitor;
    QStringList events;
    QByteArray savedPath;
};

void TestOVMonitor::initTestCase()
{
    savedPath = qgetenv("PATH");
    MessageCapture::install();
}

void TestOVMonitor::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("states")));
    // the probe is looked up on the search path: this directory is the only place it can be
    qputenv("PATH", QFile::encodeName(dir->path()));
    events.clear();
    MessageCapture::warnings().clear();
    monitor.reset(new OVMonitor);
    connect(monitor.get(), &OVMonitor::appLive, monitor.get(),
            [this](int appId) { events.append(QStringLiteral("live %1").arg(appId)); });
    connect(monitor.get(), &OVMonitor::appDead, monitor.get(),
            [this](int appId) { events.append(QStringLiteral("dead %1").arg(appId)); });
}

void TestOVMonitor::cleanup()
{
    monitor.reset();
    qputenv("PATH", savedPath);
    dir.reset();
}

void TestOVMonitor::installStandIn()
{
    QFile script(dir->filePath(QStringLiteral("killall")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QString::fromLatin1(StandIn).arg(dir->path()).toLocal8Bit());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestOVMonitor::setState(const QString &name, const char *state)
{
    QFile file(dir->filePath(QStringLiteral("states/") + name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(state);
}

void TestOVMonitor::setStates(const char *brennhaven, const char *mirelu, const char *applet)
{
    setState(QStringLiteral("Brennhaven"), brennhaven);
    setState(QStringLiteral("Mirelu"), mirelu);
    setState(QStringLiteral("qconnman-applet"), applet);
}

QStringList TestOVMonitor::calls() const
{
    QFile file(dir->filePath(QStringLiteral("calls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Passes run on this thread, inside the event loop: once the calls of a whole pass are in,
// that pass is over and its reports were made.
bool TestOVMonitor::waitForPasses(int passes)
{
    const int expected = calls().size() + 3 * passes;
    QElapsedTimer waiting;
    waiting.start();
    while (calls().size() < expected && waiting.elapsed() < 3000 * passes + 2000)
        QTest::qWait(10);
    return calls().size() >= expected;
}

void TestOVMonitor::appName_data()
{
    QTest::addColumn<int>("appId");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << QStringLiteral("Brennhaven");
    QTest::newRow("1") << 1 << QStringLiteral("Mirelu");
    QTest::newRow("2") << 2 << QStringLiteral("qconnman-applet");
    QTest::newRow("3") << 3 << QStringLiteral("Unknown Applet");
    QTest::newRow("-1") << -1 << QStringLiteral("Unknown Applet");
}

void TestOVMonitor::appName()
{
    QFETCH(int, appId);
    QTEST(OVMonitor::appName(appId), "name");
}

void TestOVMonitor::startReportsEveryApplication_data()
{
    QTest::addColumn<QByteArrayList>("states");
    QTest::addColumn<QStringList>("reports");
    QTest::newRow("only Mirelu") << QByteArrayList{"dead", "alive", "dead"}
                                 << QStringList{QStringLiteral("dead 0"), QStringLiteral("live 1"),
                                                QStringLiteral("dead 2")};
    QTest::newRow("all three") << QByteArrayList{"alive", "alive", "alive"}
                               << QStringList{QStringLiteral("live 0"), QStringLiteral("live 1"),
                                              QStringLiteral("live 2")};
    QTest::newRow("none") << QByteArrayList{"dead", "dead", "dead"}
                          << QStringList{QStringLiteral("dead 0"), QStringLiteral("dead 1"),
                                         QStringLiteral("dead 2")};
    QTest::newRow("all but Mirelu")
        << QByteArrayList{"alive", "dead", "alive"}
        << QStringList{QStringLiteral("live 0"), QStringLiteral("dead 1"),
                       QStringLiteral("live 2")};
}

void TestOVMonitor::startReportsEveryApplication()
{
    QFETCH(QByteArrayList, states);
    installStandIn();
    setStates(states.at(0), states.at(1), states.at(2));

    monitor->startMonitor();
    // all reported inside the call, no event loop needed
    QTEST(events, "reports");
    QCOMPARE(calls(), (QStringList{QStringLiteral("-0 Brennhaven"), QStringLiteral("-0 Mirelu"),
                                   QStringLiteral("-0 qconnman-applet")}));
}

void TestOVMonitor::laterOnlyChangesAreReported()
{
    installStandIn();
    setStates("dead", "alive", "dead");
    monitor->startMonitor();
    events.clear();

    QVERIFY(waitForPasses(1));
    QCOMPARE(events, QStringList());

    setState(QStringLiteral("Mirelu"), "dead");
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, QStringList{QStringLiteral("dead 1")});
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, QStringList{QStringLiteral("dead 1")});

    setState(QStringLiteral("Mirelu"), "alive");
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, (QStringList{QStringLiteral("dead 1"), QStringLiteral("live 1")}));
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, (QStringList{QStringLiteral("dead 1"), QStringLiteral("live 1")}));
}

void TestOVMonitor::changesInOnePassComeInIdOrder()
{
    installStandIn();
    setStates("alive", "dead", "alive");
    monitor->startMonitor();
    events.clear();

    // no pass runs while this test holds the thread: all three change between two passes
    setStates("dead", "alive", "dead");
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, (QStringList{QStringLiteral("dead 0"), QStringLiteral("live 1"),
                                  QStringLiteral("dead 2")}));
}

void TestOVMonitor::slowProbeResultGoesToTheNextApplication()
{
    installStandIn();
    // Brennhaven's probe answers "alive" after 1.5 s: too late for its own 1 s wait, in time
    // for the next one, which is Mirelu's, whose own probe cannot start on the busy process
    setStates("slow", "dead", "dead");
    QTest::ignoreMessage(QtWarningMsg, AlreadyRunning);

    monitor->startMonitor();
    QCOMPARE(events, (QStringList{QStringLiteral("live 1"), QStringLiteral("dead 2")}));
    QCOMPARE(calls(),
             (QStringList{QStringLiteral("-0 Brennhaven"), QStringLiteral("-0 qconnman-applet")}));

    // Brennhaven got no result at start and counts as dead; Mirelu's real state shows next
    setStates("dead", "dead", "dead");
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, (QStringList{QStringLiteral("live 1"), QStringLiteral("dead 2"),
                                  QStringLiteral("dead 1")}));
}

void TestOVMonitor::probeThatCannotStartReportsNothing()
{
    setStates("dead", "alive", "dead");
    monitor->startMonitor(); // no "killall" on the search path
    QCOMPARE(events, QStringList());

    // counted as dead meanwhile: the first probe that works reports only the live one
    installStandIn();
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, QStringList{QStringLiteral("live 1")});
}

void TestOVMonitor::foreignTimerEventChangesNothing()
{
    installStandIn();
    setStates("dead", "alive", "dead");
    monitor->startMonitor();
    events.clear();
    setState(QStringLiteral("Mirelu"), "dead");
    const int callsBefore = calls().size();

    QTimer other;
    other.start(100000);
    QTimerEvent foreign(other.timerId());
    QCoreApplication::sendEvent(monitor.get(), &foreign);
    QCOMPARE(calls().size(), callsBefore);
    QCOMPARE(events, QStringList());

    // its own timer still works
    QVERIFY(waitForPasses(1));
    QCOMPARE(events, QStringList{QStringLiteral("dead 1")});
}

void TestOVMonitor::stopEndsThePasses()
{
    installStandIn();
    setStates("dead", "alive", "dead");
    monitor->startMonitor();
    QVERIFY(waitForPasses(1));
    monitor->stopMonitor();
    const int callsAfterStop = calls().size();
    events.clear();
    setState(QStringLiteral("Mirelu"), "dead");

    QTest::qWait(2500); // two intervals of a timer that would still run
    QCOMPARE(calls().size(), callsAfterStop);
    QCOMPARE(events, QStringList());
}

void TestOVMonitor::neverStartedMonitorIsInert()
{
    installStandIn();
    setStates("alive", "alive", "alive");
    monitor->stopMonitor();
    QTimerEvent unset(-1); // the id a monitor without a timer holds
    QCoreApplication::sendEvent(monitor.get(), &unset);
    QTest::qWait(1200);
    QCOMPARE(calls(), QStringList());
    QCOMPARE(events, QStringList());
    QVERIFY(monitor->findChildren<QProcess *>().isEmpty());
}

void TestOVMonitor::destructionEndsARunningProbe()
{
    installStandIn();
    setStates("alive", "alive", "alive");
    monitor->startMonitor();
    setState(QStringLiteral("qconnman-applet"), "hang");
    QVERIFY(waitForPasses(1)); // that pass ends with the applet's probe still running
    monitor->stopMonitor();    // as at shutdown
    const QList<QProcess *> probes = monitor->findChildren<QProcess *>();
    QCOMPARE(probes.size(), 1);
    QCOMPARE(probes.first()->state(), QProcess::Running);
    events.clear();
    MessageCapture::warnings().clear();

    QElapsedTimer destroying;
    destroying.start();
    monitor.reset();
    QVERIFY2(destroying.elapsed() < 10000, "waited for the hung probe");
    // the killed probe is no news about the applet, and Qt had nothing to complain about
    QCOMPARE(events, QStringList());
    QCOMPARE(MessageCapture::warnings().filter(QStringLiteral("Destroyed while process")),
             QStringList());
}

QTEST_GUILESS_MAIN(TestOVMonitor)
#include "tst_ovmonitor.moc"
