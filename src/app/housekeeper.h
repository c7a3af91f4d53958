#ifndef HOUSEKEEPER_H
#define HOUSEKEEPER_H

#include <QObject>
#include <QString>
#include <QStringList>

class AppUpdate;
class PanicReport;
class VerInfo;
class UMonitor;
class OVMonitor;
class QFileSystemWatcher;

// The tool's one controller: creates the monitors, the directory watcher and the three
// screens, shows the screen of the mode word and routes every event to the screens.
class HouseKeeper : public QObject
{
    Q_OBJECT
public:
    explicit HouseKeeper(QObject *parent = nullptr);

    void startTools(const QString &mode);
    void stopTools();

public slots:
    void onUSBStick(bool on, const QString &mountPoint);
    void onAppLive(int appId);
    void onAppDead(int appId);
    void onFTPDirChanged(const QString &dir);

private:
    void followQelMedia();

    AppUpdate *appUpdate = nullptr;
    PanicReport *panicReport = nullptr;
    VerInfo *verInfo = nullptr;
    UMonitor *usbMonitor = nullptr;
    OVMonitor *appMonitor = nullptr;
    QFileSystemWatcher *dirWatcher = nullptr;
    QStringList mediaDirs;
    bool maybeQelScale = false;
};

#endif // HOUSEKEEPER_H
