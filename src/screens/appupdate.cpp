#include "appupdate.h"

AppUpdate::AppUpdate(QWidget *parent) : QWidget(parent) {}

void AppUpdate::showDirs(const QString &dir, int width, int height)
{
    Q_UNUSED(dir);
    Q_UNUSED(width);
    Q_UNUSED(height);
}

void AppUpdate::onCheckPackage(const QString &dir)
{
    Q_UNUSED(dir);
}
