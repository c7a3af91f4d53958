#ifndef UMONITOR_H
#define UMONITOR_H

#include <QString>
#include <QThread>

#include <atomic>

// Reports USB partitions that are added or removed. A thread of its own polls the device
// manager's block-device events; every libudev handle lives and dies on that thread.
class UMonitor : public QThread
{
    Q_OBJECT
public:
    explicit UMonitor(QObject *parent = nullptr);
    ~UMonitor() override;

    void startMonitor();
    void stopMonitor();

signals:
    void usbStick(bool on, const QString &name);

protected:
    void run() override;

private:
    // written by the owning thread, read by the monitor thread once per cycle
    std::atomic<bool> running{false};
};

#endif // UMONITOR_H
