#include "app/SimpleTimer.h"
#include "core/errors.h"
#include "core/guard.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <string>

using namespace bramblet;

class TestSimpleTimer : public QObject {
    Q_OBJECT
private slots:
    void startReports_data()
    {
        QTest::addColumn<unsigned>("interval");
        QTest::addColumn<bool>("started");
        QTest::newRow("interval 0 does not start") << 0u << false;
        QTest::newRow("interval 1 starts") << 1u << true;
        QTest::newRow("default interval starts") << 1000u << true;
        QTest::newRow("interval beyond int range still starts") << 4000000000u << true;
    }
    void startReports()
    {
        QFETCH(unsigned, interval);
        QFETCH(bool, started);
        TSimpleTimer t(interval, [] {});
        QCOMPARE(t.Start(), started);
        QCOMPARE(t.Enabled(), started);
        t.Stop();
        QVERIFY(!t.Enabled());
    }

    void repeatsUntilStopped()
    {
        int ticks = 0;
        TSimpleTimer t(5, [&] { ++ticks; });
        QVERIFY(t.Start());
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 3000);
        QVERIFY(t.Enabled());
    }

    void autoDisableStopsBeforeCallback()
    {
        bool enabledInside = true;
        int ticks = 0;
        TSimpleTimer *self = nullptr;
        TSimpleTimer t(5, [&] {
            enabledInside = self->Enabled();
            ++ticks;
        });
        self = &t;
        t.SetAutoDisable(true);
        QVERIFY(t.Start());
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 3000);
        QVERIFY(!enabledInside);
        QVERIFY(!t.Enabled());
    }

    void callbackMayRestartAutoDisabledTimer()
    {
        int ticks = 0;
        TSimpleTimer *self = nullptr;
        TSimpleTimer t(5, [&] {
            if (++ticks < 3)
                self->Start();
        });
        self = &t;
        t.SetAutoDisable(true);
        t.Start();
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 3, 3000);
        QTRY_VERIFY(!t.Enabled());
    }

    void startingRunningTimerRestartsIt()
    {
        // A timer restarted well before its interval runs out fires an interval after the
        // restart, not after the first start.
        int ticks = 0;
        TSimpleTimer t(400, [&] { ++ticks; });
        t.SetAutoDisable(true);
        QElapsedTimer clock;
        clock.start();
        t.Start();
        QTRY_VERIFY(clock.elapsed() >= 250);
        QElapsedTimer sinceRestart;
        sinceRestart.start();
        t.Start();
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 3000);
        QVERIFY2(sinceRestart.elapsed() >= 350, qPrintable(QString::number(sinceRestart.elapsed())));
    }

    void intervalChange_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<unsigned>("newInterval");
        QTest::addColumn<bool>("runningAfter");
        QTest::newRow("running timer takes the new interval") << true << 7u << true;
        QTest::newRow("running timer stops at interval 0") << true << 0u << false;
        QTest::newRow("stopped timer stays stopped") << false << 7u << false;
    }
    void intervalChange()
    {
        QFETCH(bool, running);
        QFETCH(unsigned, newInterval);
        QFETCH(bool, runningAfter);
        int ticks = 0;
        TSimpleTimer t(60000, [&] { ++ticks; });
        if (running)
            t.Start();
        t.SetInterval(newInterval);
        QCOMPARE(t.Interval(), newInterval);
        QCOMPARE(t.Enabled(), runningAfter);
        if (runningAfter)
            QTRY_VERIFY_WITH_TIMEOUT(ticks >= 1, 3000); // the 60 s interval was replaced
    }

    void errorInCallbackIsReportedAndTimerGoesOn()
    {
        std::string seen;
        setErrorSink([&](const std::string &m) { seen = m; });
        int ticks = 0;
        TSimpleTimer t(5, [&] {
            if (++ticks == 1)
                throw Error("tick failed");
        });
        t.Start();
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 3000);
        setErrorSink({});
        QCOMPARE(seen, std::string("tick failed"));
    }

    void callbackMayDestroyTimer()
    {
        int ticks = 0;
        auto t = std::make_unique<TSimpleTimer>(5, nullptr);
        t->SetOnTimer([&] {
            ++ticks;
            t.reset();
        });
        t->Start();
        QTRY_VERIFY_WITH_TIMEOUT(!t, 3000);
        QCOMPARE(ticks, 1);
    }
};

QTEST_GUILESS_MAIN(TestSimpleTimer)
#include "tst_simpletimer.moc"
