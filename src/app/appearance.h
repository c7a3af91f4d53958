#ifndef APPEARANCE_H
#define APPEARANCE_H

#include <QString>
#include <QTranslator>

// The application-wide look and language: style sheet, font and translator. main() owns one
// for the whole run, since the application keeps using the style-sheet text and the installed
// translator until the event loop has ended.
class Appearance
{
public:
    // Applies style sheet, font and translation, in this order. languageWord is the word from
    // the command line; it is replaced from /tmp/locale when that file exists, then reduced.
    void apply(QString &languageWord);

    // The three steps of apply(), each usable on its own.
    void applyStyleSheet();
    void applyFont();
    void applyTranslation(QString &languageWord);

private:
    QString styleSheet;
    QString fontPath;
    QTranslator translator; // no parent: it must outlive every screen, not follow a QObject
    QString appDir;
};

#endif // APPEARANCE_H
