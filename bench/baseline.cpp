// The floor the tool is measured against: a bare Qt Widgets program that shows one 640x480
// tool window where the tool shows its screens and quits once the window has been painted.
// It prints the same kind of trace lines as the tool, so bench/run times both alike.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

class ToolWindow : public QWidget
{
public:
    ToolWindow() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {}

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QWidget::paintEvent(event);
        if (painted)
            return;
        painted = true;
        puts("baseline painted");
        // leave the loop the way the tool's screens do, once the first frame is out
        QTimer::singleShot(0, [] {
            puts("baseline quit");
            QCoreApplication::quit();
        });
    }

private:
    bool painted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    setenv("DISPLAY", ":0.0", 1); // as the tool does
    QApplication app(argc, argv);

    ToolWindow window;
    window.setWindowModality(Qt::WindowModal);
    window.resize(640, 480);
    window.move(80, 60);
    window.show();
    puts("baseline window shown");

    // a platform that never paints must not keep the baseline up
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    app.exec();
    return 0;
}
