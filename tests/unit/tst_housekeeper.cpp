#include "housekeeper.h"
#include "medialisting.h"
#include "messagecapture.h"
#include "panicreport.h"
#include "quitprobe.h"
#include "sandboxguard.h"
#include "scriptfiles.h"

#include <QApplication>
#include <QProcess>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

namespace {

const QString SaveCalls = QStringLiteral("/tmp/savelog.calls");
const QString QelMedia = QStringLiteral("/media/qz");
const QString VarLogCoreDump = QStringLiteral("/var/log/coredump");

} // namespace

class TestHouseKeeper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void comparison_data();
    void comparison();
    void listing();
    void usbStick_data();
    void usbStick();
    void qelScaleStickOnlyLogged();
    void qelMediaChanges();
    void coreDumpRouting_data();
    void coreDumpRouting();
    void coreDumpWatched();
    void livenessForwarded();

private:
    void start();
    QString report();
    void waitForSave();

    std::unique_ptr<HouseKeeper> houseKeeper;
    PanicReport *panic = nullptr;
};

void TestHouseKeeper::initTestCase()
{
    QVERIFY2(insideSandbox(), "creates /media/qz and /Orvalen: run through sandbox-run");
    MessageCapture::install();
    QVERIFY(QDir().mkpath(QStringLiteral("/Orvalen/opt")));
    writeScript(QStringLiteral("/Orvalen/opt/savelog.sh"), recordArguments(SaveCalls));
}

void TestHouseKeeper::init()
{
    QFile::remove(SaveCalls);
    MessageCapture::lines().clear();
}

void TestHouseKeeper::cleanup()
{
    if (panic)
        panic->findChild<QProcess *>()->waitForFinished(3000);
    houseKeeper.reset();
    panic = nullptr;
    QDir(QelMedia).removeRecursively();
    QDir(VarLogCoreDump).removeRecursively();
}

// An unknown mode word builds the watcher and the screens but starts no monitor, so the
// slots can be driven alone; its queued quit is swallowed here, outside any event loop.
void TestHouseKeeper::start()
{
    houseKeeper = std::make_unique<HouseKeeper>();
    houseKeeper->startTools(QStringLiteral("none"));
    QCoreApplication::processEvents();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *screen = qobject_cast<PanicReport *>(widget))
            panic = screen;
    }
    QVERIFY(panic);
    MessageCapture::lines().clear();
}

// the panic report's text as a fresh showAPR builds it
QString TestHouseKeeper::report()
{
    panic->showAPR(800, 600);
    return panic->findChild<QTextBrowser *>()->toPlainText();
}

void TestHouseKeeper::waitForSave()
{
    QProcess *process = panic->findChild<QProcess *>();
    QTRY_COMPARE(process->state(), QProcess::NotRunning);
}

void TestHouseKeeper::comparison_data()
{
    QTest::addColumn<QStringList>("oldDirs");
    QTest::addColumn<QStringList>("newDirs");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");

    QTest::newRow("a -> a,b") << QStringList{"a"} << QStringList{"a", "b"}
                              << int(MediaChange::Inserted) << "b";
    QTest::newRow("a,b -> b") << QStringList{"a", "b"} << QStringList{"b"}
                              << int(MediaChange::Removed) << "a";
    QTest::newRow("a -> b") << QStringList{"a"} << QStringList{"b"} << int(MediaChange::NoChange)
                            << QString();
    QTest::newRow("empty -> alpha,Beta")
        << QStringList{} << QStringList{"alpha", "Beta"} << int(MediaChange::Inserted) << "alpha";
    QTest::newRow("two arrive: first by order")
        << QStringList{"b"} << QStringList{"a", "b", "c"} << int(MediaChange::Inserted) << "a";
    QTest::newRow("one leaves, another arrives")
        << QStringList{"a", "b"} << QStringList{"c"} << int(MediaChange::Removed) << "a";
    QTest::newRow("all gone") << QStringList{"x"} << QStringList{} << int(MediaChange::Removed)
                              << "x";
}

void TestHouseKeeper::comparison()
{
    QFETCH(QStringList, oldDirs);
    QFETCH(QStringList, newDirs);
    const MediaChange change = compareMediaListings(oldDirs, newDirs);
    QTEST(int(change.kind), "kind");
    QTEST(change.name, "name");
}

void TestHouseKeeper::listing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"Beta", "alpha", ".hidden", "gamma"})
        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(name)));
    QFile file(dir.filePath(QStringLiteral("afile")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(listMediaDirs(dir.path()), QStringList({"alpha", "Beta", "gamma"}));
}

void TestHouseKeeper::usbStick_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("mountPoint");

    QTest::newRow("sda1 in") << "/dev/sda1" << true << "/media/sda1";
    QTest::newRow("sda1 out") << "/dev/sda1" << false << "/media/sda1";
    QTest::newRow("every /dev replaced") << "/dev/x/dev" << true << "/media/x/media";
    QTest::newRow("case kept") << "/DEV/sdb1" << true << "/DEV/sdb1";
}

void TestHouseKeeper::usbStick()
{
    QFETCH(QString, node);
    QFETCH(bool, on);
    QFETCH(QString, mountPoint);
    start();

    houseKeeper->onUSBStick(on, node);
    const QString flag = QLatin1String(on ? "true" : "false");
    QStringList expected{
        QStringLiteral("HouseKeeper::onUSBStick filePath= \"%1\"  on= %2").arg(mountPoint, flag),
        QStringLiteral("PanicReport::onUSBInserted on= %2  mountPoint= \"%1\"")
            .arg(mountPoint, flag)};
    if (on)
        expected << QStringLiteral("PanicReport::setupTombstone usbPath= \"%1\"").arg(mountPoint);
    QCOMPARE(MessageCapture::lines(), expected);
    if (on)
        QTRY_COMPARE(contents(SaveCalls), "[" + mountPoint.toUtf8() + "]\n");
}

void TestHouseKeeper::qelScaleStickOnlyLogged()
{
    QVERIFY(QDir().mkpath(QelMedia));
    start();
    houseKeeper->onUSBStick(true, QStringLiteral("/dev/sda1"));
    QCOMPARE(
        MessageCapture::lines(),
        QStringList{R"(HouseKeeper::onUSBStick(Maybe Qel Scale) on= true  point= "/dev/sda1")"});
}

void TestHouseKeeper::qelMediaChanges()
{
    QVERIFY(QDir().mkpath(QelMedia + QStringLiteral("/a")));
    start();
    QDir media(QelMedia);

    QVERIFY(media.mkdir(QStringLiteral("b")));
    QTRY_COMPARE(
        MessageCapture::lines(),
        QStringList({R"(HouseKeeper: new paths= ("a", "b"))", R"(HouseKeeper: old paths= ("a"))",
                     R"(HouseKeeper:: Qel usb inserted:  "b")",
                     R"(PanicReport::onUSBInserted on= true  mountPoint= "/media/qz/b")",
                     R"(PanicReport::setupTombstone usbPath= "/media/qz/b")"}));
    QTRY_COMPARE(contents(SaveCalls), QByteArray("[/media/qz/b]\n"));
    waitForSave();

    MessageCapture::lines().clear();
    QVERIFY(media.rmdir(QStringLiteral("a")));
    QTRY_COMPARE(
        MessageCapture::lines(),
        QStringList({R"(HouseKeeper: new paths= ("b"))", R"(HouseKeeper: old paths= ("a", "b"))",
                     R"(HouseKeeper:: Qel usb removed:  "a")",
                     R"(PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/a")"}));

    // a hidden directory does not count, and the listing is kept for the next change
    MessageCapture::lines().clear();
    QVERIFY(media.mkdir(QStringLiteral(".hidden")));
    QTRY_COMPARE(
        MessageCapture::lines(),
        QStringList({R"(HouseKeeper: new paths= ("b"))", R"(HouseKeeper: old paths= ("b"))",
                     "HouseKeeper::Fatal Error, dirs no changes"}));
    QCOMPARE(contents(SaveCalls), QByteArray("[/media/qz/b]\n"));
}

void TestHouseKeeper::coreDumpRouting_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<int>("entries");

    QTest::newRow("/var/log/coredump") << "/var/log/coredump" << 1;
    QTest::newRow("/home/root/coredump") << "/home/root/coredump" << 1;
    QTest::newRow("/home/qz/coredump") << "/home/qz/coredump" << 1;
    QTest::newRow("trailing slash") << "/var/log/coredump/" << 0;
    QTest::newRow("other case") << "/Home/qz/coredump" << 0;
    QTest::newRow("unwatched") << "/tmp" << 0;
}

void TestHouseKeeper::coreDumpRouting()
{
    QFETCH(QString, dir);
    QFETCH(int, entries);
    start();
    houseKeeper->onFTPDirChanged(dir);
    QVERIFY(MessageCapture::lines().isEmpty());
    QCOMPARE(report().count(QStringLiteral("Coredump generated at")), entries);
}

void TestHouseKeeper::coreDumpWatched()
{
    QVERIFY(QDir().mkpath(VarLogCoreDump));
    start();
    QVERIFY(QDir(VarLogCoreDump).mkdir(QStringLiteral("core.1")));
    QTRY_VERIFY(report().contains(QStringLiteral("Coredump generated at")));
}

void TestHouseKeeper::livenessForwarded()
{
    start();
    houseKeeper->onAppDead(0);
    QVERIFY(report().startsWith(QStringLiteral("App=Brennhaven Die @ ")));
    QVERIFY(!asksLoopToQuit([&] { houseKeeper->onAppLive(1); }));
    QVERIFY(asksLoopToQuit([&] { houseKeeper->onAppLive(0); }));
}

QTEST_MAIN(TestHouseKeeper)
#include "tst_housekeeper.moc"
