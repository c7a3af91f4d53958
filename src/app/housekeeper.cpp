#include "housekeeper.h"

#include "appupdate.h"
#include "devicepaths.h"
#include "medialisting.h"
#include "ovmonitor.h"
#include "panicreport.h"
#include "screenchoice.h"
#include "umonitor.h"
#include "verinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileSystemWatcher>
#include <QMetaObject>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// The screens are nobody's to delete. Without a parent widget they live until the process
// ends, so that a save script or the reboot command they started finishes its work after the
// tool has exited instead of being killed with it. LeakSanitizer is told so for exactly these
// objects; everything they own stays reachable from them.
template<typename Screen> Screen *liveUntilProcessEnd(Screen *screen)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(screen);
#endif
    return screen;
}

} // namespace

HouseKeeper::HouseKeeper(QObject *parent) : QObject(parent) {}

void HouseKeeper::startTools(const QString &mode)
{
    appMonitor = new OVMonitor(this);
    connect(appMonitor, &OVMonitor::appDead, this, &HouseKeeper::onAppDead);
    connect(appMonitor, &OVMonitor::appLive, this, &HouseKeeper::onAppLive);

    usbMonitor = new UMonitor(this);
    connect(usbMonitor, &UMonitor::usbStick, this, &HouseKeeper::onUSBStick);

    dirWatcher = new QFileSystemWatcher(this);
    connect(dirWatcher, &QFileSystemWatcher::directoryChanged, this, &HouseKeeper::onFTPDirChanged);

    // only directories that exist now are ever watched
    QStringList watched;
    for (const char *dir :
         {DevicePaths::FtpDir, DevicePaths::VarLogCoreDumpDir, DevicePaths::RootCoreDumpDir,
          DevicePaths::QzCoreDumpDir, DevicePaths::QelMediaDir}) {
        if (QFile::exists(QString::fromLatin1(dir)))
            watched.append(QString::fromLatin1(dir));
    }
    maybeQelScale = QFile::exists(QString::fromLatin1(DevicePaths::QelMediaDir));
    if (maybeQelScale)
        mediaDirs = listMediaDirs(QString::fromLatin1(DevicePaths::QelMediaDir));
    dirWatcher->addPaths(watched); // an empty list earns Qt's warning on stderr, as it should

    const DesktopScreen screen = chooseDesktopScreen();

    // children of the chosen screen widget, or of nobody (see liveUntilProcessEnd)
    appUpdate = liveUntilProcessEnd(new AppUpdate(screen.widget));
    panicReport = liveUntilProcessEnd(new PanicReport(screen.widget));
    verInfo = liveUntilProcessEnd(new VerInfo(screen.widget));

    if (mode == QLatin1String("up")) {
        appUpdate->showDirs(QString::fromLatin1(DevicePaths::PackageDir), screen.width,
                            screen.height);
    } else if (mode == QLatin1String("ver")) {
        verInfo->showInfo(screen.width, screen.height);
    } else if (mode == QLatin1String("apr")) {
        panicReport->showAPR(screen.width, screen.height);
    } else {
        // the event loop has not started, so a direct quit() would be lost: queue it
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
        return;
    }

    appMonitor->startMonitor(); // its first pass reports every application before returning
    usbMonitor->startMonitor();
    puts("Housekeeper start tool end");
}

void HouseKeeper::stopTools()
{
    if (appMonitor)
        appMonitor->stopMonitor();
    if (usbMonitor)
        usbMonitor->stopMonitor();
}

void HouseKeeper::onUSBStick(bool on, const QString &mountPoint)
{
    if (maybeQelScale) {
        // such a device mounts sticks below /media/qz; the directory watcher follows them
        qDebug() << "HouseKeeper::onUSBStick(Maybe Qel Scale) on=" << on << " point=" << mountPoint;
        return;
    }
    QString filePath = mountPoint;
    filePath.replace(QLatin1String(DevicePaths::DevPrefix),
                     QLatin1String(DevicePaths::MediaPrefix));
    qDebug() << "HouseKeeper::onUSBStick filePath=" << filePath << " on=" << on;
    panicReport->onUSBInserted(on, filePath);
}

void HouseKeeper::onAppLive(int appId)
{
    panicReport->onAppLive(appId);
}

void HouseKeeper::onAppDead(int appId)
{
    panicReport->onAppDead(appId);
}

void HouseKeeper::onFTPDirChanged(const QString &dir)
{
    if (dir == QLatin1String(DevicePaths::FtpDir)) {
        appUpdate->onCheckPackage(dir);
    } else if (dir == QLatin1String(DevicePaths::VarLogCoreDumpDir) ||
               dir == QLatin1String(DevicePaths::RootCoreDumpDir) ||
               dir == QLatin1String(DevicePaths::QzCoreDumpDir)) {
        panicReport->onCoreDump();
    } else if (dir == QLatin1String(DevicePaths::QelMediaDir)) {
        followQelMedia();
    }
}

void HouseKeeper::followQelMedia()
{
    const QString mediaDir = QString::fromLatin1(DevicePaths::QelMediaDir);
    const QStringList newDirs = listMediaDirs(mediaDir);
    qDebug() << "HouseKeeper: new paths=" << newDirs;
    qDebug() << "HouseKeeper: old paths=" << mediaDirs;

    const MediaChange change = compareMediaListings(mediaDirs, newDirs);
    switch (change.kind) {
    case MediaChange::Inserted:
        qDebug() << "HouseKeeper:: Qel usb inserted: " << change.name;
        panicReport->onUSBInserted(true, mediaDir + QLatin1Char('/') + change.name);
        break;
    case MediaChange::Removed:
        qDebug() << "HouseKeeper:: Qel usb removed: " << change.name;
        panicReport->onUSBInserted(false, mediaDir + QLatin1Char('/') + change.name);
        break;
    case MediaChange::NoChange:
        qDebug() << "HouseKeeper::Fatal Error, dirs no changes";
        break;
    }
    // a second listing: whatever changed meanwhile is absorbed without a report
    mediaDirs = listMediaDirs(mediaDir);
}
