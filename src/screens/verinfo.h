#ifndef VERINFO_H
#define VERINFO_H

#include <QWidget>

class QTimer;
namespace Ui {
class VerInfo;
}

// The version screen of mode "ver": product title and revision, gone after five seconds.
class VerInfo : public QWidget
{
    Q_OBJECT
public:
    explicit VerInfo(QWidget *parent = nullptr);
    ~VerInfo() override;

    void showInfo(int w, int h);
    void hideInfo();

private slots:
    void on_btnBG_clicked();
    void onTimeout();

private:
    Ui::VerInfo *ui;
    QTimer *closeTimer;
};

#endif // VERINFO_H
