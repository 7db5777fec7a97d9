// Two real connect dialogs, SERVER and CLIENT, each in a network namespace of its own joined
// by a veth pair, complete the negotiation and the speed test against each other on the
// program's own ports.
#include "harness.h"

#include <QHash>
#include <QtTest>

using namespace bramblet::e2e;

namespace {

const QString kServerAddress = QStringLiteral("10.78.0.1");
const QString kClientAddress = QStringLiteral("10.78.0.2");

QMultiHash<QString, QString> results(const QByteArray &output)
{
    QMultiHash<QString, QString> r;
    for (const QString &line : QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            r.insert(line.left(eq), line.mid(eq + 1));
    }
    return r;
}

} // namespace

class TestDialogPair : public QObject {
    Q_OBJECT

private slots:
    void twoDialogsMeetAcrossNamespaces()
    {
        NamespacePair ns(QStringLiteral("dlg1"));
        const QString why = ns.create(kServerAddress, kClientAddress);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QString helper = QStringLiteral(BRAMBLET_E2E_BIN_DIR "/e2e_dialogside");
        QProcess server, client;
        for (QProcess *p : { &server, &client })
            p->setProcessChannelMode(QProcess::SeparateChannels);
        // `ip netns exec` execs the helper, so each QProcess holds the helper's own PID.
        server.start(QStringLiteral("ip"),
            { QStringLiteral("netns"), QStringLiteral("exec"), ns.a(), helper, QStringLiteral("server"), kClientAddress,
                QStringLiteral("45000") });
        client.start(QStringLiteral("ip"),
            { QStringLiteral("netns"), QStringLiteral("exec"), ns.b(), helper, QStringLiteral("client"), kServerAddress,
                QStringLiteral("45000") });
        QVERIFY(server.waitForStarted(5000) && client.waitForStarted(5000));
        // The CLIENT may knock before the SERVER listens: a quick retry plus eleven ticks.
        QVERIFY(server.waitForFinished(60000));
        QVERIFY(client.waitForFinished(60000));
        const QByteArray serverOut = server.readAllStandardOutput();
        const QByteArray clientOut = client.readAllStandardOutput();
        const QString both = QString::fromUtf8(
            serverOut + "\n--\n" + clientOut + server.readAllStandardError() + client.readAllStandardError());
        QVERIFY2(server.exitCode() == 0 && client.exitCode() == 0, qPrintable(both));

        struct Side {
            QMultiHash<QString, QString> r;
            QString peer, own;
        };
        const Side sides[] = { { results(serverOut), kClientAddress, kServerAddress },
            { results(clientOut), kServerAddress, kClientAddress } };
        for (const Side &side : sides) {
            QVERIFY2(!side.r.contains(QStringLiteral("box")), qPrintable(both));
            QCOMPARE(side.r.value(QStringLiteral("ResultCode")), QStringLiteral("0"));
            QCOMPARE(side.r.value(QStringLiteral("PeerAddress")), side.peer);
            QCOMPARE(side.r.value(QStringLiteral("OwnAddress")), side.own);
            // No address translation between the namespaces: the CLIENT's source port is 5739.
            QCOMPARE(side.r.value(QStringLiteral("PeerUdpPort")), QStringLiteral("5739"));
            QCOMPARE(side.r.value(QStringLiteral("LossRating")), QStringLiteral("没有丢包"));
            QCOMPARE(side.r.value(QStringLiteral("SpeedRating")), QStringLiteral("极好"));
            QVERIFY(!side.r.value(QStringLiteral("StabilityRating")).isEmpty());
            const QStringList rtt = side.r.value(QStringLiteral("Rtt")).split(QLatin1Char(','));
            QCOMPARE(rtt.size(), 10);
            for (const QString &v : rtt)
                QVERIFY2(v.toInt() >= 0 && v.toInt() < 1000, qPrintable(both));
        }
    }
};

QTEST_GUILESS_MAIN(TestDialogPair)
#include "tst_dialogpair.moc"
