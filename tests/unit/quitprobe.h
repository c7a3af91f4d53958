#ifndef QUITPROBE_H
#define QUITPROBE_H

#include <QCoreApplication>
#include <QTimer>

#include <functional>

// True when `action`, run inside the application's event loop, asks that loop to finish
// (within `graceMs` after it returned).
// The application's own exec() is used because a quit request, once made, makes every nested
// event loop return at once until the next exec() of the application.
inline bool asksLoopToQuit(const std::function<void()> &action, int graceMs = 0)
{
    QTimer guard; // started after the action, so it fires only if the loop goes on
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, &guard, [&] {
        action();
        guard.start(graceMs);
    });
    return QCoreApplication::exec() == 0;
}

#endif // QUITPROBE_H
