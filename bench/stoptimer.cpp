// Times stopMonitor() of both monitors, started and stopped at random moments: the USB
// monitor's stop waits for its thread to finish the current 250 ms cycle, the liveness
// monitor's stop only kills its timer. Prints one JSON object per line:
//   {"monitor":"UMonitor","ms":123.4}
// Runs inside the sandbox (the liveness monitor starts "killall" probes).

#include "ovmonitor.h"
#include "umonitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// lets the event loop run for a while, as the tool does between start and stop
void runLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template<typename Monitor> void timeStops(const char *name, int rounds, int maxDelayMs)
{
    for (int i = 0; i < rounds; ++i) {
        Monitor monitor(nullptr);
        monitor.startMonitor();
        runLoopFor(100 + QRandomGenerator::global()->bounded(maxDelayMs));
        QElapsedTimer clock;
        clock.start();
        monitor.stopMonitor();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        printf("{\"monitor\":\"%s\",\"ms\":%.3f}\n", name, ms);
        fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qgetenv("TOVRIMAX_SANDBOX") != "1") {
        fprintf(stderr, "stoptimer: run me through tests/sandbox/sandbox-run\n");
        return 2;
    }
    const int rounds = argc > 1 ? atoi(argv[1]) : 40;
    timeStops<UMonitor>("UMonitor", rounds, 300);
    timeStops<OVMonitor>("OVMonitor", rounds, 300);
    return 0;
}
