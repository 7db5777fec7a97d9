#pragma once

#include "app/DesktopServices.h"
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
    std::optional<QString> openFile(QWidget *, const QString &, const QString &) override { return std::nullopt; }
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

    QStringList opened;
};

// Fills in the first show's services that the test left unset.
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
    if (!s.hostsGuard)
        s.hostsGuard = hostsGuardOn(qEnvironmentVariable("BRAMBLET_HOSTS_FILE"));
}

} // namespace bramblet::test
