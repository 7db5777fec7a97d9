// The main window's part of the home router: the line below the controls that tells the
// player the address to give, or what stands in the way; the ports opened for a SERVER and
// given back.
#include "app/UnitDuetra.h"

#include "app/ConnectDialogApi.h"
#include "app/ErrorBox.h"
#include "app/InterfaceLog.h"
#include "app/MessageService.h"
#include "app/Translation.h"
#include "core/address.h"
#include "core/negotiation.h"
#include "core/router.h"
#include "net/PortMapper.h"

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
                   .arg(port.outcome == router::PortOutcome::Mapped     ? QStringLiteral("ok")
                        : port.outcome == router::PortOutcome::Conflict ? QStringLiteral("conflict")
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
        if (!clientPressed_)
            return;
        const router::Advice advice =
            router::adviceForClient(failedAttempts, clientPeer_.toStdString(), negotiation::Port, qtTranslator());
        if (advice.kind != router::AdviceKind::Nothing) // said once: the same text is not logged again
            showRouterAdvice(QString::fromLatin1(router::adviceKindName(advice.kind)), QString::fromStdString(advice.text));
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
                advice = router::adviceAtStart(answer, qtTranslator());
            } else if (stage == IPortMapper::Stage::Opened) {
                // The router's word for this machine wins; the host name lookup may wait on a
                // name server, so it runs only when the router gave none.
                QString local;
                if (!address::isDottedQuad(answer.lanAddress))
                    GetLocalIP(local);
                advice = router::adviceForServer(answer, local.toStdString(), qtTranslator());
            } else {
                return;
            }
            // A CLIENT's own advice stays until its press ends.
            if (clientPressed_)
                return;
            if (advice.kind != router::AdviceKind::Nothing)
                showRouterAdvice(QString::fromLatin1(router::adviceKindName(advice.kind)),
                                 QString::fromStdString(advice.text));
        });
    };
    mapper->discover();
}

void TBrambletMainForm::showRouterAdvice(const QString &kind, const QString &text)
{
    if (RouterLine->text() != text)
        services_.interfaceLog->write(QStringLiteral("router-line"), {kind, text});
    RouterLine->setText(text);
    RouterLine->setToolTip(text);
    RouterLine->setVisible(!text.isEmpty());
    layoutBelowControls();
}

void TBrambletMainForm::routerBeforeDialog(bool server, const QString &peer)
{
    clientPressed_ = !server;
    clientPeer_ = peer;
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
    if (server && !linked && services_.portMapper)
        services_.portMapper->closePorts();
}

void TBrambletMainForm::routerAtClose()
{
    if (!services_.portMapper)
        return;
    services_.interfaceLog->write(QStringLiteral("close"), {QStringLiteral("router")});
    services_.portMapper->onAnswer = nullptr;
    services_.portMapper->shutdown(std::chrono::milliseconds(3000));
}

} // namespace bramblet
