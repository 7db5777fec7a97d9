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
} // namespace

class TestTranslations : public QObject {
    Q_OBJECT
private slots:
    void language_data()
    {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("Chinese") << QStringList{QStringLiteral("zh-Hant-TW")} << QString();
        QTest::newRow("C locale") << QStringList{QStringLiteral("C")} << QString();
        QTest::newRow("Italian") << QStringList{QStringLiteral("it-IT")} << QStringLiteral("it");
        QTest::newRow("German gets English") << QStringList{QStringLiteral("de-DE")} << QStringLiteral("en");
        QTest::newRow("German, then Italian") << QStringList{QStringLiteral("de"), QStringLiteral("it")} << QStringLiteral("it");
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
    // Each translation keeps its source's placeholders, and core's lines of a link and of its
    // router failures, built in that language, hold no Chinese piece.
    void files()
    {
        QFETCH(QString, suffix);
        QFile ts(QStringLiteral(BRAMBLET_SOURCE_DIR "/translations/bramblet_%1.ts").arg(suffix));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const bool isSource = xml.name() == QLatin1String("source");
            if (!isSource && xml.name() != QLatin1String("translation"))
                continue;
            const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (isSource)
                source = text;
            else
                QVERIFY2(placeholders(text) == placeholders(source), qPrintable(source + QStringLiteral(" → ") + text));
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral("bramblet_") + suffix, QStringLiteral(BRAMBLET_STAGE_DIR "/translations")));
        QCoreApplication::installTranslator(&translator);
        using namespace router;
        const texts::Translator tr = qtTranslator();
        RouterAnswer conflict{true, "upnp", "11.0.113.1", "192.168.1.20", {{LinkPorts[0], PortOutcome::Conflict, 0}}, false, "", ""};
        RouterAnswer refused = conflict, cutShort = conflict, shared = conflict;
        refused.ports[0].outcome = PortOutcome::Refused;
        cutShort.ports[0].outcome = PortOutcome::Mapped;
        shared.externalAddress = "100.64.0.1";
        const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        for (const Advice &a : {adviceAtStart(conflict), adviceAtStart(shared), adviceForServer({}, ""),
                                adviceForServer({}, "10.0.0.2"), adviceForServer(conflict, ""), adviceForServer(refused, ""),
                                adviceForServer(cutShort, ""), adviceForClient(3, "1.2.3.4", 9001), adviceForUfw()})
            QVERIFY2(!translatedAdvice(a).contains(chinese), qPrintable(translatedAdvice(a)));
        const QString summary = QString::fromStdString(linkSummary("1.2.3.4", "", "", "", tr));
        QVERIFY2(!summary.contains(chinese), qPrintable(summary));
        QCOMPARE(trayEncoding(), QByteArrayLiteral("windows-1252"));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(trayEncoding(), QByteArrayLiteral("GB2312"));
    }

    // The tooltip's cut in a Western code page: one byte a letter, never inside one.
    void westernCut()
    {
        const QString a126(126, QLatin1Char('a'));
        QCOMPARE(cutToBytes(a126 + QStringLiteral("èx"), kTrayTipBytes, "windows-1252"), a126 + QStringLiteral("è"));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
