#include "scriptprocess.h"

#include "childprocess.h"
#include "outputdrain.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

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
    closeLifeline();
}

void ScriptProcess::onStateChanged(QProcess::ProcessState newState)
{
    switch (newState) {
    case Starting: // before the fork: the child takes the read end along to its drain
        closeLifeline();
        if (pipe2(lifeline, O_CLOEXEC) != 0)
            lifeline[0] = lifeline[1] = -1;
        break;
    case Running: // the drain has its copy
        if (lifeline[0] >= 0)
            ::close(lifeline[0]);
        lifeline[0] = -1;
        break;
    case NotRunning: // Qt has read the last output and closed its ends: the drain takes over
        closeLifeline();
        break;
    }
}

void ScriptProcess::closeLifeline()
{
    for (int &end : lifeline) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void ScriptProcess::setupChildProcess()
{
    // between fork and exec: async-signal-safe calls only
    restoreInheritedSignals();
    startOutputDrain(drainProgram.constData(), lifeline[0]);
}
