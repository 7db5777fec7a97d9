// Balloons through a real notification service: a test double owning
// org.freedesktop.Notifications on a private session bus of our own.
#include "app/Notifications.h"
#include "app/Services.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/MainWindowRig.h"
#include "support/PrivateDisplay.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

using namespace bramblet;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

struct Call {
    QString app;
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    int timeout = 0;
};

} // namespace

// Answers as a desktop's notification service would, and records what it was asked.
class NotificationServerDouble : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<Call> calls;
    QList<uint> closed;
    uint nextId = 41;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int timeout)
    {
        calls.append(Call{app, replaces, icon, summary, body, actions, timeout});
        return replaces ? replaces : ++nextId;
    }
    void CloseNotification(uint id)
    {
        closed.append(id);
        emit NotificationClosed(id, 3);
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions")}; }

signals:
    void ActionInvoked(uint id, const QString &action);
    void NotificationClosed(uint id, uint reason);
};

// Sees every notification signal that reaches the program's connection, from whichever
// sender. The bus hands a signal to all its receivers at once, so once the witness has seen
// one and a queued turn has passed, the program has handled it too.
class SignalWitness : public QObject {
    Q_OBJECT
public:
    int actions = 0;
    int closes = 0;
public slots:
    void onAction(uint, const QString &) { ++actions; }
    void onClosed(uint, uint) { ++closes; }
};

class TestNotificationsDBus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // A private session bus: nothing to activate, so nothing but our double can own the name.
        const QString address = QString::fromStdString(bus.startSessionBus(dir.path().toStdString()));
        if (address.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no private session bus: ") + bus.reason()));
        server = QDBusConnection::connectToBus(address, QStringLiteral("notification-server"));
        client = QDBusConnection::connectToBus(address, QStringLiteral("program"));
        impostor = QDBusConnection::connectToBus(address, QStringLiteral("impostor"));
        QVERIFY2(server.isConnected(), qPrintable(server.lastError().message()));
        QVERIFY(client.isConnected());
        QVERIFY(impostor.isConnected());
    }

    void init()
    {
        service = std::make_unique<NotificationServerDouble>();
        QVERIFY(server.registerObject(kPath, service.get(),
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(server.registerService(kService));
        rig.emplace();
        rig->trayAvailable = false; // a desktop without a notification area
        rig->services.notifications = [this] { return makeDBusNotifications(client); };
        form = &rig->make();
        // The first show's help balloon is not what these cases send.
        processFlags().HelpBalloonPending = false;
        processFlags().EnvironmentCheckPending = false;
        rig->countBalloonClicks();
        form->show();
        witness = std::make_unique<SignalWitness>();
        QVERIFY(client.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), witness.get(),
                               SLOT(onAction(uint, QString))));
        QVERIFY(client.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), witness.get(),
                               SLOT(onClosed(uint, uint))));
    }

    void cleanup()
    {
        client.disconnect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), witness.get(),
                          SLOT(onAction(uint, QString)));
        client.disconnect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), witness.get(),
                          SLOT(onClosed(uint, uint)));
        witness.reset();
        rig.reset();
        server.unregisterService(kService);
        server.unregisterObject(kPath);
        service.reset();
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
        QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
        bus.stop();
    }

    void whatArrives_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("body");
        QTest::newRow("help balloon") << QStringLiteral("不能正常联机？联机时有错误？") << QStringLiteral("请点我解决！")
                                      << QStringLiteral("请点我解决！");
        QTest::newRow("connected balloon, lines as line feeds")
            << QStringLiteral("连接成功") << QStringLiteral(" 对方真实地址为：10.0.0.2\r\n 速度：快")
            << QStringLiteral(" 对方真实地址为：10.0.0.2\n 速度：快");
    }
    void whatArrives()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, body);
        QVERIFY(form->TrayIcon1->ShowBalloon(title, text, BalloonIcon::Info, 10));
        QTRY_COMPARE_WITH_TIMEOUT(service->calls.size(), 1, 10000);
        const Call &c = service->calls[0];
        QCOMPARE(c.summary, title);
        QCOMPARE(c.body, body);
        QCOMPARE(c.timeout, 10000);
        QCOMPARE(c.icon, QStringLiteral("dialog-information"));
        QVERIFY(c.actions.contains(QStringLiteral("default")));
        QVERIFY(!form->StatusLine->isVisible() || !form->StatusLine->text().contains(title));
    }

    void defaultActionCountsAsBalloonClick()
    {
        QVERIFY(showBalloon(QStringLiteral("不能正常联机？联机时有错误？"), QStringLiteral("请点我解决！")));
        const uint ours = service->nextId;
        // Another program's notification is clicked first, then ours; the bus keeps the order.
        emit service->ActionInvoked(ours + 100, QStringLiteral("default"));
        emit service->ActionInvoked(ours, QStringLiteral("default"));
        settleSignals(2, 0);
        QCOMPARE(rig->balloonClicks, 1);
        QVERIFY(rig->messages.boxes.isEmpty());
    }

    void signalFromAnotherSenderIgnored()
    {
        QVERIFY(showBalloon(QStringLiteral("t"), QStringLiteral("x")));
        QDBusMessage fake = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
        fake << service->nextId << QStringLiteral("default");
        QVERIFY(impostor.send(fake));
        settleSignals(1, 0); // it reached the program's connection
        QCOMPARE(rig->balloonClicks, 0);
    }

    void timeOutReported()
    {
        int timeouts = 0;
        form->TrayIcon1->OnBalloonHintTimeout = [&](TTrayIcon *) { ++timeouts; };
        QVERIFY(showBalloon(QStringLiteral("t"), QStringLiteral("x")));
        emit service->NotificationClosed(service->nextId, 1);
        QTRY_COMPARE_WITH_TIMEOUT(timeouts, 1, 10000);
        // Once closed, a late click on it is nobody's.
        emit service->ActionInvoked(service->nextId, QStringLiteral("default"));
        emit service->NotificationClosed(service->nextId + 5, 1);
        settleSignals(1, 2);
        QCOMPARE(timeouts, 1);
        QCOMPARE(rig->balloonClicks, 0);
    }

    void balloonReplacesNotification()
    {
        QVERIFY(showBalloon(QStringLiteral("不能正常联机？联机时有错误？"), QStringLiteral("请点我解决！")));
        const uint first = service->nextId;
        QVERIFY(showBalloon(QStringLiteral("连接成功"), QStringLiteral("摘要")));
        QCOMPARE(service->closed, QList<uint>{first});
        QCOMPARE(service->calls.size(), 2);
        // A click on the first, already replaced, does nothing; one on the second counts.
        emit service->ActionInvoked(first, QStringLiteral("default"));
        emit service->ActionInvoked(service->nextId, QStringLiteral("default"));
        settleSignals(2, 1);
        QCOMPARE(rig->balloonClicks, 1);
    }

    void serviceGoneMeansStatusLine()
    {
        server.unregisterService(kService);
        QTRY_VERIFY_WITH_TIMEOUT(!client.interface()->isServiceRegistered(kService).value(), 10000);
        form->TrayIcon1->ShowBalloon(QStringLiteral("连接成功"), QStringLiteral("摘要"), BalloonIcon::Info, 10);
        QVERIFY(form->StatusLine->isVisible());
        QCOMPARE(form->StatusLine->text(), QStringLiteral("连接成功\n摘要"));
        QVERIFY(service->calls.isEmpty());
    }

private:
    // Shows a balloon and waits until the service has answered: our id is known from then on.
    [[nodiscard]] bool showBalloon(const QString &title, const QString &text)
    {
        int shown = 0;
        form->TrayIcon1->OnBalloonHintShow = [&shown](TTrayIcon *) { ++shown; };
        form->TrayIcon1->ShowBalloon(title, text, BalloonIcon::Info, 10);
        const bool answered = QTest::qWaitFor([&shown] { return shown == 1; }, 10000);
        form->TrayIcon1->OnBalloonHintShow = nullptr;
        return answered;
    }

    void settleSignals(int actions, int closes)
    {
        QTRY_COMPARE_WITH_TIMEOUT(witness->actions, actions, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(witness->closes, closes, 10000);
        QVERIFY(rig->queuedTurnPassed());
    }

    std::unique_ptr<SignalWitness> witness;
    QTemporaryDir dir;
    test::PrivateDisplay bus; // only its session bus
    QDBusConnection server{QString()};
    QDBusConnection client{QString()};
    QDBusConnection impostor{QString()};
    std::unique_ptr<NotificationServerDouble> service;
    std::optional<test::MainWindowRig> rig;
    TBrambletMainForm *form = nullptr;
};

QTEST_MAIN(TestNotificationsDBus)
#include "tst_notificationsdbus.moc"
