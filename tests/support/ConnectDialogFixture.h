#pragma once

// Running a real connect dialog in a test: ports of its own, short intervals, and a way to
// act inside its modal loop.

#include "app/ErrorBox.h"
#include "app/UnitConnect.h"
#include "support/NegotiationPeer.h"
#include "support/RecordingMessages.h"
#include "support/TempRuntime.h"

#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace bramblet::test {

inline constexpr int kTestRetryMs = 200;
inline constexpr int kTestTickMs = 200;

// The boxes a case's dialogs show: recorded, and none may be left at the case's end.
struct CaseBoxes : RecordingMessages {
    void start()
    {
        boxes.clear();
        installErrorBox(this);
    }
    void checkNoneLeft() { QVERIFY2(boxes.isEmpty(), qPrintable(texts().join(QLatin1Char('\n')))); }
};

// Free ports for one dialog and its peer.
struct DialogPorts {
    quint16 tcp = freeTcpPort();
    quint16 udp = freeUdpPort(); // the dialog's own
    quint16 peerUdp = freeUdpPort(); // where the dialog assumes the peer

    DialogPorts()
    {
        for (int i = 0; i < 20 && peerUdp == udp; ++i)
            peerUdp = freeUdpPort();
    }
    ConnectDialogOptions options(std::function<std::int64_t()> clock = {}) const
    {
        ConnectDialogOptions o;
        o.negotiationPort = tcp;
        o.speedTestPort = udp;
        o.peerSpeedTestPort = peerUdp;
        o.retryIntervalMs = kTestRetryMs;
        o.speedTickIntervalMs = kTestTickMs;
        o.clock = std::move(clock);
        o.programFolder = stageDir() + QLatin1Char('/');
        return o;
    }
};

// Runs `script` inside the dialog's modal loop and returns once the dialog has closed. A
// script that stops early (a failed check) leaves the dialog open; it is closed here, so the
// caller always gets control back. False when the dialog returned without entering its loop,
// so the script never ran: the caller checks it, or every check inside passes unseen.
template <class F> [[nodiscard]] bool runModal(TFormConnect &dialog, F script)
{
    // A call left queued after this returns finds `open` false and touches nothing else.
    const auto open = std::make_shared<bool>(true);
    bool ran = false;
    QMetaObject::invokeMethod(
        &dialog,
        [&dialog, &script, &ran, open] {
            if (!*open)
                return;
            ran = true;
            script();
            if (dialog.isVisible())
                dialog.CloseDialog();
        },
        Qt::QueuedConnection);
    dialog.ShowModal();
    *open = false;
    return ran;
}

// Every socket and timer of the dialog is closed.
inline QString openParts(const TFormConnect &d)
{
    QStringList open;
    if (d.Timer1->isActive())
        open << QStringLiteral("Timer1");
    if (d.TimerSpeedTest->isActive())
        open << QStringLiteral("TimerSpeedTest");
    if (d.ClientSocket1->Active() || d.ClientSocket1->Socket()->OsHandle() != invalidSocketHandle)
        open << QStringLiteral("ClientSocket1");
    if (d.ServerSocket1->Active() || d.ServerSocket1->Socket()->OsHandle() != invalidSocketHandle)
        open << QStringLiteral("ServerSocket1");
    if (d.UDPServer1->Active())
        open << QStringLiteral("UDPServer1");
    return open.join(QLatin1Char(' '));
}

} // namespace bramblet::test
