#ifndef OVMONITOR_H
#define OVMONITOR_H

#include <QString>
#include <QThread>

class QProcess;
class QTimerEvent;

// Watches whether the device's three applications are alive, once a second, with "killall -0".
// Derives from QThread but never starts it: timer and probes run on the owner's (GUI) thread.
class OVMonitor : public QThread
{
    Q_OBJECT
public:
    explicit OVMonitor(QObject *parent = nullptr);
    ~OVMonitor() override;

    static QString appName(int appId);

    void startMonitor();
    void stopMonitor();

signals:
    void appLive(int appId);
    void appDead(int appId);

public slots:
    void onReadResult();
    void onStarted();
    void onFinished(int code);

protected:
    void timerEvent(QTimerEvent *event) override;
    void run() override;

private:
    static constexpr int AppCount = 3;

    void probePass();
    void probe(int appId);

    QProcess *probeProcess = nullptr;
    int timerId = -1;
    int currentApp = 0;
    bool startReported = false;
    bool alive[AppCount] = {false, false, false};
};

#endif // OVMONITOR_H
