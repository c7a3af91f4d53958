// GIO's "signals" member clashes with Qt's keyword macro: umockdev comes before any Qt header
#include <umockdev.h>

#include "stdoutcapture.h"
#include "umonitor.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

UMockdevTestbed *testbed = nullptr;

// a device added to the testbed, removed again with the fixture
struct MockDevice
{
    QString syspath;
    QString node;
};

MockDevice addBlockDevice(const char *name, const char *devtype, const QString &parent = {})
{
    const QByteArray parentPath = parent.toLocal8Bit();
    gchar *syspath = umockdev_testbed_add_device(
        testbed, "block", name, parent.isEmpty() ? nullptr : parentPath.constData(),
        // attributes
        "size", "2048", nullptr,
        // properties
        "DEVNAME", name, "DEVTYPE", devtype, nullptr);
    MockDevice device{QString::fromLocal8Bit(syspath),
                      QStringLiteral("/dev/") + QString::fromLatin1(name)};
    g_free(syspath);
    return device;
}

void uevent(const MockDevice &device, const char *action)
{
    umockdev_testbed_uevent(testbed, device.syspath.toLocal8Bit().constData(), action);
}

// the dump the monitor prints for one received device
QString dump(const MockDevice &device, const QString &devtype, const QString &action)
{
    return QStringLiteral("\nselect() says there should be data\nGot Device\n   Node: %1\n"
                          "   Subsystem: block\n   Devtype: %2\n   Devpath: %3\n"
                          "   Syspath: %4\n   Action: %5\n")
        .arg(device.node, devtype, device.syspath.mid(int(qstrlen("/sys"))), device.syspath,
             action);
}

} // namespace

// Lives on the main thread, so the monitor's reports reach it queued.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList reports;
    QList<QThread *> threads;

public slots:
    void onUsbStick(bool on, const QString &name)
    {
        reports.append((on ? QStringLiteral("on ") : QStringLiteral("off ")) + name);
        threads.append(QThread::currentThread());
    }
};

class TestUMonitor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void partitionAddChangeAndRemove();
    void twoPartitionsArriveOneCycleApart();
    void diskWithoutPartitionsIsNeverReported();
    void missingFieldsArePrintedAsPlaceholders();
    void unreadableEventIsSkipped();
    void stickPresentBeforeStartIsReportedOnlyOnRemoval();
    void stopEndsTheThreadAndTheReports();
    void stopWithoutStartIsHarmless();
    void destroyingARunningMonitorIsSafe();

private:
    bool startAndWaitUntilBound();
    bool settle(const MockDevice &device, const QString &devtype, const QString &action);
    MockDevice addDevice(const char *name, const char *devtype, const QString &parent = {});

    MockDevice probeDevice;
    std::unique_ptr<StdoutCapture> capture;
    std::unique_ptr<UMonitor> monitor;
    std::unique_ptr<Receiver> receiver;
    QList<MockDevice> added;
    std::mutex emissionMutex;    // not QMutex: ThreadSanitizer cannot see Qt 5's futex locks
    QList<qint64> emissionTimes; // ms on the monitor thread, at the moment of the emission
    QElapsedTimer clock;
};

void TestUMonitor::initTestCase()
{
    QVERIFY2(umockdev_in_mock_environment(),
             "needs LD_PRELOAD=libumockdev-preload.so.0, or udev would be the host's");
    // a whole disk whose "change" events show when the monitor's socket is bound
    probeDevice = addBlockDevice("sr0", "disk");
    clock.start();
}

void TestUMonitor::init()
{
    capture.reset(new StdoutCapture);
    QVERIFY(capture->isValid());
    monitor.reset(new UMonitor);
    receiver.reset(new Receiver);
    connect(monitor.get(), &UMonitor::usbStick, receiver.get(), &Receiver::onUsbStick);
    connect(
        monitor.get(), &UMonitor::usbStick, monitor.get(),
        [this] {
            const std::lock_guard<std::mutex> lock(emissionMutex);
            emissionTimes.append(clock.elapsed());
        },
        Qt::DirectConnection);
    emissionTimes.clear();
}

void TestUMonitor::cleanup()
{
    monitor->stopMonitor();
    QVERIFY(monitor->isFinished() || !monitor->isRunning());
    monitor.reset();
    receiver.reset();
    // no monitor listens any more: removing sends nothing anyone could read
    for (const MockDevice &device : qAsConst(added))
        umockdev_testbed_remove_device(testbed, device.syspath.toLocal8Bit().constData());
    added.clear();
    capture.reset();
}

MockDevice TestUMonitor::addDevice(const char *name, const char *devtype, const QString &parent)
{
    const MockDevice device = addBlockDevice(name, devtype, parent);
    added.prepend(device); // partitions go before their disk
    return device;
}

// Events sent before the monitor's socket is bound are lost: send a harmless "change" until
// one shows up, each given time to come through so that the monitor's queue stays short.
bool TestUMonitor::startAndWaitUntilBound()
{
    monitor->startMonitor();
    QTest::qWait(50); // usually bound by now
    const QString seen = QStringLiteral("   Syspath: ") + probeDevice.syspath;
    for (int attempt = 0; attempt < 20; ++attempt) {
        uevent(probeDevice, "change");
        QElapsedTimer waiting;
        waiting.start();
        while (waiting.elapsed() < 600) {
            if (capture->text().contains(seen))
                return true;
            QTest::qWait(20);
        }
    }
    qWarning("the monitor never received an event");
    return false;
}

// Waits for the dump of an event; the monitor flushes a cycle after it emitted, so by then
// a report of that event, or of any before it, is on its way to the receiver.
bool TestUMonitor::settle(const MockDevice &device, const QString &devtype, const QString &action)
{
    const QString expected = dump(device, devtype, action);
    QElapsedTimer waiting;
    waiting.start();
    while (!capture->text().contains(expected) && waiting.elapsed() < 5000)
        QTest::qWait(20);
    QTest::qWait(50);
    return capture->text().contains(expected);
}

void TestUMonitor::partitionAddChangeAndRemove()
{
    QVERIFY(startAndWaitUntilBound());
    const MockDevice disk = addDevice("sda", "disk");
    const MockDevice partition = addDevice("sda1", "partition", disk.syspath);

    QVERIFY(settle(partition, "partition", "add"));
    QCOMPARE(receiver->reports, QStringList{"on /dev/sda1"});
    // the whole disk came first: printed, never reported
    const QString text = capture->text();
    QVERIFY(text.contains(dump(disk, "disk", "add")));
    QVERIFY(text.indexOf(dump(disk, "disk", "add")) <
            text.indexOf(dump(partition, "partition", "add")));
    // delivered queued, to the receiver's own thread
    QCOMPARE(receiver->threads, QList<QThread *>{QThread::currentThread()});

    uevent(partition, "change");
    QVERIFY(settle(partition, "partition", "change"));
    QCOMPARE(receiver->reports, QStringList{"on /dev/sda1"});

    uevent(partition, "remove");
    uevent(disk, "remove");
    QVERIFY(settle(disk, "disk", "remove"));
    QCOMPARE(receiver->reports, (QStringList{"on /dev/sda1", "off /dev/sda1"}));
    QVERIFY(capture->text().contains(dump(partition, "partition", "remove")));
}

void TestUMonitor::twoPartitionsArriveOneCycleApart()
{
    QVERIFY(startAndWaitUntilBound());
    const MockDevice disk = addDevice("sdb", "disk");
    const MockDevice first = addDevice("sdb1", "partition", disk.syspath);
    const MockDevice second = addDevice("sdb2", "partition", disk.syspath);

    QVERIFY(settle(second, "partition", "add"));
    const QString text = capture->text();
    QVERIFY(text.indexOf(dump(disk, "disk", "add")) <
            text.indexOf(dump(first, "partition", "add")));
    QVERIFY(text.indexOf(dump(first, "partition", "add")) <
            text.indexOf(dump(second, "partition", "add")));
    QCOMPARE(receiver->reports, (QStringList{"on /dev/sdb1", "on /dev/sdb2"}));
    const std::lock_guard<std::mutex> lock(emissionMutex);
    QCOMPARE(emissionTimes.size(), 2);
    // queued in the socket together, taken one per cycle
    const qint64 apart = emissionTimes.at(1) - emissionTimes.at(0);
    QVERIFY2(apart >= 240, qPrintable(QStringLiteral("%1 ms apart").arg(apart)));
}

void TestUMonitor::diskWithoutPartitionsIsNeverReported()
{
    QVERIFY(startAndWaitUntilBound());
    const MockDevice disk = addDevice("sdd", "disk");
    QVERIFY(settle(disk, "disk", "add"));
    uevent(disk, "change");
    uevent(disk, "remove");
    QVERIFY(settle(disk, "disk", "remove"));
    QVERIFY(capture->text().contains(dump(disk, "disk", "change")));
    QCOMPARE(receiver->reports, QStringList());
}

void TestUMonitor::missingFieldsArePrintedAsPlaceholders()
{
    QVERIFY(startAndWaitUntilBound());
    // neither a device node nor a device type
    gchar *syspath =
        umockdev_testbed_add_device(testbed, "block", "sdh", nullptr, nullptr, nullptr);
    const MockDevice bare{QString::fromLocal8Bit(syspath), QStringLiteral("(none)")};
    g_free(syspath);
    added.prepend(bare);

    QVERIFY(settle(bare, "(none)", "add"));
    QVERIFY(!capture->text().contains(QLatin1String("(null)")));
    QCOMPARE(receiver->reports, QStringList());
}

// Something that is not a device manager's message, in the monitor's socket: select() sees
// data, libudev returns no device, the loop goes on.
void TestUMonitor::unreadableEventIsSkipped()
{
    QVERIFY(startAndWaitUntilBound());
    gchar *rootDir = umockdev_testbed_get_root_dir(testbed);
    const QDir root(QString::fromLocal8Bit(rootDir));
    g_free(rootDir);
    const QStringList sockets = root.entryList({QStringLiteral("event*")}, QDir::System);
    QCOMPARE(sockets.size(), 1);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(root.filePath(sockets.first()));
    qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    QVERIFY(fd >= 0);
    const char garbage[] = "not a device";
    const ssize_t sent = sendto(fd, garbage, sizeof(garbage), 0,
                                reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    close(fd);
    QCOMPARE(sent, static_cast<ssize_t>(sizeof(garbage)));

    const QString failure = QStringLiteral("\nselect() says there should be data\n"
                                           "No Device from receive_device(). An error occured.\n");
    QTRY_VERIFY(capture->text().contains(failure));

    const MockDevice disk = addDevice("sdi", "disk");
    const MockDevice partition = addDevice("sdi1", "partition", disk.syspath);
    QVERIFY(settle(partition, "partition", "add"));
    QCOMPARE(receiver->reports, QStringList{"on /dev/sdi1"});
    QCOMPARE(capture->text().count(failure), 1);
}

void TestUMonitor::stickPresentBeforeStartIsReportedOnlyOnRemoval()
{
    const MockDevice disk = addDevice("sde", "disk");
    const MockDevice partition = addDevice("sde1", "partition", disk.syspath);
    QVERIFY(startAndWaitUntilBound());
    // bound and idle for a cycle: anything listed at start would have been reported by now
    QTest::qWait(300);
    QCOMPARE(receiver->reports, QStringList());

    uevent(partition, "remove");
    QVERIFY(settle(partition, "partition", "remove"));
    QCOMPARE(receiver->reports, QStringList{"off /dev/sde1"});
    // nothing of the stick was printed before its removal
    QCOMPARE(capture->text().count(partition.syspath), 1);
}

void TestUMonitor::stopEndsTheThreadAndTheReports()
{
    QVERIFY(startAndWaitUntilBound());
    QVERIFY(monitor->isRunning());
    monitor->stopMonitor();
    QVERIFY2(monitor->isFinished(), "thread still running after stopMonitor returned");

    const MockDevice disk = addDevice("sdf", "disk");
    addDevice("sdf1", "partition", disk.syspath);
    QTest::qWait(700); // more than two cycles of a monitor that would still be listening
    QCOMPARE(receiver->reports, QStringList());
    QVERIFY(!capture->text().contains(disk.syspath));
}

void TestUMonitor::stopWithoutStartIsHarmless()
{
    QElapsedTimer stopping;
    stopping.start();
    monitor->stopMonitor();
    monitor->stopMonitor();
    QVERIFY(stopping.elapsed() < 500); // nothing to wait for, not twice 800 ms
    QVERIFY(!monitor->isRunning());
    QCOMPARE(capture->text(), QString());
}

void TestUMonitor::destroyingARunningMonitorIsSafe()
{
    std::atomic<bool> finished{false};
    connect(
        monitor.get(), &QThread::finished, monitor.get(), [&finished] { finished = true; },
        Qt::DirectConnection);
    QVERIFY(startAndWaitUntilBound());
    // Qt aborts the process when a running QThread is destroyed: the monitor must end its
    // thread and wait for it
    monitor.reset();
    QVERIFY(finished);
    monitor.reset(new UMonitor); // for cleanup()
}

int main(int argc, char **argv)
{
    // the testbed sets its environment with setenv(): before any other thread exists
    testbed = umockdev_testbed_new();
    QCoreApplication app(argc, argv);
    TestUMonitor test;
    const int status = QTest::qExec(&test, argc, argv);
    g_object_unref(testbed);
    return status;
}

#include "tst_umonitor_udev.moc"
