#ifndef SCRIPTPROCESS_H
#define SCRIPTPROCESS_H

#include <QProcess>

// The child process of a device script that may outlive the tool, such as a save to a USB
// stick still copying when the technician leaves the report. While the tool runs it reads
// the script's output as any QProcess does; once the tool has ended, nobody reads those
// pipes any more, and the script must not die of writing to them.
class ScriptProcess : public QProcess
{
    Q_OBJECT
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};

#endif // SCRIPTPROCESS_H
