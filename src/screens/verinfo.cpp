#include "verinfo.h"
#include "ui_verinfo.h"

#include "screenchoice.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
const char Revision[] = "0.1";
const int CloseAfterMs = 5000;
} // namespace

VerInfo::VerInfo(QWidget *parent) : QWidget(parent), ui(new Ui::VerInfo)
{
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::WindowModal);
    ui->setupUi(this);

    closeTimer = new QTimer(this);
    closeTimer->setSingleShot(true);
    connect(closeTimer, &QTimer::timeout, this, &VerInfo::onTimeout);
}

VerInfo::~VerInfo()
{
    delete ui;
}

void VerInfo::showInfo(int w, int h)
{
    ui->labelInfo->setText(tr("Ravelin\nRevision:%1").arg(QLatin1String(Revision)));
    resize(ToolWindowWidth, ToolWindowHeight);
    move(centredOrigin(w, h));
    show();
    closeTimer->setInterval(CloseAfterMs);
    closeTimer->start();
}

void VerInfo::hideInfo()
{
    // leaving the screen ends the tool; the window itself stays as it is
    QCoreApplication::quit();
}

void VerInfo::on_btnBG_clicked()
{
    hideInfo();
}

void VerInfo::onTimeout()
{
    hideInfo();
}
