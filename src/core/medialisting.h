#ifndef MEDIALISTING_H
#define MEDIALISTING_H

#include <QString>
#include <QStringList>

// What a change of the Qel media directory means, judged from two listings of its
// sub-directories. Only the number of entries decides; one stick is reported per change.
struct MediaChange
{
    enum Kind
    {
        NoChange,
        Inserted,
        Removed
    };
    Kind kind = NoChange;
    QString name; // the stick's directory name for Inserted and Removed
};

MediaChange compareMediaListings(const QStringList &oldDirs, const QStringList &newDirs);

// The sub-directories of dir as the tool lists them: no hidden ones, sorted by name
// without regard to case.
QStringList listMediaDirs(const QString &dir);

#endif // MEDIALISTING_H
