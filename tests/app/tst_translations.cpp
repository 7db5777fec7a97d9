#include "app/Gb2312.h"
#include "app/Translation.h"
#include "core/linksummary.h"
#include "core/router.h"

#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

using namespace bramblet;

namespace {
QStringList placeholders(const QString &text)
{
    QStringList out;
    for (const QRegularExpressionMatch &m : QRegularExpression(QStringLiteral("%\\d")).globalMatch(text))
        out << m.captured();
    out.sort();
    return out;
}

// Every line a link or its failures put on screen from core, built in the installed language.
QStringList coreTexts()
{
    using namespace router;
    const texts::Translator tr = qtTranslator();
    RouterAnswer answer{true, "upnp", "11.0.113.1", "192.168.1.20", {}, false};
    answer.ports = {{LinkPorts[0], PortOutcome::Conflict, 0}, {LinkPorts[1], PortOutcome::Refused, 718}};
    RouterAnswer refused = answer;
    refused.ports.erase(refused.ports.begin());
    RouterAnswer cutShort = answer;
    cutShort.ports = {{LinkPorts[0], PortOutcome::Mapped, 0}};
    RouterAnswer shared = answer;
    shared.externalAddress = "100.64.0.1";
    QStringList out;
    for (const Advice &a : {adviceAtStart(answer, tr), adviceAtStart(shared, tr), adviceForServer({}, "", tr),
                            adviceForServer({}, "10.0.0.2", tr), adviceForServer(answer, "", tr),
                            adviceForServer(refused, "", tr), adviceForServer(cutShort, "", tr), adviceForClient(3, "1.2.3.4", 9001, tr)})
        out << QString::fromStdString(a.text);
    out << QString::fromStdString(linkSummary("1.2.3.4", "x", "y", "z", tr));
    return out;
}
} // namespace

class TestTranslations : public QObject {
    Q_OBJECT
private slots:
    void language_data()
    {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("Chinese") << QStringList{QStringLiteral("zh-CN")} << QString();
        QTest::newRow("Chinese, traditional script") << QStringList{QStringLiteral("zh-Hant-TW")} << QString();
        QTest::newRow("C locale") << QStringList{QStringLiteral("C")} << QString();
        QTest::newRow("Italian") << QStringList{QStringLiteral("it-IT"), QStringLiteral("it")} << QStringLiteral("it");
        QTest::newRow("English") << QStringList{QStringLiteral("en-GB")} << QStringLiteral("en");
        QTest::newRow("German gets English") << QStringList{QStringLiteral("de-DE")} << QStringLiteral("en");
        QTest::newRow("German, then Italian") << QStringList{QStringLiteral("de"), QStringLiteral("it")} << QStringLiteral("it");
        QTest::newRow("nothing preferred") << QStringList{} << QStringLiteral("en");
    }
    void language()
    {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QString, suffix);
        QCOMPARE(translationFor(uiLanguages), suffix);
    }

    void files_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("English") << QStringLiteral("en");
        QTest::newRow("Italian") << QStringLiteral("it");
    }
    // Each translation keeps its source's placeholders, and the built program speaks no
    // Chinese in that language.
    void files()
    {
        QFETCH(QString, suffix);
        QFile ts(QStringLiteral(BRAMBLET_SOURCE_DIR "/translations/bramblet_%1.ts").arg(suffix));
        QVERIFY2(ts.open(QIODevice::ReadOnly), qPrintable(ts.fileName()));
        QXmlStreamReader xml(&ts);
        QString source;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            } else if (xml.name() == QLatin1String("translation")) {
                const QString translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                QVERIFY2(placeholders(translation) == placeholders(source), qPrintable(source + QStringLiteral(" → ") + translation));
                ++messages;
            }
        }
        QVERIFY2(!xml.hasError() && messages > 0, qPrintable(xml.errorString()));

        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral("bramblet_") + suffix, QStringLiteral(BRAMBLET_STAGE_DIR "/translations")));
        QCoreApplication::installTranslator(&translator);
        const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        for (const QString &text : coreTexts())
            QVERIFY2(!text.contains(chinese), qPrintable(text));
        QCOMPARE(trayEncoding(), QByteArrayLiteral("windows-1252"));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(trayEncoding(), QByteArrayLiteral("GB2312"));
    }

    // The tooltip's cut in a Western code page: one byte a letter, never inside one.
    void westernCut()
    {
        const QString a126(126, QLatin1Char('a'));
        QCOMPARE(cutToBytes(a126 + QStringLiteral("èx"), kTrayTipBytes, "windows-1252"), a126 + QStringLiteral("è"));
        QCOMPARE(cutToBytes(a126 + QStringLiteral("è"), kTrayTipBytes, "UTF-8"), a126);
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
