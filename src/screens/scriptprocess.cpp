#include "scriptprocess.h"

#include "childprocess.h"
#include "outputdrain.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

// The read end of a drain's start report: an errno value when the drain could not be started,
// the end of the pipe alone when it runs. It comes when the drain's process has exec'd or given
// up, a moment after the script's start: waited for by the event loop, never by blocking it.
// The activated() signal differs between Qt 5.12 and 5.15; the event that carries it does not.
class StartReportReader : public QSocketNotifier
{
public:
    StartReportReader(int readEnd, std::function<void(int)> failed, QObject *parent)
        : QSocketNotifier(readEnd, QSocketNotifier::Read, parent), failed(std::move(failed))
    {
    }
    ~StartReportReader() override { ::close(static_cast<int>(socket())); }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        int error = 0;
        ssize_t got;
        while ((got = ::read(static_cast<int>(socket()), &error, sizeof error)) < 0 &&
               errno == EINTR) {
        }
        setEnabled(false);
        if (got == sizeof error)
            failed(error);
        deleteLater();
        return true;
    }

private:
    std::function<void(int)> failed;
};

} // namespace

// Why a drain process: once the tool has gone, the script's output needs a reader, and only a
// process can outlive the tool. Ignoring SIGPIPE in the script instead would reach every
// command it starts (a writer into "head" would never end), and a script under "set -e" would
// still stop at its first failed write. A relay between script and tool would sit in the path
// of every byte and could report the script's end before its last words.
ScriptProcess::ScriptProcess(QObject *parent)
    : QProcess(parent),
      drainProgram(QFile::encodeName(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                     QLatin1String(OutputDrain::Program)))
{
    connect(this, &QProcess::stateChanged, this, &ScriptProcess::onStateChanged);
}

ScriptProcess::~ScriptProcess()
{
    // QProcess kills a child that is still running when it goes; a script that may outlive
    // the tool must not die of the tool's objects being deleted. Not running as far as Qt is
    // concerned, it is left alone, and its drain takes over its output.
    if (state() != NotRunning)
        setProcessState(NotRunning);
    closePipes();
}

void ScriptProcess::onStateChanged(QProcess::ProcessState newState)
{
    switch (newState) {
    case Starting: // before the fork: the child takes the read end along to its drain
        closePipes();
        if (pipe2(lifeline, O_CLOEXEC) != 0 || pipe2(startReport, O_CLOEXEC) != 0) {
            drainNotStarted(errno);
            closePipes();
        }
        break;
    case Running: // the script has exec'd: its drain has its copies, or has given up
        if (lifeline[0] >= 0)
            ::close(lifeline[0]);
        lifeline[0] = -1;
        readStartReport();
        break;
    case NotRunning:
        // Qt has read what the script wrote and closes its read ends right after this signal:
        // the drain takes over. A script that never ran may have had its drain started.
        readStartReport();
        closePipes();
        break;
    }
}

void ScriptProcess::closePipes()
{
    for (int *pipe : {lifeline, startReport}) {
        for (int end = 0; end < 2; ++end) {
            if (pipe[end] >= 0)
                ::close(pipe[end]);
            pipe[end] = -1;
        }
    }
}

void ScriptProcess::readStartReport()
{
    if (startReport[0] < 0)
        return;
    // the last write end left is the drain's, or its process's while it starts
    ::close(startReport[1]);
    new StartReportReader(
        startReport[0], [this](int error) { drainNotStarted(error); }, this);
    startReport[0] = startReport[1] = -1;
}

void ScriptProcess::drainNotStarted(int error)
{
    qDebug() << "ScriptProcess::drainNotStarted drain=" << QFile::decodeName(drainProgram)
             << "not started:" << strerror(error)
             << "- a script still running when the tool ends dies at its next write";
}

void ScriptProcess::setupChildProcess()
{
    // between fork and exec: async-signal-safe calls only
    restoreInheritedSignals();
    startOutputDrain(drainProgram.constData(), lifeline[0], startReport[1]);
}
