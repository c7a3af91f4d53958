#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the tool's debug lines (the ones that would go to syslog) as the handler receives
// them; everything else goes on to QtTest's own handler, so QTest::ignoreMessage still works.
class MessageCapture
{
public:
    static void install() { previous() = qInstallMessageHandler(&MessageCapture::handle); }
    static void uninstall() { qInstallMessageHandler(previous()); }
    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    // warnings and worse, also passed on
    static QStringList &warnings()
    {
        static QStringList captured;
        return captured;
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg) {
            lines().append(text);
            return;
        }
        warnings().append(text);
        if (previous())
            previous()(type, context, text);
    }
};

#endif // MESSAGECAPTURE_H
