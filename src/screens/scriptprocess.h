#ifndef SCRIPTPROCESS_H
#define SCRIPTPROCESS_H

#include <QByteArray>
#include <QProcess>

// The child process of a device script that may outlive the tool, such as a save to a USB
// stick still copying when the technician leaves the report, or the reboot command. While the
// tool runs it is an ordinary QProcess: the script's output is read as it comes, and the
// script starts with the signals the tool inherited. Beside each script runs its output drain
// (see outputdrain.h), which takes over the script's output once the tool no longer reads it,
// so that the script runs to its end whatever it writes. Deleting the object lets a running
// script go on instead of killing it. A drain that cannot be started is logged: the script
// runs all the same, but one still running when the tool ends dies at its next write.
class ScriptProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ScriptProcess(QObject *parent = nullptr);
    ~ScriptProcess() override;

protected:
    void setupChildProcess() override;

private:
    void onStateChanged(QProcess::ProcessState newState);
    void closePipes();
    void readStartReport();
    void drainNotStarted(int error);

    QByteArray drainProgram; // made here: between fork and exec nothing may allocate
    int lifeline[2] = {-1, -1};
    int startReport[2] = {-1, -1}; // see startOutputDrain()
};

#endif // SCRIPTPROCESS_H
