#include "appearance.h"

#include "devicepaths.h"
#include "languagechoice.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QStringList>

// the resource collection sits in a static library, so nothing registers it unless asked;
// Q_INIT_RESOURCE must be used outside any namespace
static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

void Appearance::apply(QString &languageWord)
{
    applyStyleSheet();
    applyFont();
    applyTranslation(languageWord);
}

void Appearance::applyStyleSheet()
{
    registerResources();
    QFile file(QLatin1String(DevicePaths::StyleSheetResource));
    file.open(QIODevice::ReadOnly);
    styleSheet = textUpToFirstNul(file.readAll());
    qApp->setStyleSheet(styleSheet);
    file.close();
}

void Appearance::applyFont()
{
    fontPath = QLatin1String(DevicePaths::FontFile);
    const int fontId = QFontDatabase::addApplicationFont(fontPath);
    if (fontId == -1) {
        qDebug() << "Tovrimax_font: The font can not be loaded Noto=" << -1;
        return;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    qDebug() << "Tovrimax_font: Noto=" << families;
    qDebug() << "Tovrimax_font: Index fontNoto=" << fontId;
    QApplication::setFont(QFont(families.value(0)));
}

void Appearance::applyTranslation(QString &languageWord)
{
    appDir = QCoreApplication::applicationDirPath();
    languageWord =
        reducedLanguage(languageWordFrom(languageWord, QLatin1String(DevicePaths::LocaleFile)));
    qDebug() << "appPath=" << appDir << " locale=" << languageWord;

    const bool loaded = translator.load(
        QString::fromLatin1(DevicePaths::CatalogueTemplate).arg(appDir, languageWord));
    qDebug() << "Translator load ret=" << loaded;
    // an empty translator is harmless, so it goes in either way
    QCoreApplication::installTranslator(&translator);
}
