#include "messagecapture.h"
#include "panicreport.h"
#include "quitprobe.h"
#include "sandboxguard.h"
#include "scriptfiles.h"
#include "stdoutcapture.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

const QString Stick = QStringLiteral("/media/sda1");
const QString SaveScript = QStringLiteral("/Orvalen/opt/savelog.sh");
const QString SaveCalls = QStringLiteral("/tmp/savelog.calls");
const QString SaveRelease = QStringLiteral("/tmp/savelog.release");
const QString FakeBin = QStringLiteral("/tmp/fakebin");
const QString RebootCalls = QStringLiteral("/tmp/reboot.calls");
const QString Separator = QString(33, QLatin1Char('-'));
const QString Waiting = QStringLiteral("Please unplug & plug USB stick to collect core dump");
const QString Saving = QStringLiteral("Saving... Don't Unplug the USB stick");
const QString Saved = QStringLiteral("Panic log saved successfully!\n");
const QString PlugAgain = QStringLiteral("Please plug USB stick to save logs");
const QRegularExpression Stamp(QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)"));

// A save script that records its arguments as "[a][b]", does `extra`, and then, if asked,
// waits until the test releases it.
QByteArray saveScriptBody(const QByteArray &extra, bool hold, int exitCode = 0)
{
    QByteArray body = recordArguments(SaveCalls) + extra + "\n";
    if (hold)
        body += "while [ ! -e " + SaveRelease.toUtf8() + " ]; do sleep 0.02; done\n";
    return body + "exit " + QByteArray::number(exitCode) + "\n";
}

// The screen's trace lines printed so far; the platform's own chatter on stdout is left out.
QByteArray traces(const StdoutCapture &out)
{
    fflush(stdout);
    QByteArray lines;
    for (const QByteArray &line : out.text().toLocal8Bit().split('\n')) {
        if (line.startsWith("PanicReport::"))
            lines += line + '\n';
    }
    return lines;
}

} // namespace

class TestPanicReport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void form();
    void report_data();
    void report();
    void snapshot();
    void placement_data();
    void placement();
    void ending_data();
    void ending();
    void buttons_data();
    void buttons();
    void quitBeforeLoopIsLost();
    void clock();
    void saveProgress();
    void stickChangeDuringSave_data();
    void stickChangeDuringSave();
    void scriptOutput();
    void scriptCannotStart_data();
    void scriptCannotStart();
    void rebootDuringSave();
    void destroyedWhileSaving();

private:
    void tick(int count = 1);
    void releaseSave();
    bool saveStarted();
    QString text() const { return browser->toPlainText(); }

    std::unique_ptr<PanicReport> screen;
    QTextBrowser *browser = nullptr;
    QLabel *clockLabel = nullptr;
    QLabel *status = nullptr;
    QProgressBar *bar = nullptr;
    QProcess *process = nullptr;
    QTimer *timer = nullptr;
};

void TestPanicReport::initTestCase()
{
    QVERIFY2(insideSandbox(), "writes stand-in scripts to /Orvalen: run through sandbox-run");
    MessageCapture::install();
    QVERIFY(QDir().mkpath(QStringLiteral("/Orvalen/opt")));
    QVERIFY(QDir().mkpath(QStringLiteral("/Orvalen/bin")));
    QVERIFY(QDir().mkpath(FakeBin));
    // bash -c reboot must find this one first
    writeScript(FakeBin + QStringLiteral("/reboot"),
                "echo reboot >> " + RebootCalls.toUtf8() + "\n");
    qputenv("PATH", FakeBin.toUtf8() + ':' + qgetenv("PATH"));
}

void TestPanicReport::init()
{
    for (const QString &file : {SaveCalls, SaveRelease, RebootCalls})
        QFile::remove(file);
    writeScript(SaveScript, saveScriptBody({}, true));
    MessageCapture::lines().clear();

    screen = std::make_unique<PanicReport>();
    browser = screen->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    clockLabel = screen->findChild<QLabel *>(QStringLiteral("labelTimeElapse"));
    status = screen->findChild<QLabel *>(QStringLiteral("labelCoreDump"));
    bar = screen->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    process = screen->findChild<QProcess *>();
    timer = screen->findChild<QTimer *>(QStringLiteral("repeatTimer"));
    QVERIFY(browser && clockLabel && status && bar && process && timer);
}

void TestPanicReport::cleanup()
{
    releaseSave();
    if (screen)
        process->waitForFinished(5000);
    screen.reset();
}

void TestPanicReport::tick(int count)
{
    for (int i = 0; i < count; ++i)
        QMetaObject::invokeMethod(screen.get(), "onRepeatTimer", Qt::DirectConnection);
}

void TestPanicReport::releaseSave()
{
    QFile release(SaveRelease);
    release.open(QIODevice::WriteOnly);
}

// Inserts the stick and waits until the save script runs.
bool TestPanicReport::saveStarted()
{
    screen->onUSBInserted(true, Stick);
    return QTest::qWaitFor([] { return contents(SaveCalls) == "[/media/sda1]\n"; }, 5000);
}

void TestPanicReport::form()
{
    QCOMPARE(screen->windowTitle(), QStringLiteral("Form"));
    QCOMPARE(screen->windowFlags() & (Qt::Tool | Qt::WindowStaysOnTopHint),
             Qt::Tool | Qt::WindowStaysOnTopHint);
    QCOMPARE(screen->windowModality(), Qt::WindowModal);
    QVERIFY(!screen->isVisible());

    const QList<QPair<QString, QString>> buttons{{"btnReboot", "Reboot"},
                                                 {"btnRestartApp", "Restart App"},
                                                 {"btnWait", "Capture"},
                                                 {"btnIgnore", "Ignore"}};
    for (const auto &button : buttons) {
        auto *widget = screen->findChild<QPushButton *>(button.first);
        QVERIFY2(widget, qPrintable(button.first));
        QCOMPARE(widget->text(), button.second);
    }
    QCOMPARE(screen->findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(),
             QStringLiteral("System Information"));
    QCOMPARE(status->text(), Waiting);
    QVERIFY(clockLabel->text().isEmpty());
    QVERIFY(text().isEmpty());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(!timer->isSingleShot());
    QVERIFY(!timer->isActive());
}

void TestPanicReport::report_data()
{
    QTest::addColumn<QList<int>>("deaths");
    QTest::addColumn<int>("coreDumps");
    QTest::addColumn<QString>("expected"); // "T" stands for a time stamp of now

    QTest::newRow("nothing recorded") << QList<int>{} << 0 << Separator;
    QTest::newRow("one death, one core dump")
        << QList<int>{0} << 1
        << "App=Brennhaven Die @ T\n" + Separator + "Coredump generated atT\n";
    QTest::newRow("arrival order kept")
        << QList<int>{2, 1} << 2
        << "App=qconnman-applet Die @ T\nApp=Mirelu Die @ T\n" + Separator +
               "Coredump generated atT\nCoredump generated atT\n";
    QTest::newRow("unknown id") << QList<int>{7} << 0 << "App=Unknown Applet Die @ T\n" + Separator;
}

void TestPanicReport::report()
{
    QFETCH(QList<int>, deaths);
    QFETCH(int, coreDumps);
    QFETCH(QString, expected);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    for (int appId : deaths)
        screen->onAppDead(appId);
    for (int i = 0; i < coreDumps; ++i)
        screen->onCoreDump();
    screen->showAPR(800, 600);

    QString shown = text();
    for (auto match = Stamp.globalMatch(shown); match.hasNext();) {
        const QDateTime at =
            QDateTime::fromString(match.next().captured(), QStringLiteral("yyyy-MM-ddThh:mm:ss"));
        QVERIFY(at >= before && at <= QDateTime::currentDateTime());
    }
    QCOMPARE(shown.replace(Stamp, QStringLiteral("T")), expected);
}

void TestPanicReport::snapshot()
{
    screen->showAPR(1024, 768);
    screen->onAppDead(1);
    screen->onCoreDump();
    QCOMPARE(text(), Separator);

    screen->move(0, 0);
    QMetaObject::invokeMethod(screen.get(), "onTimeOut", Qt::DirectConnection);
    QVERIFY(text().startsWith(QStringLiteral("App=Mirelu Die @ ")));
    QVERIFY(text().contains(Separator + QStringLiteral("Coredump generated at")));
    QCOMPARE(screen->pos(), QPoint(192, 144)); // the stored size is reused
}

void TestPanicReport::placement_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("origin");

    QTest::newRow("800x600") << 800 << 600 << QPoint(80, 60);
    QTest::newRow("600x400") << 600 << 400 << QPoint(-20, -40);
    QTest::newRow("601x479") << 601 << 479 << QPoint(-19, 0);
}

void TestPanicReport::placement()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QPoint, origin);

    StdoutCapture out;
    screen->showAPR(width, height);
    QCOMPARE(traces(out),
             QStringLiteral("PanicReport::showAPR %1 %2\n").arg(width).arg(height).toUtf8());
    QVERIFY(screen->isVisible());
    QCOMPARE(screen->pos(), origin);
    QCOMPARE(screen->size(), QSize(640, 480));
    QVERIFY(timer->isActive());
}

void TestPanicReport::ending_data()
{
    QTest::addColumn<QList<int>>("dead");
    QTest::addColumn<QList<int>>("aliveBefore"); // each of these must not end the screen
    QTest::addColumn<int>("lastAlive");
    QTest::addColumn<bool>("ends");

    QTest::newRow("nothing dead") << QList<int>{} << QList<int>{} << 1 << true;
    QTest::newRow("0 dead, 1 alive") << QList<int>{0} << QList<int>{} << 1 << false;
    QTest::newRow("0 dead, 1 then 0 alive") << QList<int>{0} << QList<int>{1} << 0 << true;
    QTest::newRow("0 and 2 dead, 0 alive") << QList<int>{0, 2} << QList<int>{} << 0 << false;
    QTest::newRow("unknown id dead") << QList<int>{7} << QList<int>{} << 2 << true;
}

void TestPanicReport::ending()
{
    QFETCH(QList<int>, dead);
    QFETCH(QList<int>, aliveBefore);
    QFETCH(int, lastAlive);
    QFETCH(bool, ends);

    screen->showAPR(800, 600);
    for (int appId : dead)
        screen->onAppDead(appId);
    StdoutCapture out;
    for (int appId : aliveBefore)
        QVERIFY(!asksLoopToQuit([&] { screen->onAppLive(appId); }));
    QCOMPARE(asksLoopToQuit([&] { screen->onAppLive(lastAlive); }), ends);

    QByteArray expected;
    for (int appId : aliveBefore + QList<int>{lastAlive})
        expected += "PanicReport::onAppLive appId=" + QByteArray::number(appId) + '\n';
    if (ends)
        expected += "PanicReport::hideAPR\n";
    QCOMPARE(traces(out), expected);
    QCOMPARE(timer->isActive(), !ends);
}

void TestPanicReport::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("debugLine");

    QTest::newRow("Ignore") << "btnIgnore" << QString() << QString();
    QTest::newRow("Restart App") << "btnRestartApp"
                                 << "/Orvalen/bin/restartbhaven.sh"
                                 << "PanicReport::on_btnRestartApp_clicked()";
    QTest::newRow("Capture") << "btnWait"
                             << "/Orvalen/opt/logcapture.sh"
                             << "PanicReport::on_btnCapture_clicked()";
}

void TestPanicReport::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, script);
    QFETCH(QString, debugLine);

    const QString calls = QStringLiteral("/tmp/button.calls");
    QFile::remove(calls);
    for (const char *path : {"/Orvalen/bin/restartbhaven.sh", "/Orvalen/opt/logcapture.sh"})
        writeScript(QString::fromLatin1(path), "echo \"$0 $#\" >> " + calls.toUtf8() + "\n");

    screen->showAPR(800, 600);
    auto *widget = screen->findChild<QPushButton *>(button);
    QVERIFY(widget);
    QVERIFY(asksLoopToQuit([&] { widget->click(); }));
    QVERIFY(!timer->isActive());

    if (script.isEmpty()) {
        QTest::qWait(200);
        QVERIFY(!QFile::exists(calls));
        QVERIFY(MessageCapture::lines().isEmpty());
    } else {
        QTRY_COMPARE(contents(calls), script.toUtf8() + " 0\n"); // no argument
        QCOMPARE(MessageCapture::lines(), QStringList{debugLine});
    }
}

void TestPanicReport::quitBeforeLoopIsLost()
{
    screen->showAPR(800, 600);
    StdoutCapture out;
    screen->onAppLive(0); // all alive, as during the start-up probe pass
    QCOMPARE(traces(out), QByteArray("PanicReport::onAppLive appId=0\nPanicReport::hideAPR\n"));
    QVERIFY(!asksLoopToQuit([] {}));
    QVERIFY(!timer->isActive());
    QVERIFY(clockLabel->text().isEmpty());

    screen->onUSBInserted(true, Stick); // only a stick restarts the clock
    QVERIFY(timer->isActive());
}

void TestPanicReport::clock()
{
    screen->showAPR(800, 600);
    QVERIFY(clockLabel->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!clockLabel->text().isEmpty(), 3000);
    const QDateTime shown =
        QDateTime::fromString(clockLabel->text(), QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    QVERIFY2(shown.isValid(), qPrintable(clockLabel->text()));
    QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) <= 2);
    QCOMPARE(bar->value(), 0); // no save, no progress
}

void TestPanicReport::saveProgress()
{
    // hidden, as in modes "up" and "ver"
    screen->onUSBInserted(true, Stick);
    QVERIFY(!screen->isVisible());
    QCOMPARE(text(), QStringLiteral("USB: ON - /media/sda1"));
    QCOMPARE(status->text(), Saving);
    QCOMPARE(bar->value(), 0);
    QVERIFY(timer->isActive());
    QTRY_COMPARE(contents(SaveCalls), QByteArray("[/media/sda1]\n"));
    QCOMPARE(MessageCapture::lines(),
             QStringList({R"(PanicReport::onUSBInserted on= true  mountPoint= "/media/sda1")",
                          R"(PanicReport::setupTombstone usbPath= "/media/sda1")"}));

    screen->onAppDead(0);
    screen->onCoreDump();
    QList<int> steps, expected;
    for (int i = 1; i <= 46; ++i) {
        tick();
        steps << bar->value();
        expected << qMin(2 * i, 90);
    }
    QCOMPARE(steps, expected);
    QCOMPARE(status->text(), Saving);

    releaseSave();
    QTRY_COMPARE(bar->value(), 100);
    QCOMPARE(status->text(), Saved);
    tick();
    QCOMPARE(bar->value(), 100);
    screen->showAPR(800, 600);
    QCOMPARE(text(), Separator); // the saved entries are gone from the next report
}

void TestPanicReport::stickChangeDuringSave_data()
{
    QTest::addColumn<int>("ticksBefore");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<int>("barAfterTick");

    const QString removed = QStringLiteral("USB: ON - /media/sda1\nUSB: OFF - /media/sda1");
    QTest::newRow("removed, counter at 10") << 5 << false << Stick << removed << PlugAgain << 12;
    QTest::newRow("removed, counter at 90") << 45 << false << Stick << removed << PlugAgain << 0;
    QTest::newRow("other stick inserted")
        << 3 << true << QStringLiteral("/media/sdb1")
        << QStringLiteral("USB: ON - /media/sda1\nUSB: ON - /media/sdb1") << Saving << 2;
}

void TestPanicReport::stickChangeDuringSave()
{
    QFETCH(int, ticksBefore);
    QFETCH(bool, on);
    QFETCH(QString, mountPoint);

    QVERIFY(saveStarted());
    tick(ticksBefore);
    if (on)
        QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
    screen->onUSBInserted(on, mountPoint);
    QTEST(text(), "shown");
    QTEST(status->text(), "statusText");
    QCOMPARE(bar->value(), 0);
    QVERIFY(process->state() != QProcess::NotRunning);

    tick();
    QTEST(bar->value(), "barAfterTick");
    releaseSave();
    QTRY_COMPARE(status->text(), Saved);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(contents(SaveCalls), QByteArray("[/media/sda1]\n")); // no second save ran
}

void TestPanicReport::scriptOutput()
{
    writeScript(SaveScript,
                saveScriptBody("echo copied 3 files; printf 'cannot copy core.1\\nno space "
                               "left\\n' >&2",
                               false, 1));
    screen->onUSBInserted(true, Stick);
    QTRY_COMPARE(status->text(), Saved); // a failing script still completes
    QCOMPARE(bar->value(), 100);
    QCOMPARE(text(), QStringLiteral("USB: ON - /media/sda1\ncannot copy core.1\nno space left\n"));
    QVERIFY(
        MessageCapture::lines().contains(R"(PanicReport::onProcStdOut out= "copied 3 files\n")"));
    QVERIFY(MessageCapture::lines().contains(
        R"(PanicReport::onProcStdErr line= "cannot copy core.1\nno space left\n")"));
}

void TestPanicReport::scriptCannotStart_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << false;
    QTest::newRow("not executable") << true;
}

void TestPanicReport::scriptCannotStart()
{
    QFETCH(bool, present);
    QFile::remove(SaveScript);
    if (present)
        writeScript(SaveScript, saveScriptBody({}, false), false);

    screen->onUSBInserted(true, Stick);
    QTRY_COMPARE(process->error(), QProcess::FailedToStart);
    tick(50);
    QCOMPARE(bar->value(), 90);
    QCOMPARE(status->text(), Saving);

    // the end of whatever runs next on the same process counts as the end of the save
    screen->findChild<QPushButton *>(QStringLiteral("btnReboot"))->click();
    QTRY_COMPARE(status->text(), Saved);
    QCOMPARE(contents(RebootCalls), QByteArray("reboot\n"));
    writeScript(SaveScript, saveScriptBody({}, true)); // for the next row
}

void TestPanicReport::rebootDuringSave()
{
    auto *reboot = screen->findChild<QPushButton *>(QStringLiteral("btnReboot"));
    QVERIFY(saveStarted());
    QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
    reboot->click();
    releaseSave();
    QTRY_COMPARE(status->text(), Saved);
    QVERIFY(!QFile::exists(RebootCalls));

    // after the save the reboot runs, and its end leaves the status alone
    screen->onUSBInserted(false, Stick);
    QVERIFY(!asksLoopToQuit([&] { reboot->click(); })); // the tool stays up
    QTRY_COMPARE(contents(RebootCalls), QByteArray("reboot\n"));
    QTRY_COMPARE(process->state(), QProcess::NotRunning);
    QCoreApplication::processEvents();
    QCOMPARE(status->text(), PlugAgain);
    QCOMPARE(bar->value(), 0);
}

void TestPanicReport::destroyedWhileSaving()
{
    // the tool ends while a save script still runs: the script is ended with it, quietly, and
    // its end must not reach a screen that is half gone
    const QString pidFile = QStringLiteral("/tmp/savelog.pid");
    QFile::remove(pidFile);
    writeScript(SaveScript, saveScriptBody("echo $$ > " + pidFile.toUtf8(), true));
    QVERIFY(saveStarted());
    QTRY_VERIFY(!contents(pidFile).trimmed().isEmpty());
    const pid_t scriptPid = contents(pidFile).trimmed().toInt();
    QVERIFY(scriptPid > 0);
    QVERIFY(kill(scriptPid, 0) == 0);

    MessageCapture::warnings().clear();
    screen.reset();
    QVERIFY2(kill(scriptPid, 0) == -1 && errno == ESRCH, "the save script outlived the screen");
    QVERIFY2(MessageCapture::warnings().filter(QStringLiteral("Destroyed while")).isEmpty(),
             qPrintable(MessageCapture::warnings().join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestPanicReport)
#include "tst_panicreport.moc"
