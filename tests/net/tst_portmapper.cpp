// The port mapper against a NAT-PMP router of the test's own: the test moves into a network
// namespace of its own and reaches a router thread in a second one over a veth pair. Root only;
// nothing leaves the two namespaces.
#include "net/PortMapper.h"
#include "support/FakeNatpmp.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <unistd.h>

#include <filesystem>

using namespace bramblet;

namespace {

int openDescriptors()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

bool complete(const router::RouterAnswer &answer)
{
    return answer.answered && answer.ports.size() == router::LinkPorts.size() &&
           std::all_of(answer.ports.begin(), answer.ports.end(),
                       [](const router::PortAnswer &p) { return p.outcome == router::PortOutcome::Mapped; });
}

} // namespace

class TestPortMapper : public QObject {
    Q_OBJECT

    test::FakeNatpmp router_;
    QTemporaryDir dir_;

    RouterOptions options(int natpmpWaitMs = 150, int closeBoundMs = 5000, int renewalMs = 5) const
    {
        return {.natpmpWaitMs = natpmpWaitMs, .upnpWaitMs = 200, .leaseSeconds = 60, .closeBoundMs = closeBoundMs,
                .renewalSecond = std::chrono::milliseconds(renewalMs),
                .recordPath = dir_.filePath(QStringLiteral("record")).toStdString(), .localAddress = {}};
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the port mapper test makes network namespaces and needs root");
        if (::unshare(CLONE_NEWNET) != 0)
            QSKIP("no network namespace of our own");
    }

    // No gateway at all: each search must give back every descriptor it took.
    void noDescriptorLostWithoutARoute()
    {
        RouterPortMapper mapper(options());
        int answers = 0;
        mapper.onAnswer = [&](IPortMapper::Stage, const router::RouterAnswer &) { ++answers; };
        mapper.discover();
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 10000);
        const int before = openDescriptors();
        for (int i = 0; i < 4; ++i)
            mapper.discover();
        QTRY_COMPARE_WITH_TIMEOUT(answers, 5, 20000);
        QCOMPARE(openDescriptors(), before);
    }

    void renewalOutlivesSilentRounds()
    {
        QVERIFY(router_.start());
        RouterPortMapper mapper(options());
        QList<router::RouterAnswer> opened;
        const auto keepOpened = [&](IPortMapper::Stage stage, const router::RouterAnswer &answer) {
            if (stage == IPortMapper::Stage::Opened)
                opened << answer;
        };
        mapper.onAnswer = keepOpened;
        mapper.openPorts();
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty() && complete(opened.last()), 10000);
        QCOMPARE(QString::fromStdString(opened.last().externalAddress), QStringLiteral("11.0.113.1"));

        // The router reboots: rounds go unanswered, the search starts again, and the ports are
        // mapped again once it is back.
        router_.silent = true;
        const qsizetype before = opened.size();
        QTRY_VERIFY_WITH_TIMEOUT(opened.size() > before + 2 && !opened.last().answered, 20000);
        router_.silent = false;
        QTRY_VERIFY_WITH_TIMEOUT(complete(opened.last()), 20000);

        // A close the router does not answer ends within its bound and keeps the record.
        router_.silent = true;
        bool closed = false;
        mapper.onAnswer = [&](IPortMapper::Stage stage, const router::RouterAnswer &) { closed = closed || stage == IPortMapper::Stage::Closed; };
        mapper.closePorts();
        QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
        QVERIFY(QFile::exists(dir_.filePath(QStringLiteral("record"))));

        // The next run removes what the record names, and the record with it.
        router_.silent = false;
        router_.removals = 0;
        RouterPortMapper next(options());
        next.discover();
        QTRY_COMPARE_WITH_TIMEOUT(router_.removals.load(), int(router::LinkPorts.size()), 10000);
        QTRY_VERIFY(!QFile::exists(dir_.filePath(QStringLiteral("record"))));

        // A close whose removals outlast its bound: the next round waits for them, or their late
        // copies would take the new forwards with them.
        RouterPortMapper third(options(600, 100, 100)); // no renewal comes between
        opened.clear();
        third.onAnswer = keepOpened;
        third.openPorts();
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty() && complete(opened.last()), 10000);
        router_.answerRemovals = false;
        third.closePorts();
        third.openPorts();
        QTRY_VERIFY_WITH_TIMEOUT(opened.size() > 1 && complete(opened.last()), 10000);
        QTest::qWait(600); // any late copy of a removal has gone out by now
        QCOMPARE(router_.removalsSinceGrant.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPortMapper)
#include "tst_portmapper.moc"
