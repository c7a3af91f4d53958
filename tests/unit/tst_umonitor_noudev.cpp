#include "stdoutcapture.h"
#include "umonitor.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>

struct udev;

namespace {
std::atomic<int> contextRequests{0};
}

// Defined in the executable, so it wins over libudev's: the library context cannot be made.
extern "C" udev *udev_new(void)
{
    ++contextRequests;
    return nullptr;
}

class TestUMonitorNoUdev : public QObject
{
    Q_OBJECT
private slots:
    void threadEndsAfterOneMessage();
};

void TestUMonitorNoUdev::threadEndsAfterOneMessage()
{
    StdoutCapture capture;
    QVERIFY(capture.isValid());
    UMonitor monitor;
    QSignalSpy reports(&monitor, &UMonitor::usbStick);
    QVERIFY(reports.isValid());

    monitor.startMonitor();
    QVERIFY2(monitor.wait(5000), "the thread goes on without a udev context");
    QCOMPARE(contextRequests.load(), 1);
    QCOMPARE(capture.text(), QStringLiteral("Can't create udev\n"));

    // the rest of the program goes on: its event loop runs, stopping costs nothing
    bool timerFired = false;
    QTimer::singleShot(10, [&timerFired] { timerFired = true; });
    QTRY_VERIFY(timerFired);
    monitor.stopMonitor();
    QVERIFY(monitor.isFinished());
    QCOMPARE(reports.count(), 0);
    QCOMPARE(capture.text(), QStringLiteral("Can't create udev\n"));
}

QTEST_GUILESS_MAIN(TestUMonitorNoUdev)
#include "tst_umonitor_noudev.moc"
