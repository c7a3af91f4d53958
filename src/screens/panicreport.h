#ifndef PANICREPORT_H
#define PANICREPORT_H

#include <QString>
#include <QWidget>

// The panic report screen of mode "apr".
class PanicReport : public QWidget
{
    Q_OBJECT
public:
    explicit PanicReport(QWidget *parent = nullptr);

    void showAPR(int width, int height);

public slots:
    void onAppLive(int appId);
    void onAppDead(int appId);
    void onCoreDump();
    void onUSBInserted(bool on, const QString &mountPoint);
};

#endif // PANICREPORT_H
