// The main window's link start: SERVER and CLIENT.
#include "app/UnitDuetra.h"
#include "app/Translation.h"

#include "app/ConnectDialogApi.h"
#include "app/ErrorBox.h"
#include "app/MessageService.h"
#include "app/TrayIcon.h"
#include "core/address.h"
#include "core/linksummary.h"
#include "external/companion.h"
#include "platform/gamesettings.h"
#include "platform/hostsguard.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <cstring>

namespace bramblet {

namespace {

constexpr std::int32_t kRoleServer = 1;
constexpr std::int32_t kRoleClient = 2;
constexpr std::uint16_t kSpeedPort = 5739;

// A zero-terminated copy in a 16-byte buffer, as the companion library takes addresses.
std::array<char, 16> addressBuffer(const QString &address)
{
    std::array<char, 16> buffer{};
    const QByteArray text = address.toLatin1().left(15);
    std::memcpy(buffer.data(), text.constData(), static_cast<std::size_t>(text.size()));
    return buffer;
}

} // namespace

void TBrambletMainForm::warn(const QString &text)
{
    services_.messages->show(this, text, tr("警告"), MessageIcon::Warning);
}

TBrambletMainForm::ButtonsHeld::ButtonsHeld(TBrambletMainForm &form)
    : form_(form), server_(form.ButtonServer->isEnabled()), client_(form.ButtonClient->isEnabled())
{
    form_.ButtonServer->setEnabled(false);
    form_.ButtonClient->setEnabled(false);
}

TBrambletMainForm::ButtonsHeld::~ButtonsHeld()
{
    if (keep)
        return;
    form_.ButtonServer->setEnabled(server_);
    form_.ButtonClient->setEnabled(client_);
}

void TBrambletMainForm::ButtonServerClick() { startLink(kRoleServer); }

void TBrambletMainForm::ButtonClientClick() { startLink(kRoleClient); }

void TBrambletMainForm::startLink(std::int32_t role)
{
    const bool server = role == kRoleServer;
    ButtonsHeld held(*this);

    // 1. A press starts afresh: an earlier press's player channel closes.
    DeactivatePlayerChannel();

    // 2.-4. The typed address, cleaned; the field keeps what the user typed.
    const std::string cleaned = address::cleanTypedAddress(EditRemoteIp->text().toStdString());
    if (address::inetAddr(cleaned) == address::InetAddrNone) {
        warn(tr("对方IP地址包含非法字符！"));
        return;
    }
    if (cleaned.empty()) {
        warn(tr("对方IP地址为空！"));
        return;
    }

    // A hosts file this link could not redirect without harm stops it before the peer is met.
    if (!hostsReadyForLink())
        return;

    // The guard starts now, so the desktop asks for the password before the peer is met: a
    // refused or dismissed prompt ends the press here, and the friend is never left linked
    // to nobody. Its start also puts back a backup an earlier run left. The addresses
    // follow once the test is done.
    reportRestore(hostsGuard_->restoreStale());
    if (closed_)
        return;

    // 5.-6. The connect dialog meets the peer; anything but a completed test ends here. The
    // router is asked for the SERVER's ports while the dialog waits, never in its way.
    routerBeforeDialog(server, QString::fromStdString(cleaned));
    if (closed_)
        return;
    FormConnect->SetPeerAddress(QString::fromStdString(cleaned));
    FormConnect->SetRole(role);
    FormConnect->ShowModal();
    // A close handled inside the dialog's loop has already restored and stopped everything:
    // nothing of a link may start behind it.
    if (closed_)
        return;
    const ConnectResults results = FormConnect->Results();
    routerAfterDialog(server, results.ResultCode == 0);
    if (results.ResultCode != 0)
        return;

    // The address led to a link: it is offered again from now on.
    if (services_.settings) {
        services_.settings->rememberPeer(QString::fromStdString(cleaned));
        refreshRecentPeers();
    }

    // 7.-9.
    OwnRealAddress = results.OwnAddress;
    PeerRealAddress = results.PeerAddress;
    if (server) {
        OwnSpeedPort = kSpeedPort;
        PeerSpeedPort = results.PeerUdpPort;
    }
    LinkRole = role;

    // 10. The SERVER hands both ends to the companion library and opens the player channel.
    if (server) {
        std::array<char, 16> own = addressBuffer(OwnRealAddress);
        std::array<char, 16> peer = addressBuffer(PeerRealAddress);
        services_.companion->MessageF(own.data(), OwnSpeedPort, peer.data(), PeerSpeedPort);
        ActivatePlayerChannel();
    }

    // 11.-13. The summary in the tray, the window to the tray once this handler has
    // returned, and the connected balloon a second later.
    TrayIcon1->SetHint(QString::fromStdString(linkSummary(PeerRealAddress.toStdString(), results.SpeedRating.toStdString(),
                                                          results.StabilityRating.toStdString(),
                                                          results.LossRating.toStdString(), qtTranslator())));
    QMetaObject::invokeMethod(this, [this] { guarded([this] { showMinimized(); }); }, Qt::QueuedConnection);
    TimerBalloon->start();

    // 14.-15. The game's redirection, towards the side that pressed SERVER.
    const bool found = GetLocalIP(LocalAddress);
    // The lookup lets the window run meanwhile; a close in between has already restored.
    if (closed_)
        return;
    if (!found) {
        warn(tr("获得本机IP错误！"));
        return;
    }
    SetGameIp(server ? OwnRealAddress : PeerRealAddress, LocalAddress);
    // The guard may wait for a password; the program may have been closed meanwhile.
    if (closed_)
        return;

    // 16.-17. The link runs for the rest of the program's run: the buttons stay off.
    held.keep = true;
    StartLocalServer(LocalAddress);
}

void TBrambletMainForm::TimerBalloonTimer()
{
    processFlags().HelpBalloonActive = false;
    TrayIcon1->ShowBalloon(tr("连接成功"), TrayIcon1->Hint(), BalloonIcon::Info, 10);
    TimerBalloon->stop();
}

} // namespace bramblet
