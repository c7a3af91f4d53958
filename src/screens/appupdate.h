#ifndef APPUPDATE_H
#define APPUPDATE_H

#include <QModelIndex>
#include <QString>
#include <QWidget>

class QFileSystemModel;
class QProcess;
namespace Ui {
class AppUpdate;
}

// The application update screen: lists the "*.tgz" packages of one package directory and
// starts that directory's installer on the package the operator picks. Every way out of it
// ends the tool.
class AppUpdate : public QWidget
{
    Q_OBJECT
public:
    explicit AppUpdate(QWidget *parent = nullptr);
    ~AppUpdate() override;

    void showDirs(const QString &dir, int width, int height);

public slots:
    void onCheckPackage(const QString &dir);

private slots:
    void on_btnUpgrade_clicked();
    void on_btnLater_clicked();
    void on_btnIgnore_clicked();
    void onFinished(int code);
    void onPackageSelect(QModelIndex index);
    void onTimeout();

private:
    void showUpdates(int width, int height);
    void hideUpdates();
    bool hasPackage(const QString &dir);

    Ui::AppUpdate *ui;
    QString packageDir;
    QString packageName;
    QString packagePath;
    QFileSystemModel *fileModel;
    QProcess *chmodProcess;
    int screenWidth;
    int screenHeight;
};

#endif // APPUPDATE_H
