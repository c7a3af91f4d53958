#ifndef UMONITOR_H
#define UMONITOR_H

#include <QString>
#include <QThread>

// Reports USB partitions that are added or removed.
class UMonitor : public QThread
{
    Q_OBJECT
public:
    explicit UMonitor(QObject *parent = nullptr);

    void startMonitor();
    void stopMonitor();

signals:
    void usbStick(bool on, const QString &name);
};

#endif // UMONITOR_H
