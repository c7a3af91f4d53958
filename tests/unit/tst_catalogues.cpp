#include "sandboxguard.h"

#include <QtTest>

namespace {
const char Lupdate[] = "/usr/lib/qt5/bin/lupdate";

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty for a finished one
    bool commented = false;
};

QVector<Message> readCatalogue(const QString &path, QString *error)
{
    QVector<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            messages.append(Message{context, {}, {}, {}, false});
        } else if (xml.name() == QLatin1String("source")) {
            messages.last().source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translatorcomment")) {
            messages.last().commented = true;
        } else if (xml.name() == QLatin1String("translation")) {
            messages.last().type = xml.attributes().value(QLatin1String("type")).toString();
            messages.last().translation = xml.readElementText();
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QStringList keys(const QVector<Message> &messages)
{
    QStringList result;
    for (const Message &message : messages)
        result << message.context + QLatin1String(" | ") +
                      QString(message.source).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    result.sort();
    return result;
}

QStringList placeholders(const QString &text)
{
    QStringList found;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("%\\d")).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured();
    found.sort();
    return found;
}

QString cataloguePath(const QString &language)
{
    return QLatin1String(TOVRIMAX_SOURCE_DIR "/translations/Tovrimax_") + language +
           QLatin1String(".ts");
}
} // namespace

class TestCatalogues : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void complete_data();
    void complete();
    void upToDate_data();
    void upToDate();
};

void TestCatalogues::initTestCase()
{
    QVERIFY2(insideSandbox(), "runs lupdate; run it through sandbox-run");
}

void TestCatalogues::complete_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "Chinese";
    QTest::newRow("English") << "English";
}

// every text of the screens has a finished translation that keeps its placeholders and its
// trailing line break; Chinese may keep the English text only where a comment says why
void TestCatalogues::complete()
{
    QFETCH(QString, language);
    QString error;
    const QVector<Message> messages = readCatalogue(cataloguePath(language), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QStringList contexts;
    for (const Message &message : messages) {
        const QByteArray where = (message.context + QLatin1String(": ") + message.source).toUtf8();
        QVERIFY2(message.type.isEmpty(), where.constData());
        QVERIFY2(!message.translation.isEmpty(), where.constData());
        QCOMPARE(placeholders(message.translation), placeholders(message.source));
        QCOMPARE(message.translation.endsWith(QLatin1Char('\n')),
                 message.source.endsWith(QLatin1Char('\n')));
        if (language == QLatin1String("English"))
            QCOMPARE(message.translation, message.source);
        else if (message.translation == message.source)
            QVERIFY2(message.commented, where.constData());
        contexts << message.context;
    }
    contexts.removeDuplicates();
    contexts.sort();
    QCOMPARE(contexts, QStringList({QStringLiteral("AppUpdate"), QStringLiteral("PanicReport"),
                                    QStringLiteral("VerInfo")}));
}

void TestCatalogues::upToDate_data()
{
    complete_data();
}

// lupdate over the sources must find nothing the catalogue lacks, and nothing it holds that
// the sources no longer use; same options as "./dev lupdate"
void TestCatalogues::upToDate()
{
    QFETCH(QString, language);
    QVERIFY2(QFile::exists(QLatin1String(Lupdate)), "lupdate missing: install qttools5-dev-tools");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("catalogue.ts"));
    QVERIFY(QFile::copy(cataloguePath(language), copy));

    QProcess lupdate;
    lupdate.start(QLatin1String(Lupdate),
                  {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                   QStringLiteral("-no-obsolete"), QLatin1String(TOVRIMAX_SOURCE_DIR "/src"),
                   QStringLiteral("-ts"), copy});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitStatus(), QProcess::NormalExit);
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());

    QString error;
    const QStringList checkedIn = keys(readCatalogue(cataloguePath(language), &error));
    const QStringList fromSources = keys(readCatalogue(copy, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList missing;
    for (const QString &key : fromSources)
        if (!checkedIn.contains(key))
            missing << key;
    QStringList stale;
    for (const QString &key : checkedIn)
        if (!fromSources.contains(key))
            stale << key;
    QVERIFY2(missing.isEmpty(), qPrintable(QLatin1String("not in the catalogue (run ./dev lupdate "
                                                         "and translate): ") +
                                           missing.join(QLatin1String("; "))));
    QVERIFY2(stale.isEmpty(), qPrintable(QLatin1String("no longer in the sources: ") +
                                         stale.join(QLatin1String("; "))));
}

QTEST_GUILESS_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
