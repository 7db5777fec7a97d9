// One connect dialog over a stand-in main window, in the role given, with the program's
// ports and intervals. Prints its results as NAME=value lines (UTF-8) once it has closed.
//
//     e2e_dialogside server|client PEER-ADDRESS [GIVE-UP-MS]
//
// Gives up (cancels) after GIVE-UP-MS, 60000 by default. Exit status 0 when the speed test
// completed. Error boxes are printed as box=TEXT lines instead of being shown.
#include "app/ErrorBox.h"
#include "app/MessageService.h"
#include "app/UnitConnect.h"

#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void print(const QString &name, const QString &value)
{
    std::fputs(QStringLiteral("%1=%2\n").arg(name, value).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class PrintedMessages : public bramblet::IMessageService {
public:
    void show(QWidget *, const QString &text, const QString &, bramblet::MessageIcon) override
    {
        print(QStringLiteral("box"), text);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    bramblet::BrambletApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || (args[1] != QLatin1String("server") && args[1] != QLatin1String("client"))) {
        std::fputs("usage: e2e_dialogside server|client PEER-ADDRESS [GIVE-UP-MS]\n", stderr);
        return 2;
    }
    PrintedMessages messages;
    bramblet::installErrorBox(&messages);

    QWidget owner;
    owner.resize(335, 174);
    owner.show();
    bramblet::ConnectDialogOptions options;
    options.programFolder = QStringLiteral(BRAMBLET_STAGE_DIR "/");
    bramblet::TFormConnect dialog(&owner, options);
    dialog.SetPeerAddress(args[2]);
    dialog.SetRole(args[1] == QLatin1String("server") ? 1 : 2);
    QTimer::singleShot(args.size() > 3 ? args[3].toInt() : 60000, &dialog, [&dialog] { dialog.CloseDialog(); });
    dialog.ShowModal();

    const bramblet::ConnectResults r = dialog.Results();
    print(QStringLiteral("ResultCode"), QString::number(r.ResultCode));
    print(QStringLiteral("PeerAddress"), r.PeerAddress);
    print(QStringLiteral("OwnAddress"), r.OwnAddress);
    print(QStringLiteral("PeerUdpPort"), QString::number(r.PeerUdpPort));
    print(QStringLiteral("SpeedRating"), r.SpeedRating);
    print(QStringLiteral("StabilityRating"), r.StabilityRating);
    print(QStringLiteral("LossRating"), r.LossRating);
    QStringList rtt;
    for (const std::int32_t v : bramblet::speedTestCounters().Rtt)
        rtt << QString::number(v);
    print(QStringLiteral("Rtt"), rtt.join(QLatin1Char(',')));
    return r.ResultCode == 0 ? 0 : 1;
}
