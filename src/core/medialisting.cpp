#include "medialisting.h"

#include <QDir>

namespace {

// the first entry of `from` that `known` does not hold, or an empty string
QString firstNewEntry(QStringList from, const QStringList &known)
{
    for (const QString &name : known)
        from.removeAll(name);
    return from.isEmpty() ? QString() : from.first();
}

} // namespace

MediaChange compareMediaListings(const QStringList &oldDirs, const QStringList &newDirs)
{
    MediaChange change;
    if (oldDirs.size() < newDirs.size()) {
        change.name = firstNewEntry(newDirs, oldDirs);
        change.kind = MediaChange::Inserted;
    } else if (oldDirs.size() > newDirs.size()) {
        change.name = firstNewEntry(oldDirs, newDirs);
        change.kind = MediaChange::Removed;
    }
    return change;
}

QStringList listMediaDirs(const QString &dir)
{
    return QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}
