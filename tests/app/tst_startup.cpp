#include "app/ErrorBox.h"
#include "app/Startup.h"
#include "app/UnitDuetra.h"
#include "app/UnitFlash.h"
#include "net/PortMapper.h"
#include "platform/singleinstance.h"
#include "support/ProgramCopy.h"
#include "support/QuietDesktop.h"
#include "support/RecordingMessages.h"
#include "support/TestText.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace bramblet;
using bramblet::test::RecordingMessages;

class TestStartup : public QObject {
    Q_OBJECT
    QTemporaryDir runtime;

    static void expectRefusalBox(const QList<QByteArray> &lines)
    {
        QCOMPARE(lines.size(), 1);
        QCOMPARE(QString::fromUtf8(lines[0]), QStringLiteral("box\t运行\tnone\t该程序正在运行，请先关闭！"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    void splashWindow()
    {
        TFormFlash splash(std::chrono::milliseconds(50));
        QCOMPARE(splash.size(), QSize(329, 208));
        QVERIFY(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(splash.windowTitle(), QStringLiteral("FormFlash"));
        // The picture is ten rows taller than the window and is not scaled.
        const QPixmap picture = splash.Image1->pixmap();
        QCOMPARE(picture.size(), QSize(329, 218));
        QCOMPARE(splash.Image1->geometry(), QRect(0, 0, 329, 208));
        QVERIFY(!splash.Image1->hasScaledContents());
        QCOMPARE(splash.Image1->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QVERIFY(splash.Timer1->isActive());
        QTRY_VERIFY(!splash.Timer1->isActive());
    }

    void startupOrder()
    {
        RecordingMessages messages;
        MainFormServices services;
        services.messages = &messages;
        bramblet::test::quietDesktop(services);
        QStringList steps;
        QElapsedTimer clock;
        qint64 splashShownAt = -1;
        qint64 splashDoneAt = -1;
        bool splashVisibleAtMain = false;
        StartupOptions options;
        options.splashTime = std::chrono::milliseconds(300);
        options.trace = [&](const QString &step) {
            steps << step;
            if (step == QLatin1String("splash-shown")) {
                clock.start();
                splashShownAt = 0;
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (w->objectName() == QLatin1String("FormFlash") && w->isVisible())
                        splashShownAt = 1;
            }
            if (step == QLatin1String("splash-done"))
                splashDoneAt = clock.elapsed();
        };
        options.mainCreated = [&](TBrambletMainForm &form) {
            QVERIFY(form.isVisible());
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("FormFlash"))
                    splashVisibleAtMain = true;
            QTimer::singleShot(0, &form, [&form] { form.close(); });
        };
        // The router's removals are asked for at the close and waited for only once no window is left.
        struct : IPortMapper {
            QStringList calls;
            void discover() override {}
            void openPorts() override {}
            void closePorts() override { calls << QStringLiteral("close"); }
            void shutdown(std::chrono::milliseconds) override { calls << QStringLiteral("shutdown"); }
        } router;
        services.portMapper = &router;
        options.beforeRelease = [&] { router.calls << QString::number(QApplication::topLevelWidgets().size()); router.shutdown({}); };
        QCOMPARE(runStartup(*qApp, services, options), 0);
        QCOMPARE(router.calls, test::strings({"close", "0", "shutdown"}));
        QCOMPARE(steps, test::strings({"title", "splash-shown", "splash-done", "main-created", "splash-destroyed", "loop-ended"}));
        QCOMPARE(splashShownAt, qint64(1));
        // The splash stays until its timer ticks; a splash that did not wait would be done at once.
        QVERIFY2(splashDoneAt >= 250, qPrintable(QString::number(splashDoneAt)));
        QVERIFY(!splashVisibleAtMain);
        QVERIFY(messages.boxes.isEmpty());
    }

    void secondCopyInProcessIsRefused()
    {
        platform::SingleInstance first(QStringLiteral("TBrambletMainForm"), runtime.path());
        QVERIFY(first.acquire());
        RecordingMessages messages;
        MainFormServices services;
        services.messages = &messages;
        bramblet::test::quietDesktop(services);
        QStringList steps;
        StartupOptions options;
        options.trace = [&](const QString &step) { steps << step; };
        QCOMPARE(runStartup(*qApp, services, options), 0);
        QCOMPARE(steps, test::strings({"instance-refused"}));
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY(!messages.boxes[0].hadOwner);
        QCOMPARE(messages.boxes[0].caption, QStringLiteral("运行"));
        QCOMPARE(messages.boxes[0].icon, MessageIcon::None);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("该程序正在运行，请先关闭！"));
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void lockOfADeadCopyIsTakenOver()
    {
        QTemporaryDir dir;
        // A lock file naming a process that no longer exists, as a killed copy leaves it.
        QFile stale(dir.filePath(QStringLiteral("TBrambletMainForm.lock")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("999999999\nBramblet\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        stale.close();
        platform::SingleInstance again(QStringLiteral("TBrambletMainForm"), dir.path());
        QVERIFY(again.acquire());
    }

    void twoRealProcesses()
    {
        const QString why = test::privateEtcUnavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        // Each copy reads /etc/hosts at start, so each gets an /etc of its own; the second
        // shares the first's runtime folder, as two starts by one player do.
        test::ProgramCopy first, second;
        QCOMPARE(first.prepare(), QString());
        QCOMPARE(second.prepare(), QString());
        QVERIFY(first.start({}, {}));
        // The first copy holds the name once its socket answers.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(first.runtimeDir() + QStringLiteral("/TBrambletMainForm")), 10000);

        QVERIFY(second.start({}, {}, {QStringLiteral("XDG_RUNTIME_DIR=") + first.runtimeDir()}));
        QVERIFY(second.process().waitForFinished(15000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        expectRefusalBox(test::logLines(second.uiLog()));

        // The first copy is unaffected: still running, and it showed no box.
        QCOMPARE(first.process().state(), QProcess::Running);
        for (const QByteArray &line : test::logLines(first.uiLog()))
            QVERIFY2(!line.startsWith("box\t"), line.constData());
    }
};

int main(int argc, char *argv[])
{
    BrambletApplication app(argc, argv);
    TestStartup t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_startup.moc"
