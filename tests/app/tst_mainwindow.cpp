#include "app/ApplicationTitle.h"
#include "app/ErrorBox.h"
#include "app/UnitDuetra.h"
#include "core/errors.h"
#include "support/MainWindowRig.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <optional>

using namespace bramblet;

namespace {

// An object whose event handler fails, to reach the event loop's last line of defence.
class FailingObject : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw Error("Socket went away");
        return QObject::event(e);
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::optional<test::MainWindowRig> rig;

private slots:
    void init() { rig.emplace(); }
    void cleanup() { rig.reset(); }

    void windowFrame()
    {
        TBrambletMainForm &form = rig->make();
        QCOMPARE(form.windowTitle(), QStringLiteral("Quorrel2008 Online v.4"));
        QCOMPARE(form.size(), QSize(335, 174));
        // Fixed border: the size cannot change.
        QCOMPARE(form.minimumSize(), QSize(335, 174));
        QCOMPARE(form.maximumSize(), QSize(335, 174));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.font().pixelSize(), 11);
        QVERIFY(!form.windowIcon().isNull());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("fontPixels");
        QTest::newRow("group box") << "GroupBox1" << QRect(8, 8, 321, 89) << "" << 11;
        QTest::newRow("label") << "Label2" << QRect(16, 37, 79, 13) << "IP 2-Player" << 13;
        QTest::newRow("address field") << "EditRemoteIp" << QRect(112, 37, 177, 21) << "" << 13;
        QTest::newRow("server button") << "ButtonServer" << QRect(40, 112, 99, 49) << "SERVER" << 13;
        QTest::newRow("client button") << "ButtonClient" << QRect(200, 112, 99, 49) << "CLIENT" << 13;
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(int, fontPixels);
        TBrambletMainForm &form = rig->make();
        auto *w = form.findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->font().pixelSize(), fontPixels);
        if (auto *b = qobject_cast<QPushButton *>(w))
            QCOMPARE(b->text(), text);
        else if (auto *l = qobject_cast<QLabel *>(w))
            QCOMPARE(l->text(), text);
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            QCOMPARE(e->text(), text);
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            QCOMPARE(g->title(), text);
        QVERIFY(w->isEnabled());
    }

    void labelAndFieldSitInsideTheGroup()
    {
        TBrambletMainForm &form = rig->make();
        QCOMPARE(form.Label2->parentWidget(), form.GroupBox1);
        QCOMPARE(form.EditRemoteIp->parentWidget(), form.GroupBox1);
    }

    void tabOrderAndFocus()
    {
        TBrambletMainForm &form = rig->make();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.EditRemoteIp));
        QCOMPARE(form.EditRemoteIp->nextInFocusChain(), static_cast<QWidget *>(form.ButtonServer));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.ButtonServer));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.ButtonClient));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.EditRemoteIp));
    }

    void createdFields()
    {
        processFlags() = ProcessFlags{};
        TBrambletMainForm &form = rig->make();
        QCOMPARE(form.LinkRole, -1);
        QCOMPARE(form.LaunchResult, 0);
        QVERIFY(form.PeerRealAddress.isEmpty());
        QVERIFY(form.OwnRealAddress.isEmpty());
        QVERIFY(form.LocalAddress.isEmpty());
        QCOMPARE(form.PeerSpeedPort, std::uint16_t(0));
        QCOMPARE(form.OwnSpeedPort, std::uint16_t(0));
        QVERIFY(processFlags().EnvironmentCheckPending);
        QVERIFY(processFlags().HelpBalloonPending);
        QVERIFY(!processFlags().HelpBalloonActive);
        QVERIFY(!form.TimerBalloon->isActive());
        QCOMPARE(form.TimerBalloon->interval(), 1000);
    }

    void closingEndsTheProgram()
    {
        TBrambletMainForm &form = rig->make();
        form.show();
        QVERIFY(form.close());
        QCOMPARE(rig->quits, 1);
        QVERIFY(rig->messages.boxes.isEmpty());
    }

    void errorLeavingAHandlerShowsTheBox_data()
    {
        QTest::addColumn<bool>("throughNotify");
        QTest::newRow("guarded slot") << false;
        QTest::newRow("event delivered by the loop") << true;
    }
    void errorLeavingAHandlerShowsTheBox()
    {
        QFETCH(bool, throughNotify);
        FailingObject failing;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, guardedSlot([] { throw Error("Socket went away"); }));
        if (throughNotify)
            QCoreApplication::postEvent(&failing, new QEvent(QEvent::User));
        else
            timer.start(0);
        QTRY_COMPARE(rig->messages.boxes.size(), 1);
        QCOMPARE(rig->messages.boxes[0].text, QStringLiteral("Socket went away."));
        QCOMPARE(rig->messages.boxes[0].caption, QStringLiteral("Bramblet 1.5.1"));
        QCOMPARE(rig->messages.boxes[0].icon, MessageIcon::Error);
        // The program goes on: the loop still delivers events afterwards.
        bool later = false;
        QTimer::singleShot(0, this, [&] { later = true; });
        QTRY_VERIFY(later);
    }
};

int main(int argc, char *argv[])
{
    BrambletApplication app(argc, argv);
    TestMainWindow t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_mainwindow.moc"
