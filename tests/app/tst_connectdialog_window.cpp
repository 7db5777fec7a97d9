// The connect dialog's window, its modal life, the failures of its show, and its place in the
// main window.
#include "app/ApplicationTitle.h"
#include "app/UnitDuetra.h"
#include "platform/paths.h"
#include "support/ConnectDialogFixture.h"
#include "support/MainWindowRig.h"

#include <QDir>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace bramblet;
using namespace bramblet::test;

class TestConnectDialogWindow : public QObject {
    Q_OBJECT
    CaseBoxes messages;

private slots:
    void init() { messages.start(); }
    void cleanup() { messages.checkNoneLeft(); }

    void windowAndComponents_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<int>("fontPixels");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("Image1") << "Image1" << QRect(72, 32, 57, 17) << 11 << QString() << false;
        QTest::newRow("Panel1") << "Panel1" << QRect(0, 24, 207, 41) << 13 << QString() << true;
        QTest::newRow("Button1") << "Button1" << QRect(64, 72, 73, 25) << 13 << "CANCELL" << false;
    }
    void windowAndComponents()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(int, fontPixels);
        QFETCH(QString, text);
        QFETCH(bool, hidden);
        TFormConnect d;
        QCOMPARE(d.objectName(), QStringLiteral("FormConnect"));
        QCOMPARE(d.windowTitle(), QStringLiteral("OK"));
        QCOMPARE(d.size(), QSize(207, 105));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(d.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(d.font().pixelSize(), 11);
        auto *w = d.findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(w->font().pixelSize(), fontPixels);
        QCOMPARE(w->isHidden(), hidden);
        if (auto *b = qobject_cast<QPushButton *>(w))
            QCOMPARE(b->text(), text);
        QVERIFY(d.Image1->hasScaledContents());
        QCOMPARE(d.Panel1->frameShape(), QFrame::NoFrame);
        // The panel lies over the picture.
        QVERIFY(d.children().indexOf(d.Panel1) > d.children().indexOf(d.Image1));
    }

    void createdWithTheProgramsSettings()
    {
        const ConnectDialogOptions defaults;
        QCOMPARE(defaults.negotiationPort, std::uint16_t(9001));
        QCOMPARE(defaults.speedTestPort, std::uint16_t(5739));
        QCOMPARE(defaults.peerSpeedTestPort, std::uint16_t(5739));
        TFormConnect d;
        QCOMPARE(d.Role, -1);
        QCOMPARE(d.ResultCode, -1);
        QCOMPARE(d.PeerUdpPort, std::uint16_t(5739));
        QCOMPARE(d.Timer1->interval(), 5000);
        QCOMPARE(d.TimerSpeedTest->interval(), 1000);
        QCOMPARE(d.ClientSocket1->Port(), std::uint16_t(9001));
        QCOMPARE(d.ServerSocket1->Port(), std::uint16_t(9001));
        QCOMPARE(d.UDPServer1->Bindings.Count(), 1);
        QCOMPARE(d.UDPServer1->Bindings[0].IP, std::string("0.0.0.0"));
        QCOMPARE(d.UDPServer1->Bindings[0].Port, 5739);
        QCOMPARE(d.UDPServer1->DefaultPort, 5739);
        QCOMPARE(openParts(d), QString());
        QCOMPARE(d.animationPath(),
            QDir::fromNativeSeparators(platform::programFolder()) + QStringLiteral("Lib/sending.gif"));
    }

    // Modal over its owner, centred on it, playing the animation; every way of closing
    // closes everything and gives the cancel result.
    void modalOverTheOwner_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : { "Button1", "Escape", "title bar", "CloseDialog" })
            QTest::newRow(how) << how;
    }
    void modalOverTheOwner()
    {
        QFETCH(QString, how);
        DialogPorts ports;
        QWidget owner;
        owner.setGeometry(300, 200, 335, 174);
        auto *ownerButton = new QPushButton(QStringLiteral("SERVER"), &owner);
        ownerButton->setGeometry(40, 112, 99, 49);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QSignalSpy clicks(ownerButton, &QPushButton::clicked);
        TFormConnect d(&owner, ports.options());
        d.SetRole(1);
        QVERIFY(runModal(d, [&] {
            QCOMPARE(QApplication::activeModalWidget(), &d);
            QCOMPARE(d.windowModality(), Qt::ApplicationModal);
            QVERIFY(qAbs(d.geometry().center().x() - owner.geometry().center().x()) <= 1);
            QVERIFY(qAbs(d.geometry().center().y() - owner.geometry().center().y()) <= 1);
            QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, ownerButton->geometry().center());
            QCOMPARE(clicks.count(), 0);
            QVERIFY(d.Image1->isVisible() && d.Image1->movie());
            QCOMPARE(d.Image1->movie()->fileName(), stageDir() + QStringLiteral("/Lib/sending.gif"));
            QCOMPARE(d.Image1->movie()->state(), QMovie::Running);
            QVERIFY(d.Image1->movie()->frameCount() > 1);
            QVERIFY(d.ServerSocket1->Active() && d.UDPServer1->Active() && d.Timer1->isActive());
            if (how == QLatin1String("Button1"))
                QTest::mouseClick(d.Button1, Qt::LeftButton);
            else if (how == QLatin1String("Escape"))
                QTest::keyClick(&d, Qt::Key_Escape);
            else if (how == QLatin1String("title bar"))
                d.close();
            else
                d.CloseDialog();
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(d.ResultCode, -1);
        QCOMPARE(openParts(d), QString());
        QVERIFY(!d.Image1->isVisible() && d.Image1->movie()->state() != QMovie::Running);
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, ownerButton->geometry().center());
        QCOMPARE(clicks.count(), 1);
        // Closing a closed dialog only stops its parts again.
        d.CloseDialog();
        QCOMPARE(openParts(d), QString());
    }

    // A show that fails reports it in the error box and opens nothing after the failed step;
    // the next show, with the cause gone, opens everything.
    void showFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("open");
        QTest::newRow("animation missing") << "missing"
                                           << "Cannot open file \"%1/Lib/sending.gif\". No such file."
                                           << "";
        QTest::newRow("animation not a GIF") << "garbage"
                                             << "Cannot open file \"%1/Lib/sending.gif\"."
                                             << "";
        // The speed-test port is bound first; without it the TCP side stays shut.
        QTest::newRow("TCP port taken") << "tcp"
                                        << "on API 'bind'"
                                        << "Timer1 UDPServer1";
        QTest::newRow("UDP port taken") << "udp"
                                        << "Could not bind socket. Address and port are already in use."
                                        << "Timer1";
    }
    void showFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, boxText);
        QFETCH(QString, open);
        DialogPorts ports;
        ConnectDialogOptions options = ports.options();
        QTemporaryDir folder;
        QDir().mkpath(folder.filePath(QStringLiteral("Lib")));
        if (fault == QLatin1String("missing") || fault == QLatin1String("garbage"))
            options.programFolder = folder.path();
        if (fault == QLatin1String("garbage")) {
            QFile f(folder.filePath(QStringLiteral("Lib/sending.gif")));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("GIF89a, but not really") > 0);
        }
        QTcpServer tcpHolder;
        QUdpSocket udpHolder;
        if (fault == QLatin1String("tcp"))
            QVERIFY(tcpHolder.listen(QHostAddress::AnyIPv4, ports.tcp));
        if (fault == QLatin1String("udp"))
            QVERIFY(udpHolder.bind(QHostAddress::AnyIPv4, ports.udp, QAbstractSocket::DontShareAddress));
        TFormConnect d(nullptr, options);
        d.SetRole(1);
        QVERIFY(runModal(d, [&] {
            QVERIFY(!messages.boxes.isEmpty());
            const RecordedBox box = messages.boxes.first();
            const QString expected = boxText.contains(QLatin1String("%1")) ? boxText.arg(folder.path()) : boxText;
            QVERIFY2(box.text.startsWith(expected) || box.text.contains(expected), qPrintable(box.text));
            QCOMPARE(box.caption, applicationTitle());
            QCOMPARE(box.icon, MessageIcon::Error);
            QCOMPARE(openParts(d), open);
            QCOMPARE(d.ResultCode, -1);
            QTest::mouseClick(d.Button1, Qt::LeftButton);
        }));
        QCOMPARE(openParts(d), QString());
        tcpHolder.close();
        udpHolder.close();
        messages.boxes.clear();
        if (options.programFolder == folder.path()) {
            const QString gif = folder.filePath(QStringLiteral("Lib/sending.gif"));
            QFile::remove(gif);
            QVERIFY(QFile::copy(stageDir() + QStringLiteral("/Lib/sending.gif"), gif));
        }
        QVERIFY(runModal(d, [&] { QCOMPARE(openParts(d), QStringLiteral("Timer1 ServerSocket1 UDPServer1")); }));
    }

    // The SERVER's retry keeps trying a port another program holds, but the player is told
    // once per show, not in a new box at every retry.
    void takenPortIsReportedOncePerShow()
    {
        DialogPorts ports;
        QTcpServer tcpHolder;
        QVERIFY(tcpHolder.listen(QHostAddress::AnyIPv4, ports.tcp));
        TFormConnect d(nullptr, ports.options());
        d.SetRole(1);
        for (int show = 1; show <= 2; ++show) {
            QVERIFY(runModal(d, [&] {
                QElapsedTimer waited;
                waited.start();
                // Several retries go by.
                QTRY_VERIFY_WITH_TIMEOUT(waited.elapsed() > 4 * kTestRetryMs, 20 * kTestRetryMs + 5000);
                QCOMPARE(messages.boxes.size(), show);
                QVERIFY(!d.ServerSocket1->Active());
                if (show == 2) {
                    // Once the port is free, the next retry listens.
                    tcpHolder.close();
                    QTRY_VERIFY_WITH_TIMEOUT(d.ServerSocket1->Active(), 20 * kTestRetryMs + 5000);
                }
            }));
        }
        QCOMPARE(messages.boxes.size(), 2);
        messages.boxes.clear();
    }

    void mainWindowOwnsOneDialog()
    {
        MainWindowRig rig;
        {
            TBrambletMainForm &form = rig.make();
            auto *real = dynamic_cast<TFormConnect *>(form.FormConnect);
            QVERIFY(real);
            QCOMPARE(real->parentWidget(), static_cast<QWidget *>(&form));
            QCOMPARE(form.findChildren<TFormConnect *>().size(), 1);
        }
        QWidget *owner = nullptr;
        int made = 0;
        rig.fakeDialog();
        const auto fake = rig.services.createConnectDialog;
        rig.services.createConnectDialog = [&](QWidget *o) {
            ++made;
            owner = o;
            return fake(o);
        };
        TBrambletMainForm &form = rig.make();
        QCOMPARE(made, 1);
        QCOMPARE(owner, static_cast<QWidget *>(&form));
        QCOMPARE(form.FormConnect, static_cast<IConnectDialog *>(rig.dialog));
        form.show();
        form.close();
        QCOMPARE(rig.dialog->log, QStringList{QStringLiteral("close")});
        QCOMPARE(rig.messages.texts(), QStringList());
    }
};

QTEST_MAIN(TestConnectDialogWindow)
#include "tst_connectdialog_window.moc"
