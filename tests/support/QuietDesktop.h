#pragma once

#include "app/DesktopServices.h"
#include "app/RealServices.h"
#include "app/Services.h"
#include "support/InProcessHostsGuard.h"
#include "platform/gamesettings.h"

#include <QStringList>

namespace bramblet::test {

// A desktop whose first-show checks ask nothing and whose hosts file is the test's scratch
// file (never the machine's): the file dialog is cancelled, the store of
// the game's path cannot be opened, the user counts as administrator and the shell records.
class QuietDesktop : public IFileDialog, public IShell, public platform::IGameSettings {
public:
    std::optional<QString> openFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    bool openDocument(const QString &path) override
    {
        opened << path;
        return true;
    }
    bool open() override { return false; }
    bool hasInstallDir() const override { return false; }
    QString installDir() const override { return {}; }
    bool setInstallDir(const QString &) override { return false; }
    void removeInstallDir() override {}
    void close() override {}
    QStringList recentPeers() override { return peers; }
    void rememberPeer(const QString &address) override { peers.prepend(address); }

    QStringList opened;
    QStringList peers;
};

// Fills in every service the test left unset with the program's real one (the real tray,
// connect dialog, boxes and so on), as the program itself would be put together; the hosts
// file is the test's scratch file.
inline void realRest(MainFormServices &s)
{
    static RealServiceObjects own;
    static const MainFormServices real = realMainFormServices(own);
    if (!s.messages)
        s.messages = real.messages;
    if (!s.interfaceLog)
        s.interfaceLog = real.interfaceLog;
    if (s.programFolder.isEmpty())
        s.programFolder = real.programFolder;
    // Never the real guard: it acts on the machine's own hosts file.
    if (!s.hostsGuard)
        s.hostsGuard = hostsGuardOn(qEnvironmentVariable("BRAMBLET_HOSTS_FILE"));
    if (!s.localAddress)
        s.localAddress = real.localAddress;
    if (!s.trayHost)
        s.trayHost = real.trayHost;
    if (!s.notifications)
        s.notifications = real.notifications;
    if (!s.fileDialog)
        s.fileDialog = real.fileDialog;
    if (!s.shell)
        s.shell = real.shell;
    // Never the player's own store: a link made by a test would be remembered there.
    static QuietDesktop store;
    if (!s.settings)
        s.settings = &store;
    if (!s.isAdministrator)
        s.isAdministrator = real.isAdministrator;
    if (!s.chooserFolder)
        s.chooserFolder = real.chooserFolder;
    if (!s.createConnectDialog)
        s.createConnectDialog = real.createConnectDialog;
}

// Fills in the first show's services that the test left unset, and the rest as realRest().
inline void quietDesktop(MainFormServices &s)
{
    static QuietDesktop desktop;
    if (!s.fileDialog)
        s.fileDialog = &desktop;
    if (!s.shell)
        s.shell = &desktop;
    if (!s.settings)
        s.settings = &desktop;
    if (!s.isAdministrator)
        s.isAdministrator = [] { return true; };
    realRest(s);
}

} // namespace bramblet::test
