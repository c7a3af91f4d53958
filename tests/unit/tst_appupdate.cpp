#include "appupdate.h"
#include "quitprobe.h"
#include "sandboxguard.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// A package directory with a stand-in installer that appends one line per run: the number of
// its arguments, then each argument, every item followed by '|'. The installer starts without
// its execute bit, as it arrives by FTP.
class PackageDir
{
public:
    PackageDir() : base(QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 1000))
    {
        QDir(root.path()).mkdir(QStringLiteral("pkg"));
    }

    QString path() const { return root.filePath(QStringLiteral("pkg")); }
    QString filePath(const QString &name) const { return path() + QLatin1Char('/') + name; }

    void addInstaller()
    {
        writeFile(QStringLiteral("iup.sh"),
                  "#!/bin/sh\n{ printf '%s|' \"$#\" \"$@\"; echo; } >> '" +
                      root.filePath(QStringLiteral("runs")).toUtf8() + "'\n",
                  0);
    }

    // "name@seconds" makes a file modified that many seconds after a common moment;
    // "name/" makes a directory
    void add(const QStringList &entries)
    {
        for (const QString &entry : entries) {
            if (entry.endsWith(QLatin1Char('/'))) {
                QVERIFY(QDir(path()).mkdir(entry.chopped(1)));
                continue;
            }
            const int at = entry.lastIndexOf(QLatin1Char('@'));
            writeFile(entry.left(at), "package", entry.mid(at + 1).toInt());
        }
    }

    QStringList installerRuns() const
    {
        QFile runs(root.filePath(QStringLiteral("runs")));
        if (!runs.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(runs.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool installerExecutable() const
    {
        return QFileInfo(filePath(QStringLiteral("iup.sh"))).permissions() & QFile::ExeOwner;
    }

private:
    void writeFile(const QString &name, const QByteArray &content, int seconds)
    {
        QFile file(filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        QVERIFY(file.flush()); // a later flush on close would stamp the time anew
        QVERIFY(file.setFileTime(base.addSecs(seconds), QFileDevice::FileModificationTime));
    }

    QTemporaryDir root;
    QDateTime base;
};

// Tells whether the action, run inside the event loop, ended the program.
bool endsProgram(const std::function<void()> &action)
{
    return asksLoopToQuit(action, 200);
}

QString runOf(const QString &packagePath)
{
    return QLatin1String("1|") + packagePath + QLatin1Char('|');
}

} // namespace

class TestAppUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void packageChoice_data();
    void packageChoice();
    void placement_data();
    void placement();
    void placementFollowsLastShow();
    void buttonStates();
    void leaving_data();
    void leaving();
};

void TestAppUpdate::initTestCase()
{
    QVERIFY2(insideSandbox(), "runs installers and chmod; start it through sandbox-run");
}

void TestAppUpdate::packageChoice_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<bool>("installer");
    QTest::addColumn<QString>("endLine"); // the debug line of a check that ends the program

    QTest::newRow("newest first") << QStringList{"b.tgz@10", "a.tgz@0"} << "b.tgz"
                                  << QStringList{"a.tgz", "b.tgz"} << true << "";
    QTest::newRow("older name first is still older")
        << QStringList{"a.tgz@0", "b.tgz@10"} << "b.tgz" << QStringList{"a.tgz", "b.tgz"} << true
        << "";
    QTest::newRow("equal times: plain character order")
        << QStringList{"b.tgz@5", "a.tgz@5", "B.tgz@5", "old.tgz@0"} << "B.tgz"
        << QStringList{"B.tgz", "a.tgz", "b.tgz", "old.tgz"} << true << "";
    QTest::newRow("case ignored in the match; others never count")
        << QStringList{"APP.TGZ@0", "app.tar.gz@50", "notes.txt@50", "x.tgz/"} << "APP.TGZ"
        << QStringList{"APP.TGZ"} << true << "";
    QTest::newRow("hidden package left out") << QStringList{".new.tgz@50", "old.tgz@0"} << "old.tgz"
                                             << QStringList{"old.tgz"} << true << "";
    QTest::newRow("no package") << QStringList{"app.tar.gz@0", "notes.txt@0", "x.tgz/"} << ""
                                << QStringList{} << true
                                << "AppUpdate::onCheckPackage no application package";
    QTest::newRow("no installer") << QStringList{"a.tgz@0"} << "" << QStringList{} << false
                                  << "AppUpdate::onCheckPackage iup.sh tool not exist";
}

void TestAppUpdate::packageChoice()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, choice);
    QFETCH(QStringList, listed);
    QFETCH(bool, installer);
    QFETCH(QString, endLine);

    PackageDir dir;
    if (installer)
        dir.addInstaller();
    dir.add(entries);
    AppUpdate screen;

    if (!endLine.isEmpty()) {
        QTest::ignoreMessage(QtDebugMsg, qPrintable(endLine));
        QVERIFY(endsProgram([&] { screen.onCheckPackage(dir.path()); }));
        QVERIFY(!screen.isVisible());
        return;
    }

    QVERIFY(!endsProgram([&] { screen.onCheckPackage(dir.path()); }));
    QVERIFY(screen.isVisible());
    auto *list = screen.findChild<QListView *>(QStringLiteral("listView"));
    QVERIFY(list);
    auto listedNow = [list] {
        QStringList names;
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row)
            names << list->model()->index(row, 0, root).data().toString();
        names.sort();
        return names;
    };
    QTRY_COMPARE(listedNow(), listed);

    // Upgrade without a click installs the package the check chose
    QTest::ignoreMessage(QtDebugMsg, "AppUpdate::onFinished code= 0");
    QTest::mouseClick(screen.findChild<QPushButton *>(QStringLiteral("btnUpgrade")),
                      Qt::LeftButton);
    QVERIFY(dir.installerExecutable());
    QTRY_COMPARE(dir.installerRuns(), QStringList{runOf(dir.filePath(choice))});
}

void TestAppUpdate::placement_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QPoint>("origin");

    QTest::newRow("800x600") << QSize(800, 600) << QPoint(80, 60);
    QTest::newRow("1024x768") << QSize(1024, 768) << QPoint(192, 144);
    QTest::newRow("width 639 truncates toward zero") << QSize(639, 479) << QPoint(0, 0);
    QTest::newRow("width 600 hangs off the left") << QSize(600, 600) << QPoint(-20, 60);
}

void TestAppUpdate::placement()
{
    QFETCH(QSize, area);
    PackageDir dir;
    AppUpdate screen;
    screen.showDirs(dir.path(), area.width(), area.height());
    QVERIFY(screen.isVisible());
    QCOMPARE(screen.windowTitle(), QStringLiteral("AppUpdate"));
    QCOMPARE(screen.size(), QSize(640, 480));
    QTEST(screen.pos(), "origin");
}

void TestAppUpdate::placementFollowsLastShow()
{
    PackageDir dir;
    dir.addInstaller();
    dir.add({"a.tgz@0"});
    AppUpdate screen;

    screen.onCheckPackage(dir.path());
    QCOMPARE(screen.pos(), QPoint(320, 160)); // never shown: centred in 1280x800

    screen.showDirs(dir.path(), 1024, 768);
    screen.onCheckPackage(dir.path());
    QCOMPARE(screen.pos(), QPoint(192, 144));
}

void TestAppUpdate::buttonStates()
{
    PackageDir dir;
    dir.addInstaller();
    dir.add({"a.tgz@0", "b.tgz@10"});
    AppUpdate screen;
    auto *upgrade = screen.findChild<QPushButton *>(QStringLiteral("btnUpgrade"));
    auto *later = screen.findChild<QPushButton *>(QStringLiteral("btnLater"));
    auto *ignore = screen.findChild<QPushButton *>(QStringLiteral("btnIgnore"));
    auto *list = screen.findChild<QListView *>(QStringLiteral("listView"));
    auto *label = screen.findChild<QLabel *>(QStringLiteral("labelPackInfo"));
    QVERIFY(upgrade && later && ignore && list && label);
    auto states = [&] {
        return QVector<bool>{upgrade->isEnabled(), later->isEnabled(), ignore->isEnabled()};
    };
    const QVector<bool> shown{true, true, true};

    screen.showDirs(dir.path(), 800, 600);
    QCOMPARE(states(), shown);

    // nothing clicked yet: the "package" is the directory itself, which exists
    QTest::mouseClick(upgrade, Qt::LeftButton);
    QCOMPARE(states(), (QVector<bool>{false, false, false}));
    QTRY_COMPARE(dir.installerRuns(), QStringList{runOf(dir.path() + QLatin1Char('/'))});

    auto *model = qobject_cast<QFileSystemModel *>(list->model());
    QVERIFY(model);
    QTRY_COMPARE(model->rowCount(list->rootIndex()), 2);
    const QModelIndex a = model->index(dir.filePath(QStringLiteral("a.tgz")));
    QTest::keyClick(list, Qt::Key_Down); // moving the current row chooses nothing
    QCOMPARE(label->text(), QString());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(a).center());
    QCOMPARE(label->text(), QStringLiteral("a.tgz"));
    QCOMPARE(states(), (QVector<bool>{true, false, false}));

    QTest::mouseClick(upgrade, Qt::LeftButton);
    QCOMPARE(states(), (QVector<bool>{false, false, false}));
    QTRY_COMPARE(dir.installerRuns().size(), 2);
    QCOMPARE(dir.installerRuns().last(), runOf(dir.filePath(QStringLiteral("a.tgz"))));

    // a fresh check re-enables everything and chooses the newest, leaving the label alone
    screen.onCheckPackage(dir.path());
    QCOMPARE(states(), shown);
    QCOMPARE(label->text(), QStringLiteral("a.tgz"));
    QTest::mouseClick(upgrade, Qt::LeftButton);
    QTRY_COMPARE(dir.installerRuns().size(), 3);
    QCOMPARE(dir.installerRuns().last(), runOf(dir.filePath(QStringLiteral("b.tgz"))));
}

void TestAppUpdate::leaving_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("removePackage");
    QTest::newRow("Later") << "btnLater" << false;
    QTest::newRow("Ignore") << "btnIgnore" << false;
    QTest::newRow("Upgrade of a removed package") << "btnUpgrade" << true;
}

void TestAppUpdate::leaving()
{
    QFETCH(QString, button);
    QFETCH(bool, removePackage);
    PackageDir dir;
    dir.addInstaller();
    dir.add({"a.tgz@0"});
    AppUpdate screen;
    screen.onCheckPackage(dir.path());
    if (removePackage)
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("a.tgz"))));

    QVERIFY(endsProgram(
        [&] { QTest::mouseClick(screen.findChild<QPushButton *>(button), Qt::LeftButton); }));
    QTest::qWait(300); // time enough for a wrongly started installer to leave its record
    QVERIFY(!dir.installerExecutable()); // not even chmod ran
    QCOMPARE(dir.installerRuns(), QStringList());
}

QTEST_MAIN(TestAppUpdate)
#include "tst_appupdate.moc"
