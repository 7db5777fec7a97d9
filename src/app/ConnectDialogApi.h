#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace bramblet {

// What the connect dialog leaves for the main window when it closes.
struct ConnectResults {
    std::int32_t ResultCode = -1; // 0 once the speed test completed
    QString PeerAddress;          // the peer as seen on the TCP connection
    QString OwnAddress;           // this side as the peer saw it
    std::uint16_t PeerUdpPort = 5739;
    QString SpeedRating;
    QString StabilityRating;
    QString LossRating;
};

// The main window's view of its one connect dialog, so the link start can be driven by a
// scripted dialog in tests.
class IConnectDialog {
public:
    virtual ~IConnectDialog() = default;
    virtual void SetPeerAddress(const QString &address) = 0;
    virtual void SetRole(std::int32_t role) = 0;
    // Shows the dialog modally with the main window disabled; returns when it has closed.
    virtual void ShowModal() = 0;
    // Closes the dialog; when it is not open this only stops its sockets and timers again.
    virtual void CloseDialog() = 0;
    virtual ConnectResults Results() const = 0;

    // Told, as a CLIENT, each time a connection attempt of the current show ended without an
    // answer, with the count so far in this show.
    void SetOnClientAttemptFailed(std::function<void(int failedAttempts)> handler)
    {
        onClientAttemptFailed_ = std::move(handler);
    }

protected:
    void tellClientAttemptFailed(int failedAttempts)
    {
        if (onClientAttemptFailed_)
            onClientAttemptFailed_(failedAttempts);
    }

private:
    std::function<void(int)> onClientAttemptFailed_;
};

} // namespace bramblet
