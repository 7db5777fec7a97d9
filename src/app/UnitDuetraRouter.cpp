// The main window's part of the home router: the line below the controls that tells the
// player the address to give, or what stands in the way; the ports opened for a SERVER and
// given back.
#include "app/UnitDuetra.h"

#include "app/ConnectDialogApi.h"
#include "app/ApplicationTitle.h"
#include "app/ErrorBox.h"
#include "app/Firewalld.h"
#include "app/InterfaceLog.h"
#include "app/MessageService.h"
#include "app/Translation.h"
#include "core/address.h"
#include "core/negotiation.h"
#include "core/router.h"
#include "net/PortMapper.h"
#include "platform/eventwait.h"
#include "platform/localaddress.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>

namespace bramblet {

namespace {

QString portsText(const router::RouterAnswer &answer)
{
    QStringList out;
    for (const router::PortAnswer &port : answer.ports)
        out << QStringLiteral("%1 %2 %3")
                   .arg(QString::fromLatin1(router::protocolName(port.port.protocol)))
                   .arg(port.port.port)
                   .arg(port.outcome == router::PortOutcome::Mapped      ? QStringLiteral("ok")
                        : port.outcome == router::PortOutcome::Forwarded ? QStringLiteral("forwarded")
                        : port.outcome == router::PortOutcome::Conflict  ? QStringLiteral("conflict %1").arg(port.code)
                        : port.outcome == router::PortOutcome::HeldByOurEarlier
                            ? QStringLiteral("held-by-earlier %1").arg(QString::fromStdString(port.holder))
                                                                         : QStringLiteral("refused %1").arg(port.code));
    return out.join(QStringLiteral(", "));
}

QString stageName(IPortMapper::Stage stage)
{
    switch (stage) {
    case IPortMapper::Stage::Discovered:
        return QStringLiteral("discovered");
    case IPortMapper::Stage::Opened:
        return QStringLiteral("opened");
    case IPortMapper::Stage::Closed:
        return QStringLiteral("closed");
    }
    return {};
}

} // namespace

void TBrambletMainForm::createRouter()
{
    auto *line = new QLabel(this);
    line->setObjectName(QStringLiteral("RouterLine"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse); // the address can be copied
    line->hide();
    RouterLine = line;

    FormConnect->SetOnClientAttemptFailed([this](int failedAttempts) {
        // What the typed address itself tells explains more than the unanswered attempts.
        if (!clientPressed_ || peerAdviceShown_)
            return;
        // Said once: the same text is not logged again.
        showRouterAdvice(router::adviceForClient(failedAttempts, clientPeer_.toStdString(), negotiation::Port));
    });

    IPortMapper *mapper = services_.portMapper;
    if (!mapper)
        return;
    mapper->onAnswer = [this](IPortMapper::Stage stage, const router::RouterAnswer &answer) {
        guarded([&] {
            // What the router said, for the log; what it means, for the player.
            services_.interfaceLog->write(QStringLiteral("router"),
                                          {stageName(stage), answer.answered ? QString::fromStdString(answer.method) : QStringLiteral("none"),
                         QString::fromStdString(answer.externalAddress), QString::fromStdString(answer.lanAddress),
                         portsText(answer)});
            if (answer.permanentOnly && stage == IPortMapper::Stage::Opened)
                services_.interfaceLog->write(QStringLiteral("router"), {QStringLiteral("permanent-only"),
                                                                         QStringLiteral("路由器只接受永久映射，程序关闭时删除")});
            router::Advice advice;
            if (stage == IPortMapper::Stage::Discovered) {
                advice = router::adviceAtStart(answer);
            } else if (stage == IPortMapper::Stage::Opened) {
                // This machine's address comes with the answer, found on the mapper's thread.
                advice = router::adviceForServer(answer, answer.localAddress);
            } else {
                return;
            }
            if (answer.answered || !lastRouter_.answered)
                lastRouter_ = answer;
            checkFirewall(QString::fromStdString(address::isDottedQuad(answer.lanAddress) ? answer.lanAddress
                                                                                          : answer.localAddress));
            // A CLIENT's own advice stays until its press ends, as does one about the typed
            // address; once the link stands, only a changed address to give is news.
            if (clientPressed_ || peerAdviceShown_ || (linkUp_ && router::explainsAFailure(advice.kind)))
                return;
            // The player's own firewall stops the friend as surely as the router: said after it.
            showRouterAdvice(advice, stage == IPortMapper::Stage::Opened && !linkUp_ ? firewallAdvice_ : router::Advice{});
        });
    };
    mapper->discover();
}

void TBrambletMainForm::showRouterAdvice(const QString &kind, const QString &text)
{
    if (RouterLine->text() != text)
        services_.interfaceLog->write(QStringLiteral("router-line"), {kind.isEmpty() ? QStringLiteral("cleared") : kind, text});
    failureAdviceShown_ = !text.isEmpty() && kind != QLatin1String("give-address");
    RouterLine->setText(text);
    RouterLine->setToolTip(text);
    RouterLine->setVisible(!text.isEmpty());
    layoutBelowControls();
}

namespace {

bool ufwActive()
{
    // Small and local; read at a press, never waited on.
    QFile conf(QStringLiteral("/etc/ufw/ufw.conf"));
    return conf.open(QIODevice::ReadOnly) && router::ufwEnabled(conf.read(64 * 1024).toStdString());
}

} // namespace

void TBrambletMainForm::showRouterAdvice(const router::Advice &advice, const router::Advice &after)
{
    if (advice.kind == router::AdviceKind::Nothing)
        return;
    QString text = translatedAdvice(advice);
    if (after.kind != router::AdviceKind::Nothing)
        text += QLatin1Char('\n') + translatedAdvice(after);
    showRouterAdvice(QString::fromLatin1(router::adviceKindName(advice.kind)), text);
}

// `address`: this machine's on the way to the router; the zone of its interface is the one
// that counts.
void TBrambletMainForm::checkFirewall(const QString &address)
{
    if (!services_.firewall || firewallAsked_)
        return;
    firewallAsked_ = true;
    services_.firewall->check(platform::interfaceHolding(address), [this](FirewalldPorts::State state, const QString &zone) {
        firewallState_ = int(state);
        firewallZone_ = zone;
        services_.interfaceLog->write(QStringLiteral("firewall"),
                                      {state == FirewalldPorts::State::Absent ? QStringLiteral("absent")
                                       : state == FirewalldPorts::State::Open ? QStringLiteral("open")
                                                                              : QStringLiteral("closed"),
                                       zone});
    });
}

void TBrambletMainForm::firewallBeforeDialog(bool server, const QString &peer)
{
    firewallAdvice_ = {};
    if (server && services_.firewall && firewallState_ < 0) {
        // Pressed before the router's search has answered: firewalld is asked now, by the way
        // towards the friend, and awaited briefly with the window running.
        checkFirewall(QString::fromStdString(sourceAddressTowards(peer.toStdString())));
        platform::loopUntil([this] { return firewallState_ >= 0 || closed_; }, 3000, 20);
        if (closed_)
            return;
    }
    if (!server) {
        if (services_.firewall) // a CLIENT takes nothing from outside
            services_.firewall->close();
        return;
    }
    if (ufwActive())
        firewallAdvice_ = router::adviceForUfw();
    if (!services_.firewall || firewallState_ != int(FirewalldPorts::State::Closed))
        return;
    const bool yes = services_.messages->ask(
        this,
        tr("本机的 firewalld 防火墙（区域 %1）会挡住对方的连接。要在这次连接期间打开 TCP 9001、UDP 5739 和 TCP 11881 端口吗？").arg(firewallZone_),
        applicationTitle());
    if (!yes) {
        firewallAdvice_ = router::adviceForFirewalld(firewallZone_.toStdString());
        return;
    }
    // Runtime only, and each port for at most a few hours: a killed program leaves none open.
    services_.firewall->open(firewallZone_, 6 * 3600, [this](bool all) {
        services_.interfaceLog->write(QStringLiteral("firewall"), {all ? QStringLiteral("opened") : QStringLiteral("not-opened"), firewallZone_});
    });
}

void TBrambletMainForm::routerBeforeDialog(bool server, const QString &peer)
{
    clientPressed_ = !server;
    clientPeer_ = peer;
    linkUp_ = false;
    firewallBeforeDialog(server, peer);
    if (closed_)
        return;
    // A new press: the address to give (of no use to a CLIENT), or what was said about the
    // last press, goes; a SERVER's address stays until the router answers again.
    if (!server || failureAdviceShown_)
        showRouterAdvice(QString(), QString());
    const router::Advice about =
        router::adviceForPeer(lastRouter_, peer.toStdString(), sourceAddressTowards(peer.toStdString()));
    peerAdviceShown_ = about.kind != router::AdviceKind::Nothing;
    showRouterAdvice(about);
    IPortMapper *mapper = services_.portMapper;
    if (server) {
        if (mapper)
            mapper->openPorts();
        return;
    }
    // A CLIENT takes nothing from outside: whatever a SERVER press opened goes back.
    if (mapper)
        mapper->closePorts();
}

void TBrambletMainForm::routerAfterDialog(bool server, bool linked)
{
    clientPressed_ = false;
    linkUp_ = linked;
    // The link stands: advice for a friend who cannot get in is of no use any more.
    if (linked && failureAdviceShown_)
        showRouterAdvice(QString(), QString());
    if (server && !linked && services_.portMapper)
        services_.portMapper->closePorts();
    if (server && !linked && services_.firewall)
        services_.firewall->close();
}

void TBrambletMainForm::routerAtClose()
{
    if (services_.firewall)
        services_.firewall->close();
    if (!services_.portMapper)
        return;
    services_.interfaceLog->write(QStringLiteral("close"), {QStringLiteral("router")});
    services_.portMapper->onAnswer = nullptr;
    // Asked for now and waited for once the window is gone: a router that does not answer
    // must not hold a window on the desktop that no longer responds.
    services_.portMapper->closePorts();
}

} // namespace bramblet
