#include "screenchoice.h"

#include <QApplication>
#include <QDesktopWidget>

ScreenChoice chooseScreen(const QVector<QRect> &screenGeometries)
{
    ScreenChoice choice;
    for (int i = 0; i < screenGeometries.size(); ++i) {
        const QRect &geometry = screenGeometries.at(i);
        if (geometry.isNull())
            continue;
        const int spanX = geometry.right() - geometry.left();
        const int spanY = geometry.bottom() - geometry.top();
        // right minus left is one less than the width: "<=" means strictly wider
        if (choice.width <= spanX) {
            choice.index = i;
            choice.width = spanX + 1;
            choice.height = spanY + 1;
        }
    }
    return choice;
}

DesktopScreen chooseDesktopScreen()
{
    DesktopScreen result;
    QDesktopWidget *desktop = QApplication::desktop();
    if (!desktop)
        return result;

    QVector<QRect> geometries;
    QVector<QWidget *> widgets;
    // the count is asked again on every pass, as screens may come and go
    for (int i = 0; i < desktop->numScreens(); ++i) {
        QWidget *screen = desktop->screen(i);
        widgets.append(screen);
        geometries.append(screen ? screen->geometry() : QRect());
    }
    const ScreenChoice choice = chooseScreen(geometries);
    if (choice.index >= 0)
        result.widget = widgets.at(choice.index);
    result.width = choice.width;
    result.height = choice.height;
    return result;
}
