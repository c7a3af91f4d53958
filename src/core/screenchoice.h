#ifndef SCREENCHOICE_H
#define SCREENCHOICE_H

#include <QPoint>
#include <QRect>
#include <QVector>

class QWidget;

// Every screen of the tool is a fixed window of this size.
inline constexpr int ToolWindowWidth = 640;
inline constexpr int ToolWindowHeight = 480;

struct ScreenChoice
{
    int index = -1; // chosen screen, -1 for none (the screens then get no parent widget)
    int width = 800;
    int height = 600;
};

// Picks the widest screen, but only one strictly wider than 800 pixels; the first of equally
// wide ones wins and heights play no part. A null rect stands for a screen without a widget.
ScreenChoice chooseScreen(const QVector<QRect> &screenGeometries);

// Top-left corner of a tool window centred in a width x height area; the halves truncate
// toward zero, so an area narrower than the window puts it partly off the desktop.
inline QPoint centredOrigin(int width, int height)
{
    return QPoint((width - ToolWindowWidth) / 2, (height - ToolWindowHeight) / 2);
}

// The desktop's screens as the device sees them: the size to centre in and the widget that
// becomes the parent of the tool's screens (null when no screen is wider than 800 pixels).
struct DesktopScreen
{
    QWidget *widget = nullptr;
    int width = 800;
    int height = 600;
};
DesktopScreen chooseDesktopScreen();

#endif // SCREENCHOICE_H
