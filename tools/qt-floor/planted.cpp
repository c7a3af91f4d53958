// Planted for the self-test of qt-floor, which must name exactly the lines marked "newer".
#include <QProcess>
#include <QStringList>

class Planted
{
public:
    Planted() = default;
    Q_DISABLE_COPY_MOVE(Planted) // newer: 5.13
};

QStringList planted(const QString &command, const QString &word)
{
    QStringList list{command, word}; // fine, though 5.15 builds it on a 5.14 constructor
    list << word.arg(1);             // fine: an old overload of a function with newer ones
    list << QStringLiteral("%1 %2").arg(command, word);          // fine: a reviewed exception
    list << command.split(QLatin1Char(' '));                     // fine: a reviewed exception
    list << command.split(QLatin1Char(' '), Qt::SkipEmptyParts); // newer: 5.14
    list << QLatin1String("%1").arg(word);                       // newer: 5.14, always inlined
    return list + QProcess::splitCommand(command);               // newer: 5.15
}
