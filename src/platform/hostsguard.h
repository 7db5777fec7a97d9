#pragma once

#include "core/hostsfile.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <memory>

namespace bramblet::platform {

// What changes the hosts file for the main window. The program uses the hosts guard, a
// small privileged program of its own; tests of the windows use a stand-in on a file of
// their own. Failures raise bramblet::Error with a text for the error box.
class IHostsGuard {
public:
    virtual ~IHostsGuard() = default;
    // The hosts file the guard acts on, and its backup beside it.
    virtual std::filesystem::path hostsPath() const = 0;
    std::filesystem::path backupPath() const { return hosts::backupPathFor(hostsPath()); }
    // Whose backup is there, read by this process; Ours when an earlier run (its guard
    // killed, or the power failed) left one to put back.
    virtual hosts::BackupState backupState() = 0;
    // Puts a backup of ours back.
    virtual hosts::Restored restoreStale() = 0;
    // Backs the hosts file up and points the game's host names at the two addresses.
    virtual void redirect(const QString &gatewayAddress, const QString &stunAddress) = 0;
    // Puts the hosts file back, waiting as long as the guard lives and works; also a stale
    // backup, and our files a killed run left.
    virtual hosts::Restored restore() = 0;

    // Called when the guard of a running link ended without being asked to (killed, out of
    // memory): the redirection stays until a new guard puts it back.
    std::function<void()> died;
};

// The hosts guard's path where root may run it: the guard and every folder above it are
// root's alone. Throws bramblet::Error with a text for the player otherwise.
QString trustedGuardPath(const QString &guardPath);

// The guard's executable in the program's folder (ending in a separator).
QString hostsGuardPath(const QString &programFolder);

// The polkit action pkexec checks for the guard: the installed one where its policy names
// this very guard, else pkexec's generic one (a build tree, a copy elsewhere).
QString hostsGuardAction(const QString &guardPath);

// The hosts guard of the program in `programFolder`, started through pkexec where this
// process is not root, directly where it is.
std::unique_ptr<IHostsGuard> makeHostsGuard(const QString &programFolder);

// The same for a test build of the guard, which acts on the file "hosts" in the folder it
// starts in: started in the folder of `hostsPath` (a file named "hosts").
std::unique_ptr<IHostsGuard> makeTestBuildHostsGuard(const QString &guardPath, const QString &hostsPath);

} // namespace bramblet::platform
