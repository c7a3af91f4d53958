#include "umonitor.h"

#include <libudev.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/select.h>

namespace {

struct UdevUnref
{
    void operator()(udev *context) const { udev_unref(context); }
};
struct MonitorUnref
{
    void operator()(udev_monitor *monitor) const { udev_monitor_unref(monitor); }
};
struct DeviceUnref
{
    void operator()(udev_device *device) const { udev_device_unref(device); }
};

using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using MonitorPtr = std::unique_ptr<udev_monitor, MonitorUnref>;
using DevicePtr = std::unique_ptr<udev_device, DeviceUnref>;

const unsigned long CycleMicroseconds = 250000;
const unsigned long StopWaitMilliseconds = 800;

// udev leaves fields out for some devices; printf must never see a null pointer
const char *orNone(const char *value)
{
    return value ? value : "(none)";
}

bool sameText(const char *value, const char *expected)
{
    return value && std::strcmp(value, expected) == 0;
}

// true when the descriptor has an event waiting; never blocks
bool eventPending(int fd)
{
    if (fd < 0 || fd >= FD_SETSIZE)
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval noWait{0, 0};
    return select(fd + 1, &readable, nullptr, nullptr, &noWait) > 0 && FD_ISSET(fd, &readable);
}

void printDevice(udev_device *device)
{
    printf("Got Device\n");
    printf("   Node: %s\n", orNone(udev_device_get_devnode(device)));
    printf("   Subsystem: %s\n", orNone(udev_device_get_subsystem(device)));
    printf("   Devtype: %s\n", orNone(udev_device_get_devtype(device)));
    printf("   Devpath: %s\n", orNone(udev_device_get_devpath(device)));
    printf("   Syspath: %s\n", orNone(udev_device_get_syspath(device)));
    printf("   Action: %s\n", orNone(udev_device_get_action(device)));
}

} // namespace

UMonitor::UMonitor(QObject *parent) : QThread(parent) {}

UMonitor::~UMonitor()
{
    // a QThread destroyed while running aborts the process; a stop that timed out must not
    // turn into that, and a cycle never blocks for long
    running = false;
    wait(ULONG_MAX);
}

void UMonitor::startMonitor()
{
    running = true;
    start(QThread::InheritPriority);
}

void UMonitor::stopMonitor()
{
    running = false;
    wait(StopWaitMilliseconds); // a thread that never started counts as ended
}

void UMonitor::run()
{
    const UdevPtr context(udev_new());
    if (!context) {
        printf("Can't create udev\n");
        fflush(stdout);
        return;
    }

    // "udev": events after the device manager has processed them, not the raw kernel ones
    const MonitorPtr monitor(udev_monitor_new_from_netlink(context.get(), "udev"));
    int fd = -1;
    if (monitor) {
        // whole disks pass as well; only partitions are reported below
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "block", nullptr);
        udev_monitor_enable_receiving(monitor.get());
        fd = udev_monitor_get_fd(monitor.get());
    }

    while (running) {
        if (eventPending(fd)) {
            printf("\nselect() says there should be data\n");
            // one device per cycle; the rest wait in the socket for the next ones
            const DevicePtr device(udev_monitor_receive_device(monitor.get()));
            if (!device) {
                printf("No Device from receive_device(). An error occured.\n");
            } else {
                printDevice(device.get());
                if (sameText(udev_device_get_subsystem(device.get()), "block") &&
                    sameText(udev_device_get_devtype(device.get()), "partition")) {
                    const char *action = udev_device_get_action(device.get());
                    const QString node =
                        QString::fromLocal8Bit(udev_device_get_devnode(device.get()));
                    if (sameText(action, "add"))
                        emit usbStick(true, node);
                    else if (sameText(action, "remove"))
                        emit usbStick(false, node);
                }
            }
        }
        QThread::usleep(CycleMicroseconds);
        fflush(stdout);
    }
}
