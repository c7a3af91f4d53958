#ifndef LOGOUTPUT_H
#define LOGOUTPUT_H

#include <QString>
#include <QtGlobal>

// Opens the system log under the ident "USBStick" and installs myMessageOutput.
void Debug_OpenLog();
// Closes the system log; the handler stays installed.
void Debug_CloseLog();
// The process-wide message handler: debug lines to syslog, warnings and worse to stderr,
// fatal ones abort, info is dropped.
void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &msg);

#endif // LOGOUTPUT_H
