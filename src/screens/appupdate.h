#ifndef APPUPDATE_H
#define APPUPDATE_H

#include <QString>
#include <QWidget>

// The application update screen of mode "up".
class AppUpdate : public QWidget
{
    Q_OBJECT
public:
    explicit AppUpdate(QWidget *parent = nullptr);

    void showDirs(const QString &dir, int width, int height);

public slots:
    void onCheckPackage(const QString &dir);
};

#endif // APPUPDATE_H
