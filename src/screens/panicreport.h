#ifndef PANICREPORT_H
#define PANICREPORT_H

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace Ui {
class PanicReport;
}

// The panic report screen of mode "apr": which application died when, when core dumps
// appeared, and the saving of the panic logs to a USB stick. Its end is the end of the tool.
class PanicReport : public QWidget
{
    Q_OBJECT
public:
    explicit PanicReport(QWidget *parent = nullptr);
    ~PanicReport() override;

    void hideAPR();
    bool checkUSBStick();
    void setupTombstone();

public slots:
    void onAppLive(int appId);
    void onAppDead(int appId);
    void onCoreDump();
    void onUSBInserted(bool on, const QString &mountPoint);
    void showAPR(int width, int height);

private slots:
    void on_btnReboot_clicked();
    void on_btnRestartApp_clicked();
    void on_btnWait_clicked();
    void on_btnIgnore_clicked();
    void onTimeOut();
    void onRepeatTimer();
    void onProcFinished(int state, QProcess::ExitStatus exitStatus);
    void onProcStdOut();
    void onProcStdError();

private:
    enum SaveState
    {
        Idle = 0,
        Saving = 1
    };
    static constexpr int AppCount = 3;

    QString reportText;
    QProcess *process = nullptr;
    Ui::PanicReport *ui = nullptr;
    int saveState = Idle;
    QString usbPath;
    int progress = 0;
    bool appAlive[AppCount] = {true, true, true};
    QStringList appDeadLog;
    QStringList coreDumpLog;
    int screenWidth = 1280;
    int screenHeight = 800;
    QTimer repeatTimer;
};

#endif // PANICREPORT_H
