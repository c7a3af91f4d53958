#include "panicreport.h"
#include "ui_panicreport.h"

#include "childprocess.h"
#include "devicepaths.h"
#include "ovmonitor.h"
#include "screenchoice.h"
#include "scriptprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QTextCodec>

#include <cstdio>
#include <unistd.h>

namespace {

const int TickMs = 1000;
const int ProgressStep = 2;
const int ProgressCeiling = 90; // the script's end alone brings the bar to 100
const int ProgressDone = 100;

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
}

// The device scripts take no arguments and are started directly, never through a shell.
void startScriptDetached(const char *path)
{
    startDetachedProgram(QString::fromLatin1(path), QStringList());
}

} // namespace

PanicReport::PanicReport(QWidget *parent)
    : QWidget(parent), ui(new Ui::PanicReport), repeatTimer(this)
{
    repeatTimer.setObjectName(QStringLiteral("repeatTimer"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::WindowModal);
    ui->setupUi(this);

    ui->progressBar->setMinimum(0);
    ui->progressBar->setMaximum(ProgressDone);
    ui->progressBar->setValue(0);

    repeatTimer.setInterval(TickMs);
    repeatTimer.setSingleShot(false);

    // the save script and the reboot command must be able to outlive the tool
    process = new ScriptProcess(this);

    connect(&repeatTimer, &QTimer::timeout, this, &PanicReport::onRepeatTimer);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &PanicReport::onProcFinished);
    connect(process, &QProcess::readyReadStandardOutput, this, &PanicReport::onProcStdOut);
    connect(process, &QProcess::readyReadStandardError, this, &PanicReport::onProcStdError);

    for (bool &alive : appAlive)
        alive = true;
}

PanicReport::~PanicReport()
{
    // The tool never deletes its screens (a script they started must outlive the tool); should
    // one go all the same, its script's end must not reach it half-destroyed.
    process->disconnect(this);
    repeatTimer.stop();
    delete ui;
}

void PanicReport::showAPR(int width, int height)
{
    printf("PanicReport::showAPR %d %d\n", width, height);
    fflush(stdout); // trace lines are watched live; a pipe would hold them back

    // a snapshot: later entries show up only with the next showAPR
    reportText.clear();
    for (const QString &entry : qAsConst(appDeadLog))
        reportText += entry;
    reportText += QLatin1String("---------------------------------");
    for (const QString &entry : qAsConst(coreDumpLog))
        reportText += entry;

    screenWidth = width;
    screenHeight = height;
    resize(ToolWindowWidth, ToolWindowHeight);
    move(centredOrigin(width, height));

    show();
    ui->textBrowser->setText(reportText);

    repeatTimer.stop();
    repeatTimer.start();
    saveState = Idle;
}

void PanicReport::onTimeOut()
{
    showAPR(screenWidth, screenHeight);
}

void PanicReport::onAppDead(int appId)
{
    if (appId >= 0 && appId < AppCount)
        appAlive[appId] = false;
    appDeadLog.append(tr("App=%1 Die @ %2\n").arg(OVMonitor::appName(appId), timeStamp()));
}

void PanicReport::onCoreDump()
{
    coreDumpLog.append(tr("Coredump generated at%1\n").arg(timeStamp()));
}

void PanicReport::onAppLive(int appId)
{
    printf("PanicReport::onAppLive appId=%d\n", appId);
    fflush(stdout);
    if (appId >= 0 && appId < AppCount)
        appAlive[appId] = true;

    bool allAlive = true;
    for (bool alive : appAlive)
        allAlive = allAlive && alive;
    if (allAlive)
        hideAPR();
}

void PanicReport::hideAPR()
{
    printf("PanicReport::hideAPR\n");
    fflush(stdout);
    reportText.clear();
    repeatTimer.stop();
    // before the event loop runs this is lost, which the start-up probe pass relies on
    QCoreApplication::quit();
}

void PanicReport::onRepeatTimer()
{
    ui->labelTimeElapse->setText(timeStamp());

    if (saveState == Saving && progress < ProgressCeiling) {
        progress += ProgressStep;
        ui->progressBar->setValue(progress);
    }
}

void PanicReport::on_btnReboot_clicked()
{
    // refused while a save script still runs on the same process object
    process->start(QString::fromLatin1(DevicePaths::Shell),
                   {QStringLiteral("-c"), QStringLiteral("reboot")}, QIODevice::ReadWrite);
}

void PanicReport::on_btnRestartApp_clicked()
{
    qDebug() << "PanicReport::on_btnRestartApp_clicked()";
    startScriptDetached(DevicePaths::RestartAppScript);
    hideAPR();
}

void PanicReport::on_btnWait_clicked()
{
    qDebug() << "PanicReport::on_btnCapture_clicked()";
    startScriptDetached(DevicePaths::LogCaptureScript);
    hideAPR();
}

void PanicReport::on_btnIgnore_clicked()
{
    hideAPR();
}

void PanicReport::onUSBInserted(bool on, const QString &mountPoint)
{
    qDebug() << "PanicReport::onUSBInserted on=" << on << " mountPoint=" << mountPoint;

    if (!on) {
        // the script, if any, keeps running and still completes the save
        ui->textBrowser->append(tr("USB: ") + tr("OFF - ") + mountPoint);
        ui->labelCoreDump->setText(tr("Please plug USB stick to save logs"));
        ui->progressBar->setValue(0);
        return;
    }

    ui->textBrowser->append(tr("USB: ") + tr("ON - ") + mountPoint);
    usbPath = mountPoint;
    repeatTimer.start();
    // the save goes ahead even on a stick that looks empty or unreadable: the script knows best
    checkUSBStick();
    setupTombstone();
}

bool PanicReport::checkUSBStick()
{
    const QDir stick(usbPath);
    return stick.isReadable() && stick.count() != 0;
}

void PanicReport::setupTombstone()
{
    qDebug() << "PanicReport::setupTombstone usbPath=" << usbPath;
    progress = 0;
    ui->progressBar->setValue(0);
    ui->labelCoreDump->setText(tr("Saving... Don't Unplug the USB stick"));
    saveState = Saving;
    // a script still running from an earlier stick makes this start fail; its end completes
    process->start(QString::fromLatin1(DevicePaths::SaveLogScript), {usbPath},
                   QIODevice::ReadWrite);
}

void PanicReport::onProcStdOut()
{
    qDebug() << "PanicReport::onProcStdOut out=" << process->readAllStandardOutput();
}

void PanicReport::onProcStdError()
{
    const QByteArray bytes = process->readAllStandardError();
    const QTextCodec *codec = QTextCodec::codecForLocale();
    const QString text = codec ? codec->toUnicode(bytes) : QString::fromUtf8(bytes.constData());
    qDebug() << "PanicReport::onProcStdErr line=" << text;
    ui->textBrowser->append(text);
}

void PanicReport::onProcFinished(int state, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(state);
    Q_UNUSED(exitStatus);
    // any end of the script counts as a finished save; the reboot command's end while idle does not
    if (saveState != Saving)
        return;

    ::sync(); // the user pulls the stick as soon as the message shows
    QCoreApplication::processEvents();
    ui->labelCoreDump->setText(tr("Panic log saved successfully!\n"));
    ui->progressBar->setValue(ProgressDone);
    reportText.clear();
    appDeadLog.clear();
    coreDumpLog.clear();
    saveState = Idle;
}
