#include "app/ErrorBox.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"
#include "support/MainWindowRig.h"
#include "support/RecordingCompanion.h"
#include "support/StagedCopy.h"

#include <QAbstractItemModel>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace bramblet;
using namespace bramblet::test;

namespace {

const QByteArray kOriginalHosts = "127.0.0.1  localhost\n10.9.9.9  printer.lan\n";
const QString kNoAnswer = QStringLiteral("对方Bramblet版本太低或者网络不通");

ConnectResults completed(const QString &own, const QString &peer, std::uint16_t peerPort = 40001)
{
    ConnectResults r;
    r.ResultCode = 0;
    r.OwnAddress = own;
    r.PeerAddress = peer;
    r.PeerUdpPort = peerPort;
    r.SpeedRating = QStringLiteral("极好");
    r.StabilityRating = QStringLiteral("很好");
    r.LossRating = QStringLiteral("没有丢包");
    return r;
}

QByteArray expectedHosts(const QString &hostsPath, const QString &gateway, const QString &stun)
{
    return QByteArray::fromStdString(hosts::redirectedHostsContent(gateway.toStdString(), stun.toStdString(),
                                                                   platform::hostsStyle(), kOriginalHosts.toStdString(),
                                                                   (hostsPath + QStringLiteral(".bak")).toStdString()));
}

} // namespace

// A guard the desktop was not allowed to start: its first answer is a refusal.
class RefusedGuard : public InProcessHostsGuard {
public:
    using InProcessHostsGuard::InProcessHostsGuard;
    hosts::Restored restoreStale() override { throw Error("refused"); }
};

class TestLinkStart : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    RecordingCompanion companion;
    std::optional<QString> localAddress;
    bool guardRefused = false;
    std::function<void()> onLookup;
    QuietDesktop desktop;
    MainWindowRig rig;
    RecordingMessages &messages = rig.messages;
    FakeConnectDialog *&dialog = rig.dialog;
    FakeTrayHost *&host = rig.host;
    std::unique_ptr<TBrambletMainForm> &form = rig.form;

    QString hostsPath() const { return dir->filePath(QStringLiteral("etc/hosts")); }
    QString serverLog() const { return dir->filePath(QStringLiteral("companion.log")); }

    void makeForm()
    {
        rig.services.settings = &desktop;
        rig.services.companion = &companion;
        rig.services.hostsGuard = [this]() -> std::unique_ptr<platform::IHostsGuard> {
            if (guardRefused)
                return std::make_unique<RefusedGuard>(hostsPath());
            return std::make_unique<InProcessHostsGuard>(hostsPath());
        };
        rig.services.programFolder = dir->path() + QLatin1Char('/');
        rig.services.localAddress = [this] {
            if (onLookup)
                onLookup();
            return localAddress;
        };
        rig.services.playerChannelPort = 21881;
        rig.fakeDialog();
        rig.make();
        processFlags().EnvironmentCheckPending = false;
        processFlags().HelpBalloonPending = false;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    void press(bool server, const QString &typed)
    {
        form->EditRemoteIp->setText(typed);
        QTest::mouseClick(server ? form->ButtonServer : form->ButtonClient, Qt::LeftButton);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        desktop.peers.clear();
        QDir().mkpath(dir->filePath(QStringLiteral("etc")));
        QVERIFY(writeAll(hostsPath(), kOriginalHosts));
        QVERIFY(copyStaged(QStringLiteral("Lib/Ostrel"), dir->path()));
        qputenv("BRAMBLET_COMPANION_LOG", serverLog().toLocal8Bit());
        messages.boxes.clear();
        companion = RecordingCompanion{};
        localAddress = QStringLiteral("192.168.1.20");
        makeForm();
    }
    void cleanup()
    {
        form->close();
        form.reset();
        qunsetenv("BRAMBLET_COMPANION_LOG");
    }

    void typedAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("warning");
        const QString illegal = QStringLiteral("对方IP地址包含非法字符！");
        QTest::newRow("plain") << "10.0.0.2" << "10.0.0.2" << "";
        QTest::newRow("blanks around and inside") << " 10.0.0. 2 " << "10.0.0.2" << "";
        QTest::newRow("control characters at the ends") << "\t10.0.0.2\r\n" << "10.0.0.2" << "";
        QTest::newRow("two parts as the conversion takes them") << "10.1" << "10.1" << "";
        QTest::newRow("one number") << "167772162" << "167772162" << "";
        QTest::newRow("all ones equals the failure value") << "255.255.255.255" << "" << illegal;
        QTest::newRow("letters") << "ten.0.0.2" << "" << illegal;
        QTest::newRow("empty field") << "" << "" << illegal;
        QTest::newRow("only blanks") << "   " << "" << illegal;
        QTest::newRow("part too large") << "10.0.0.256" << "" << illegal;
    }
    void typedAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, given);
        QFETCH(QString, warning);
        press(true, typed);
        // The field keeps what the user typed.
        QCOMPARE(form->EditRemoteIp->text(), typed);
        if (warning.isEmpty()) {
            QCOMPARE(dialog->log, QStringList({QStringLiteral("address ") + given, QStringLiteral("role 1"),
                                               QStringLiteral("show")}));
            QVERIFY(messages.boxes.isEmpty());
        } else {
            QCOMPARE(dialog->shows, 0);
            QCOMPARE(messages.texts(), QStringList{warning});
            QCOMPARE(messages.boxes[0].caption, QStringLiteral("警告"));
            QCOMPARE(messages.boxes[0].icon, MessageIcon::Warning);
            QCOMPARE(messages.boxes[0].owner.data(), static_cast<QWidget *>(form.get()));
        }
    }

    void cancelledDialogLeavesTheWindowIdle_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("SERVER") << true;
        QTest::newRow("CLIENT") << false;
    }
    void cancelledDialogLeavesTheWindowIdle()
    {
        QFETCH(bool, server);
        dialog->results.ResultCode = -1;
        press(server, QStringLiteral("10.0.0.2"));
        QCOMPARE(dialog->log.last(), QStringLiteral("show"));
        QCOMPARE(dialog->log.at(1), server ? QStringLiteral("role 1") : QStringLiteral("role 2"));
        QVERIFY(messages.boxes.isEmpty());
        QVERIFY(companion.calls.isEmpty());
        QVERIFY(!form->TimerBalloon->isActive());
        QVERIFY(form->TrayIcon1->Hint().isEmpty());
        QCOMPARE(readAll(hostsPath()), kOriginalHosts);
        QVERIFY(form->ButtonServer->isEnabled());
        QVERIFY(form->ButtonClient->isEnabled());
        QCOMPARE(form->LinkRole, -1);
        QVERIFY(!form->ServerSocket1->Active());
        QVERIFY(form->isVisible());
        QVERIFY(!QFile::exists(hostsPath() + QStringLiteral(".bak")));
        QVERIFY(desktop.peers.isEmpty());
    }

    void completedLink_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("gateway");
        QTest::newRow("SERVER points the game at itself") << true << "203.0.113.7";
        QTest::newRow("CLIENT points the game at its peer") << false << "198.51.100.9";
    }
    void completedLink()
    {
        QFETCH(bool, server);
        QFETCH(QString, gateway);
        // The SERVER sees itself at 203.0.113.7; the CLIENT sees the SERVER at 198.51.100.9.
        dialog->results = server ? completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"), 40001)
                                 : completed(QStringLiteral("198.51.100.20"), QStringLiteral("198.51.100.9"), 5739);
        // A second press while the lookup lets the window run starts nothing of its own.
        onLookup = [this] { QTest::mouseClick(form->ButtonServer, Qt::LeftButton); };
        press(server, QStringLiteral(" 198.51.100.9"));
        onLookup = nullptr;
        QCOMPARE(dialog->shows, 1);
        // The address led to a link: typing offers it from now on.
        QCOMPARE(desktop.peers, QStringList{QStringLiteral("198.51.100.9")});
        QCOMPARE(form->PeerCompleter->model()->rowCount(), 1);

        QVERIFY2(messages.boxes.isEmpty(), qPrintable(messages.texts().join(QLatin1Char('|'))));
        QCOMPARE(form->LinkRole, server ? 1 : 2);
        QCOMPARE(form->OwnRealAddress, dialog->results.OwnAddress);
        QCOMPARE(form->PeerRealAddress, dialog->results.PeerAddress);
        QCOMPARE(form->OwnSpeedPort, std::uint16_t(server ? 5739 : 0));
        QCOMPARE(form->PeerSpeedPort, std::uint16_t(server ? 40001 : 0));
        if (server)
            QCOMPARE(companion.calls, QStringList{QStringLiteral("MessageF 203.0.113.7 5739 198.51.100.20 40001")});
        else
            QVERIFY(companion.calls.isEmpty());
        // Only the SERVER listens for players.
        QCOMPARE(form->ServerSocket1->Active(), server);

        const QString summary = QStringLiteral(" 对方真实地址为：") + dialog->results.PeerAddress +
                                QStringLiteral("\r\n 速度：极好\r\n 稳定性：很好\r\n 丢包：没有丢包");
        QCOMPARE(form->TrayIcon1->Hint(), summary);
        QCOMPARE(form->LocalAddress, QStringLiteral("192.168.1.20"));
        QCOMPARE(readAll(hostsPath()), expectedHosts(hostsPath(), gateway, QStringLiteral("192.168.1.20")));
        QCOMPARE(readAll(hostsPath() + QStringLiteral(".bak")), kOriginalHosts);
        QVERIFY(!form->ButtonServer->isEnabled());
        QVERIFY(!form->ButtonClient->isEnabled());

        // The local server runs with the local address.
        QTRY_VERIFY(readAll(serverLog()).contains("argc=4\targ1=-h\targ2=127.0.0.1\targ3=-a\targ4=192.168.1.20"));
        QVERIFY(form->LaunchResult > 0);

        // The posted minimise takes the window to the tray once the press has returned.
        QTRY_VERIFY(!form->isVisible());

        // The connected balloon a second later, with the summary; the help balloon is over.
        processFlags().HelpBalloonActive = true;
        QTRY_COMPARE_WITH_TIMEOUT(host->balloons.size(), 1, 3000);
        QCOMPARE(host->balloons[0].title, QStringLiteral("连接成功"));
        QCOMPARE(host->balloons[0].text, summary);
        QCOMPARE(host->balloons[0].msecs, 10000);
        QVERIFY(!processFlags().HelpBalloonActive);
        QVERIFY(!form->TimerBalloon->isActive());

        // At close the hosts file comes back and the local server ends.
        form->close();
        QCOMPARE(readAll(hostsPath()), kOriginalHosts);
        QVERIFY(!QFile::exists(hostsPath() + QStringLiteral(".bak")));
        QTRY_VERIFY(readAll(serverLog()).contains("end=SIGTERM"));
    }

    void ownAddressNotFound()
    {
        localAddress.reset();
        dialog->results = completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"));
        press(true, QStringLiteral("198.51.100.20"));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("获得本机IP错误！")});
        QCOMPARE(readAll(hostsPath()), kOriginalHosts);
        QVERIFY(form->ButtonServer->isEnabled());
        QVERIFY(form->ButtonClient->isEnabled());
        QCOMPARE(companion.calls.size(), 1);
        // The tray and the balloon still follow.
        QTRY_VERIFY(!form->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host->balloons.size(), 1, 3000);
        QVERIFY(!readAll(serverLog()).contains("arg3=-a"));

        // A new press starts over and tells the library again; the listener opened by the
        // first press was closed and opened anew.
        QVERIFY(form->ServerSocket1->Active());
        form->TrayIcon1->RestoreMainWindow();
        localAddress = QStringLiteral("192.168.1.20");
        press(true, QStringLiteral("198.51.100.20"));
        QCOMPARE(companion.calls.size(), 2);
        QVERIFY(form->ServerSocket1->Active());
        QCOMPARE(readAll(hostsPath()), expectedHosts(hostsPath(), QStringLiteral("203.0.113.7"), QStringLiteral("192.168.1.20")));
    }

    // The password is asked at the press: a refusal ends it before the peer is contacted.
    void refusedGuardEndsThePressBeforeThePeer()
    {
        guardRefused = true;
        form.reset();
        makeForm();
        messages.boxes.clear();
        press(true, QStringLiteral("203.0.113.7"));
        guardRefused = false;
        QCOMPARE(dialog->shows, 0);
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("refused."));
        QCOMPARE(readAll(hostsPath()), kOriginalHosts);
    }

    void hostsFileThatCannotBeWritten()
    {
        // The hosts file's folder is replaced by a plain file: nothing can be created there.
        QDir(dir->filePath(QStringLiteral("etc"))).removeRecursively();
        QVERIFY(writeAll(dir->filePath(QStringLiteral("etc")), "not a folder"));
        dialog->results = completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"));
        press(false, QStringLiteral("203.0.113.7"));
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(messages.boxes[0].icon, MessageIcon::Error);
        QCOMPARE(messages.boxes[0].caption, QStringLiteral("Bramblet 1.5.1"));
        QVERIFY(!messages.boxes[0].text.isEmpty());
        QVERIFY(form->ButtonServer->isEnabled());
        QVERIFY(form->ButtonClient->isEnabled());
        QCOMPARE(form->LaunchResult, 0);
        QCOMPARE(readAll(dir->filePath(QStringLiteral("etc"))), QByteArray("not a folder"));
    }

    // A hosts.bak someone else made: the link stops before the peer is met, nothing changes,
    // and the user is told which file is in the way. Our redirection whose backup is gone
    // is no reason to stop: the guard takes our lines out, and the user is told at close.
    void hostsNotOursIsLeftAlone_data()
    {
        QTest::addColumn<bool>("foreignBackup");
        QTest::newRow("someone else's hosts.bak: kept, and quiet at close") << true;
        QTest::newRow("our redirection without its backup: our lines out at close, and told") << false;
    }
    void hostsNotOursIsLeftAlone()
    {
        QFETCH(bool, foreignBackup);
        const QString backup = hostsPath() + QStringLiteral(".bak");
        const QByteArray hostsBefore = foreignBackup ? kOriginalHosts
                                                     : expectedHosts(hostsPath(), QStringLiteral("10.0.0.7"),
                                                                     QStringLiteral("10.0.0.8"));
        QVERIFY(writeAll(hostsPath(), hostsBefore));
        if (foreignBackup) {
            QVERIFY(writeAll(backup, "# the administrator's own copy\n"));
            dialog->results = completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"));
            press(true, QStringLiteral("198.51.100.20"));
            QCOMPARE(dialog->shows, 0);
            QVERIFY(companion.calls.isEmpty());
            QCOMPARE(messages.boxes.size(), 1);
            QCOMPARE(messages.boxes[0].caption, QStringLiteral("警告"));
            QCOMPARE(messages.boxes[0].icon, MessageIcon::Warning);
            QVERIFY2(messages.boxes[0].text.contains(backup), qPrintable(messages.boxes[0].text));
        }

        form->close();
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(readAll(hostsPath()), foreignBackup ? hostsBefore : kOriginalHosts);
        QCOMPARE(QFile::exists(backup), foreignBackup);
        if (foreignBackup)
            QCOMPARE(readAll(backup), QByteArray("# the administrator's own copy\n"));
        else
            QVERIFY2(messages.boxes[0].text.contains(hostsPath()), qPrintable(messages.boxes[0].text));
    }

    // The tray menu, a signal or the session end may close the window inside the dialog's
    // loop in the moment the dialog succeeds: the link start stops there.
    void closeDuringTheDialogsSuccess_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("inLookup");
        QTest::newRow("SERVER") << true << false;
        QTest::newRow("CLIENT") << false << false;
        // The own address's lookup lets the window run: a close may come meanwhile.
        QTest::newRow("CLIENT, during the own address's lookup") << false << true;
    }
    void closeDuringTheDialogsSuccess()
    {
        QFETCH(bool, server);
        QFETCH(bool, inLookup);
        dialog->results = completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"));
        (inLookup ? onLookup : dialog->onShow) = [this] { form->close(); };
        press(server, QStringLiteral("198.51.100.20"));
        onLookup = nullptr;
        QCOMPARE(dialog->shows, 1);
        QVERIFY(companion.calls.isEmpty());
        QVERIFY(!form->ServerSocket1->Active());
        QVERIFY(messages.boxes.isEmpty());
        QCOMPARE(readAll(hostsPath()), kOriginalHosts);
        QVERIFY(!QFile::exists(hostsPath() + QStringLiteral(".bak")));
        QCOMPARE(form->LaunchResult, 0);
        QVERIFY(!readAll(serverLog()).contains("arg3=-a"));
    }

    void summaryOfAPeerThatNeverAnswered()
    {
        ConnectResults r = completed(QStringLiteral("203.0.113.7"), QStringLiteral("198.51.100.20"));
        r.SpeedRating = r.StabilityRating = r.LossRating = kNoAnswer;
        dialog->results = r;
        press(true, QStringLiteral("198.51.100.20"));
        const QString summary = QStringLiteral(" 对方真实地址为：198.51.100.20\r\n 速度：") + kNoAnswer +
                                QStringLiteral("\r\n 稳定性：") + kNoAnswer + QStringLiteral("\r\n 丢包：") + kNoAnswer;
        QCOMPARE(form->TrayIcon1->Hint(), summary);
        // The tooltip holds 127 bytes; the balloon takes the summary whole.
        QVERIFY(host->toolTip.size() < summary.size());
        QVERIFY(summary.startsWith(host->toolTip));
        QTRY_COMPARE_WITH_TIMEOUT(host->balloons.size(), 1, 3000);
        QCOMPARE(host->balloons[0].text, summary);
    }
};

int main(int argc, char *argv[])
{
    BrambletApplication app(argc, argv);
    TestLinkStart t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_linkstart.moc"
