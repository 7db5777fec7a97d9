#pragma once

#include "app/ConnectDialogApi.h"

#include <QStringList>

#include <functional>

namespace bramblet::test {

// A connect dialog whose outcome the test sets beforehand.
class FakeConnectDialog : public IConnectDialog {
public:
    void SetPeerAddress(const QString &address) override { log << QStringLiteral("address ") + address; }
    void SetRole(std::int32_t role) override { log << QStringLiteral("role %1").arg(role); }
    void ShowModal() override
    {
        log << QStringLiteral("show");
        ++shows;
        if (onShow)
            onShow();
    }
    void CloseDialog() override { log << QStringLiteral("close"); }
    ConnectResults Results() const override { return results; }

    ConnectResults results;
    QStringList log;
    int shows = 0;
    std::function<void()> onShow;
};

} // namespace bramblet::test
