#include "panicreport.h"

PanicReport::PanicReport(QWidget *parent) : QWidget(parent) {}

void PanicReport::showAPR(int width, int height)
{
    Q_UNUSED(width);
    Q_UNUSED(height);
}

void PanicReport::onAppLive(int appId)
{
    Q_UNUSED(appId);
}

void PanicReport::onAppDead(int appId)
{
    Q_UNUSED(appId);
}

void PanicReport::onCoreDump() {}

void PanicReport::onUSBInserted(bool on, const QString &mountPoint)
{
    Q_UNUSED(on);
    Q_UNUSED(mountPoint);
}
