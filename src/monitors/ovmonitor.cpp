#include "ovmonitor.h"

#include "devicepaths.h"

#include <QProcess>
#include <QStringList>
#include <QTimerEvent>

namespace {
const int PassIntervalMilliseconds = 1000;
const int ProbeWaitMilliseconds = 1000;
} // namespace

OVMonitor::OVMonitor(QObject *parent) : QThread(parent) {}

OVMonitor::~OVMonitor()
{
    // a probe may still run at shutdown; end it here, quietly, rather than have the
    // QProcess destructor complain, and keep its exit from reaching a half-destroyed monitor
    if (probeProcess && probeProcess->state() != QProcess::NotRunning) {
        probeProcess->disconnect(this);
        probeProcess->kill();
        probeProcess->waitForFinished(ProbeWaitMilliseconds);
    }
}

QString OVMonitor::appName(int appId)
{
    switch (appId) {
    case 0:
        return QString::fromLatin1(DevicePaths::AppBrennhaven);
    case 1:
        return QString::fromLatin1(DevicePaths::AppMirelu);
    case 2:
        return QString::fromLatin1(DevicePaths::AppConnmanApplet);
    default:
        return QStringLiteral("Unknown Applet");
    }
}

void OVMonitor::startMonitor()
{
    probeProcess = new QProcess(this);
    connect(probeProcess, &QProcess::started, this, &OVMonitor::onStarted);
    connect(probeProcess, &QProcess::readyRead, this, &OVMonitor::onReadResult);
    // only the code is wanted: a probe killed by a signal has a non-zero one and counts as dead
    connect(probeProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &OVMonitor::onFinished);

    startReported = false;
    probePass();
    startReported = true;
    timerId = startTimer(PassIntervalMilliseconds, Qt::CoarseTimer);
}

void OVMonitor::stopMonitor()
{
    // a probe in progress is left to finish
    if (timerId != -1) {
        killTimer(timerId);
        timerId = -1;
    }
}

void OVMonitor::timerEvent(QTimerEvent *event)
{
    if (timerId == -1 || event->timerId() != timerId)
        return;
    probePass();
}

void OVMonitor::run()
{
    // never started: all the work happens on the owner's thread
}

void OVMonitor::onReadResult()
{
    // only the exit code matters; the output is never read
}

void OVMonitor::onStarted() {}

void OVMonitor::onFinished(int code)
{
    const int appId = currentApp;
    const bool live = code == 0;
    if (!startReported) {
        alive[appId] = live;
        if (live)
            emit appLive(appId);
        else
            emit appDead(appId);
        return;
    }
    // after the first pass only edges count, so a state is never reported twice in a row
    if (live == alive[appId])
        return;
    alive[appId] = live;
    if (live)
        emit appLive(appId);
    else
        emit appDead(appId);
}

void OVMonitor::probePass()
{
    for (int appId = 0; appId < AppCount; ++appId)
        probe(appId);
}

void OVMonitor::probe(int appId)
{
    currentApp = appId;
    const QStringList arguments{QStringLiteral("-0"), appName(appId)};
    // from the search path; while an earlier probe is still busy this start fails, and that
    // probe's late exit code is then taken for this application
    probeProcess->start(QString::fromLatin1(DevicePaths::ProbeProgram), arguments,
                        QIODevice::ReadWrite);
    probeProcess->waitForFinished(ProbeWaitMilliseconds);
}
