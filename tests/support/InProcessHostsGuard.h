#pragma once

#include "core/hostsfile.h"
#include "platform/hostsfile.h"
#include "platform/hostsguard.h"

#include <QString>

#include <functional>
#include <memory>

namespace bramblet::test {

// The hosts guard's work done in the test's own process, on a hosts file of the test's own.
class InProcessHostsGuard : public platform::IHostsGuard {
public:
    explicit InProcessHostsGuard(const QString &hostsPath)
        : redirect_(hostsPath.toStdString(), platform::hostsStyle(), platform::hostsFileOps())
    {
    }
    std::filesystem::path hostsPath() const override { return redirect_.hostsPath(); }
    hosts::BackupState backupState() override { return redirect_.backupState(); }
    hosts::Restored restoreStale() override { return redirect_.restore(); }
    void redirect(const QString &gateway, const QString &stun) override
    {
        redirect_.setGameIp(gateway.toStdString(), stun.toStdString());
    }
    // As the real guard's client: a guard is started only where there is something of ours.
    hosts::Restored restore() override
    {
        const hosts::BackupState s = redirect_.backupState();
        return s == hosts::BackupState::None || s == hosts::BackupState::Foreign ? hosts::Restored::Nothing
                                                                               : redirect_.restore();
    }

private:
    hosts::HostsRedirect redirect_;
};

// For MainFormServices::hostsGuard.
inline std::function<std::unique_ptr<platform::IHostsGuard>()> hostsGuardOn(const QString &hostsPath)
{
    return [hostsPath] { return std::make_unique<InProcessHostsGuard>(hostsPath); };
}

} // namespace bramblet::test
