#include "appearance.h"

void Appearance::apply(QString &languageWord)
{
    // style sheet, font and translation are set up here
    Q_UNUSED(languageWord);
}
