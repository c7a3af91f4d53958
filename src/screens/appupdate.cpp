#include "appupdate.h"
#include "ui_appupdate.h"

#include "childprocess.h"
#include "devicepaths.h"
#include "screenchoice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QProcess>

namespace {
const char ChmodCommand[] = "chmod a+x %1";
const int ChmodWaitMs = 1000;

// until the first show the screen centres itself in the device's largest display
const int UnshownScreenWidth = 1280;
const int UnshownScreenHeight = 800;

QString inDir(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}
} // namespace

AppUpdate::AppUpdate(QWidget *parent)
    : QWidget(parent), ui(new Ui::AppUpdate), screenWidth(UnshownScreenWidth),
      screenHeight(UnshownScreenHeight)
{
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::WindowModal);
    ui->setupUi(this);

    fileModel = new QFileSystemModel(this);
    fileModel->setNameFilterDisables(false); // hide what doesn't match rather than grey it out
    fileModel->setNameFilters({QString::fromLatin1(DevicePaths::PackagePattern)});
    fileModel->setFilter(QDir::Files);
    ui->listView->setModel(fileModel);
    // a click chooses a package; moving the current row with keys does not
    connect(ui->listView, &QListView::clicked, this, &AppUpdate::onPackageSelect);

    chmodProcess = new QProcess(this);
    connect(chmodProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &AppUpdate::onFinished);
}

AppUpdate::~AppUpdate()
{
    delete ui;
}

void AppUpdate::showDirs(const QString &dir, int width, int height)
{
    packageDir = dir;
    showUpdates(width, height);
}

void AppUpdate::onCheckPackage(const QString &dir)
{
    if (!QFile::exists(inDir(dir, QString::fromLatin1(DevicePaths::InstallerName)))) {
        qDebug() << "AppUpdate::onCheckPackage iup.sh tool not exist";
        QCoreApplication::quit();
        return;
    }
    if (!hasPackage(dir)) {
        qDebug() << "AppUpdate::onCheckPackage no application package";
        QCoreApplication::quit();
        return;
    }
    // the newest package is now the choice, though the label may still show an older click
    packageDir = dir;
    showUpdates(screenWidth, screenHeight);
}

void AppUpdate::showUpdates(int width, int height)
{
    // also undoes the disabling of an earlier Upgrade
    ui->btnIgnore->setEnabled(true);
    ui->btnLater->setEnabled(true);
    ui->btnUpgrade->setEnabled(true);

    fileModel->setRootPath(packageDir);
    ui->listView->setRootIndex(fileModel->index(packageDir, 0));

    screenWidth = width;
    screenHeight = height;
    resize(ToolWindowWidth, ToolWindowHeight);
    move(centredOrigin(width, height));
    show();
}

void AppUpdate::hideUpdates()
{
    // leaving the screen ends the tool; the window itself stays as it is
    QCoreApplication::quit();
}

bool AppUpdate::hasPackage(const QString &dir)
{
    // newest first; Qt orders equal times by name in plain character order
    const QStringList packages = QDir(dir).entryList(
        {QString::fromLatin1(DevicePaths::PackagePattern)}, QDir::Files, QDir::Time);
    if (packages.isEmpty())
        return false;
    packageName = packages.first();
    return true;
}

void AppUpdate::on_btnUpgrade_clicked()
{
    packagePath = inDir(packageDir, packageName);
    const QString installer = inDir(packageDir, QString::fromLatin1(DevicePaths::InstallerName));

    // with no package clicked the path is the directory itself, which counts as existing
    if (!QFile::exists(packagePath)) {
        hideUpdates();
        return;
    }

    ui->btnUpgrade->setEnabled(false);
    ui->btnIgnore->setEnabled(false);
    ui->btnLater->setEnabled(false);

    // the installer may arrive by FTP without its execute bit
    chmodProcess->start(QString::fromLatin1(DevicePaths::Shell),
                        {QStringLiteral("-c"), QString::fromLatin1(ChmodCommand).arg(installer)},
                        QIODevice::ReadWrite);
    chmodProcess->waitForFinished(ChmodWaitMs);

    // the installer is on its own from here: it may well replace or restart this tool
    startDetachedProgram(installer, {packagePath});
}

void AppUpdate::on_btnLater_clicked()
{
    hideUpdates();
}

void AppUpdate::on_btnIgnore_clicked()
{
    hideUpdates();
}

void AppUpdate::onFinished(int code)
{
    qDebug() << "AppUpdate::onFinished code=" << code;
}

void AppUpdate::onPackageSelect(QModelIndex index)
{
    packageName = index.data(Qt::DisplayRole).toString();
    ui->labelPackInfo->setText(packageName);
    ui->btnUpgrade->setEnabled(true);
}

void AppUpdate::onTimeout()
{
    showUpdates(screenWidth, screenHeight);
}
