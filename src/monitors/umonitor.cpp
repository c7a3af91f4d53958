#include "umonitor.h"

UMonitor::UMonitor(QObject *parent) : QThread(parent) {}

void UMonitor::startMonitor() {}

void UMonitor::stopMonitor() {}
