#include "screenchoice.h"

#include <QtTest>

class TestScreenChoice : public QObject
{
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
    void centring_data();
    void centring();
};

void TestScreenChoice::choice_data()
{
    QTest::addColumn<QVector<QRect>>("screens");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("no screen") << QVector<QRect>{} << -1 << 800 << 600;
    QTest::newRow("800x600") << QVector<QRect>{{0, 0, 800, 600}} << -1 << 800 << 600;
    QTest::newRow("800x480 keeps 600 high") << QVector<QRect>{{0, 0, 800, 480}} << -1 << 800 << 600;
    QTest::newRow("801 wide is wider") << QVector<QRect>{{0, 0, 801, 480}} << 0 << 801 << 480;
    QTest::newRow("1024x768") << QVector<QRect>{{0, 0, 1024, 768}} << 0 << 1024 << 768;
    QTest::newRow("narrower than 800") << QVector<QRect>{{0, 0, 640, 480}} << -1 << 800 << 600;
    QTest::newRow("1280 then 1024")
        << QVector<QRect>{{0, 0, 1280, 800}, {1280, 0, 1024, 768}} << 0 << 1280 << 800;
    QTest::newRow("1024 then 1280")
        << QVector<QRect>{{0, 0, 1024, 768}, {1024, 0, 1280, 800}} << 1 << 1280 << 800;
    QTest::newRow("equal widths: lowest index, its height")
        << QVector<QRect>{{0, 0, 1024, 768}, {1024, 0, 1024, 600}} << 0 << 1024 << 768;
    QTest::newRow("missing screen widget skipped")
        << QVector<QRect>{QRect(), {0, 0, 1024, 768}} << 1 << 1024 << 768;
    QTest::newRow("offset screen measured by its own span")
        << QVector<QRect>{{500, 300, 900, 700}} << 0 << 900 << 700;
}

void TestScreenChoice::choice()
{
    QFETCH(QVector<QRect>, screens);
    const ScreenChoice choice = chooseScreen(screens);
    QTEST(choice.index, "index");
    QTEST(choice.width, "width");
    QTEST(choice.height, "height");
}

void TestScreenChoice::centring_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("origin");

    QTest::newRow("800x600") << 800 << 600 << QPoint(80, 60);
    QTest::newRow("1024x768") << 1024 << 768 << QPoint(192, 144);
    QTest::newRow("1280x800") << 1280 << 800 << QPoint(320, 160);
    QTest::newRow("639 truncates toward zero") << 639 << 479 << QPoint(0, 0);
    QTest::newRow("600x400 off the desktop") << 600 << 400 << QPoint(-20, -40);
    QTest::newRow("601x479") << 601 << 479 << QPoint(-19, 0);
}

void TestScreenChoice::centring()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QTEST(centredOrigin(width, height), "origin");
}

QTEST_APPLESS_MAIN(TestScreenChoice)
#include "tst_screenchoice.moc"
