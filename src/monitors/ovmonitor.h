#ifndef OVMONITOR_H
#define OVMONITOR_H

#include <QString>
#include <QThread>

// Watches whether the device's three applications are alive.
class OVMonitor : public QThread
{
    Q_OBJECT
public:
    explicit OVMonitor(QObject *parent = nullptr);

    static QString appName(int appId);

    void startMonitor();
    void stopMonitor();

signals:
    void appLive(int appId);
    void appDead(int appId);
};

#endif // OVMONITOR_H
