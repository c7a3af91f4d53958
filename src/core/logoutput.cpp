#include "logoutput.h"

#include <cstdio>
#include <cstdlib>
#include <syslog.h>

namespace {

const char *orUnknown(const char *text)
{
    // release builds of Qt fill in neither file nor function
    return text ? text : "unknown";
}

const char *stderrPrefix(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return "Warning";
    case QtCriticalMsg:
        return "Critical";
    case QtFatalMsg:
        return "Fatal";
    default:
        return nullptr;
    }
}

} // namespace

void Debug_OpenLog()
{
    openlog("USBStick", LOG_NDELAY, LOG_USER);
    qInstallMessageHandler(myMessageOutput);
}

void Debug_CloseLog()
{
    closelog();
}

void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const QByteArray localText = msg.toLocal8Bit();
    const char *text = localText.constData();
    if (type == QtDebugMsg) {
        // the text is an argument, never the format: a '%' in a message stays as it is
        syslog(LOG_DEBUG, "[USBStick] %s\n", text);
        return;
    }
    const char *prefix = stderrPrefix(type);
    if (!prefix)
        return; // info and anything newer go nowhere
    fprintf(stderr, "%s: %s (%s:%u, %s)\n", prefix, text, orUnknown(context.file),
            static_cast<unsigned>(context.line), orUnknown(context.function));
    if (type == QtFatalMsg)
        abort();
}
