#include "appearance.h"
#include "devicepaths.h"
#include "housekeeper.h"
#include "logoutput.h"

#include <QApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <syslog.h>
#include <unistd.h>

namespace {
const char Usage[] = "Usage: ./Tovrimax -d -c ver -l Chinese";
}

int main(int argc, char *argv[])
{
    // a crash of the tool must be able to leave a core file of any size
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_CORE, &unlimited);
    setenv("DISPLAY", DevicePaths::Display, 1);

    QApplication app(argc, argv); // takes Qt's own options out of argv before getopt runs
    QString modeWord = QStringLiteral("ver");
    QString languageWord = QStringLiteral("English");
    bool daemonFlag = false;

    Debug_OpenLog();

    int option;
    while ((option = getopt(argc, argv, "dc:l:h")) != -1) {
        switch (option) {
        case 'd':
            daemonFlag = true;
            break;
        case 'c':
            modeWord = QString::fromLocal8Bit(optarg);
            break;
        case 'l':
            languageWord = QString::fromLocal8Bit(optarg);
            break;
        default: // -h, an unknown option or a missing value
            puts(Usage);
            return 0;
        }
    }

    // -d does not detach; it only changes this one line
    syslog(LOG_DEBUG, "%s", daemonFlag ? "run as daemon" : "run foreground");

    Appearance appearance;
    appearance.apply(languageWord);

    HouseKeeper houseKeeper;
    houseKeeper.startTools(modeWord);

    app.exec(); // the exit status is always 0, whatever the loop returns

    houseKeeper.stopTools();
    Debug_CloseLog();
    return 0;
}
