#include "appearance.h"
#include "devicepaths.h"
#include "languagechoice.h"
#include "messagecapture.h"
#include "sandboxguard.h"
#include "verinfo.h"

#include <QtTest>
#include <QtWidgets>

namespace {
// a font the machine has, to stand in for the device's own
QString someFontFile()
{
    for (const char *candidate : {"/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
                                  "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"}) {
        if (QFile::exists(QLatin1String(candidate)))
            return QLatin1String(candidate);
    }
    return QString();
}
} // namespace

class TestAppearance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void reduction_data();
    void reduction();
    void localeFile_data();
    void localeFile();

    void styleSheetSizes();

    void fontMissing();
    void fontLoaded();

    void versionScreen_data();
    void versionScreen();
};

void TestAppearance::initTestCase()
{
    QVERIFY2(insideSandbox(), "writes the device's font path; run it through sandbox-run");
}

void TestAppearance::reduction_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("reduced");

    QTest::newRow("Chinese") << "Chinese"
                             << "Chinese";
    QTest::newRow("lower case is not Chinese") << "chinese"
                                               << "English";
    QTest::newRow("capitals are not Chinese") << "CHINESE"
                                              << "English";
    QTest::newRow("inside a longer word") << "SimplifiedChinese_zh"
                                          << "Chinese";
    QTest::newRow("with a line feed") << "Chinese\n"
                                      << "Chinese";
    QTest::newRow("English") << "English"
                             << "English";
    QTest::newRow("empty") << ""
                           << "English";
    QTest::newRow("locale code") << "zh_CN.UTF-8"
                                 << "English";
    QTest::newRow("split word") << "Chin ese"
                                << "English";
}

void TestAppearance::reduction()
{
    QFETCH(QString, word);
    QTEST(reducedLanguage(word), "reduced");
}

void TestAppearance::localeFile_data()
{
    QTest::addColumn<QString>("kind"); // what lies at the locale path: nothing, file, directory
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("word");

    QTest::newRow("absent: command line word") << "nothing" << QByteArray() << "SimplifiedChinese"
                                               << "SimplifiedChinese";
    QTest::newRow("file beats command line, untrimmed")
        << "file" << QByteArray("Chinese\n") << "English"
        << "Chinese\n";
    QTest::newRow("empty file gives empty word") << "file" << QByteArray() << "Chinese"
                                                 << "";
    QTest::newRow("unreadable gives empty word") << "directory" << QByteArray() << "Chinese"
                                                 << "";
    QTest::newRow("cut at the first NUL")
        << "file" << QByteArray("English\0Chinese", 15) << "Chinese"
        << "English";
    QTest::newRow("NUL first") << "file" << QByteArray("\0Chinese", 8) << "Chinese"
                               << "";
    QTest::newRow("UTF-8 decoded")
        << "file" << QByteArray("中文 Chinese") << "English" << QString::fromUtf8("中文 Chinese");
}

void TestAppearance::localeFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, commandLine);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("locale"));
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locale")));
    }
    QTEST(languageWordFrom(commandLine, path), "word");
}

void TestAppearance::styleSheetSizes()
{
    // an unstyled button first, to show that the sizes below come from the sheet
    const int plainButtonHeight = QPushButton(QStringLiteral("Reboot")).sizeHint().height();
    QVERIFY2(plainButtonHeight < 60, "the platform's own button must be lower than the sheet's");

    Appearance appearance;
    appearance.applyStyleSheet();

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *button = new QPushButton(QStringLiteral("Reboot"));
    auto *list = new QListView;
    auto *horizontal = new QScrollBar(Qt::Horizontal);
    auto *vertical = new QScrollBar(Qt::Vertical);
    auto *tabs = new QTabWidget;
    tabs->addTab(new QWidget, QStringLiteral("A"));
    tabs->addTab(new QWidget, QStringLiteral("B"));
    auto *checkBox = new QCheckBox(QStringLiteral("C"));
    for (QWidget *widget : {static_cast<QWidget *>(button), static_cast<QWidget *>(list),
                            static_cast<QWidget *>(horizontal), static_cast<QWidget *>(vertical),
                            static_cast<QWidget *>(tabs), static_cast<QWidget *>(checkBox)})
        layout->addWidget(widget);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // rows arrive after the list is styled, as the package list's do
    auto *model = new QStringListModel({QStringLiteral("a.tgz"), QStringLiteral("b.tgz")}, list);
    list->setModel(model);

    QVERIFY2(button->minimumSizeHint().height() >= 60,
             qPrintable(QString::number(button->minimumSizeHint().height())));
    QVERIFY(button->height() >= 60);
    QTRY_COMPARE(list->visualRect(model->index(1, 0)).top(), 80);
    QCOMPARE(list->visualRect(model->index(0, 0)).height(), 80);
    QCOMPARE(horizontal->sizeHint().height(), 50);
    QCOMPARE(vertical->sizeHint().width(), 50);
    QCOMPARE(tabs->tabBar()->tabRect(1), QRect(80, 0, 80, 80));
    QCOMPARE(checkBox->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, checkBox), 40);
}

void TestAppearance::fontMissing()
{
    QFile::remove(QLatin1String(DevicePaths::FontFile));
    const QFont before = QApplication::font();

    QTest::ignoreMessage(QtDebugMsg, "Tovrimax_font: The font can not be loaded Noto= -1");
    Appearance appearance;
    appearance.applyFont();
    QCOMPARE(QApplication::font(), before);
}

void TestAppearance::fontLoaded()
{
    const QString source = someFontFile();
    if (source.isEmpty())
        QSKIP("no font file on this machine");
    const QString target = QLatin1String(DevicePaths::FontFile);
    QVERIFY(QDir().mkpath(QFileInfo(target).path()));
    QFile::remove(target);
    QVERIFY(QFile::copy(source, target));

    MessageCapture::lines().clear();
    MessageCapture::install();
    Appearance appearance;
    appearance.applyFont();
    MessageCapture::uninstall();
    const QStringList debugLines = MessageCapture::lines();

    QCOMPARE(debugLines.size(), 2);
    const QRegularExpressionMatch idLine =
        QRegularExpression(QStringLiteral("^Tovrimax_font: Index fontNoto= (\\d+)$"))
            .match(debugLines.at(1));
    QVERIFY2(idLine.hasMatch(), qPrintable(debugLines.at(1)));
    const QStringList families = QFontDatabase::applicationFontFamilies(idLine.captured(1).toInt());
    QVERIFY(!families.isEmpty());
    QCOMPARE(debugLines.at(0), QStringLiteral("Tovrimax_font: Noto= (\"") +
                                   families.join(QStringLiteral("\", \"")) + QStringLiteral("\")"));
    QCOMPARE(QApplication::font().family(), families.first());
}

void TestAppearance::versionScreen_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("label");

    QTest::newRow("English") << "English"
                             << "Version Information"
                             << "Background"
                             << "Ravelin\nRevision:0.1";
    QTest::newRow("Chinese") << "Chinese" << QString::fromUtf8("版本信息")
                             << QString::fromUtf8("后台")
                             << QString::fromUtf8("Ravelin\n修订版本：0.1");
}

void TestAppearance::versionScreen()
{
    QFETCH(QString, language);

    // the catalogue as built beside the tool, found by the tool's own naming rule
    QTranslator translator;
    QVERIFY(translator.load(QLatin1String(DevicePaths::CatalogueTemplate)
                                .arg(QLatin1String(TOVRIMAX_BUILD_DIR), language)));
    QVERIFY(QCoreApplication::installTranslator(&translator));

    VerInfo screen;
    screen.showInfo(800, 600);
    QCoreApplication::removeTranslator(&translator);

    auto *groupBox = screen.findChild<QGroupBox *>(QStringLiteral("groupBox"));
    auto *button = screen.findChild<QPushButton *>(QStringLiteral("btnBG"));
    auto *label = screen.findChild<QLabel *>(QStringLiteral("labelInfo"));
    QVERIFY(groupBox && button && label);
    QTEST(groupBox->title(), "title");
    QTEST(button->text(), "button");
    QTEST(label->text(), "label");
    QCOMPARE(screen.windowTitle(), QStringLiteral("Form"));
}

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"
