#include "ovmonitor.h"

OVMonitor::OVMonitor(QObject *parent) : QThread(parent) {}

QString OVMonitor::appName(int appId)
{
    Q_UNUSED(appId);
    return QStringLiteral("Unknown Applet");
}

void OVMonitor::startMonitor() {}

void OVMonitor::stopMonitor() {}
