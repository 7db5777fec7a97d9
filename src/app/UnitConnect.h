#pragma once

// The connect dialog: meets the peer over TCP, learns both sides' addresses as the other
// side sees them, measures the link over UDP and leaves the results in its fields.

#include "app/ConnectDialogApi.h"
#include "core/negotiation.h"
#include "core/speedtest.h"
#include "net/TcpSockets.h"
#include "net/UdpServer.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>

class QLabel;
class QMovie;
class QPushButton;
class QTimer;

namespace bramblet {

// What the dialog takes from its surroundings. The defaults are the program's; tests and
// benchmarks run it on other ports, with short intervals or a clock of their own.
struct ConnectDialogOptions {
    // TCP port of the negotiation: listened on as SERVER, connected to as CLIENT.
    std::uint16_t negotiationPort = negotiation::Port;
    // Local UDP port of the speed test.
    std::uint16_t speedTestPort = speedtest::Port;
    // The peer's UDP port assumed at each show; the SERVER learns the real one from the
    // opening datagram.
    std::uint16_t peerSpeedTestPort = speedtest::Port;
    int retryIntervalMs = 5000;
    // The CLIENT's next attempt after a refusal (nobody listens yet): the SERVER's player is
    // likely to press within seconds. Other failures wait for the next retry above.
    int refusedRetryIntervalMs = 500;
    int speedTickIntervalMs = 1000;
    // Monotonic microseconds; empty: the system's steady clock. Round-trip times are whole
    // milliseconds, the elapsed time cut down, so a reading's own rounding adds no error.
    std::function<std::int64_t()> clock;
    // The folder that holds Lib/sending.gif, ending in a separator; empty: the program's own.
    QString programFolder;
};

// The speed-test counters, held once for the program.
speedtest::SpeedTest &speedTestCounters();

class TFormConnect : public QDialog, public IConnectDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 207;
    static constexpr int kClientHeight = 105;
    static constexpr int kPanelHeight = 41;

    explicit TFormConnect(QWidget *owner = nullptr, ConnectDialogOptions options = {});
    ~TFormConnect() override;

    // IConnectDialog
    void SetPeerAddress(const QString &address) override;
    void SetRole(std::int32_t role) override;
    // Centres the dialog on its owner and runs it modally; the owner takes no input until it
    // has closed. The modal result is always the cancel result; ResultCode tells success.
    void ShowModal() override;
    void CloseDialog() override;
    ConnectResults Results() const override;

    // Components.
    QLabel *Image1 = nullptr;
    QLabel *Panel1 = nullptr; // the status text is its caption
    QPushButton *Button1 = nullptr;
    TClientSocket *ClientSocket1 = nullptr;
    TServerSocket *ServerSocket1 = nullptr;
    QTimer *Timer1 = nullptr;
    TUDPServer *UDPServer1 = nullptr;
    QTimer *TimerSpeedTest = nullptr;

    // Fields.
    QString ObservedAddress;
    std::int32_t Role = -1; // 1 SERVER, anything else CLIENT
    QString PeerAddress;
    QString OwnAddress;
    std::uint16_t PeerUdpPort = speedtest::Port;
    QString SpeedRating;
    QString StabilityRating;
    QString LossRating;
    std::int32_t ResultCode = -1;

    // Handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void Button1Click();
    void Timer1Timer();
    void ServerSocket1Accept(QObject *Sender, TCustomWinSocket *Socket);
    void ServerSocket1ClientRead(QObject *Sender, TCustomWinSocket *Socket);
    void ClientSocket1Connect(QObject *Sender, TCustomWinSocket *Socket);
    void ClientSocket1Read(QObject *Sender, TCustomWinSocket *Socket);
    void ClientSocket1Error(QObject *Sender, TCustomWinSocket *Socket, TErrorEvent &ErrorEvent, int &ErrorCode);
    void UDPServer1UDPRead(QObject *Sender, const TBytes &AData, TUDPSocketHandle *ABinding);
    void TimerSpeedTestTimer();

    // The file the waiting animation is loaded from.
    QString animationPath() const;

public slots:
    // Every way of closing (button, Escape, the title bar, CloseDialog) ends here.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool isServer() const { return Role == 1; }
    void showStatus(const QString &text);
    // Opening the sockets and trying again (FormShow, Timer1, a refusal).
    void retrySockets();
    bool bindSpeedTestPort();
    bool listenForClient();
    void connectClient();
    void clientAttemptFailed(TErrorEvent kind, int code);
    void tellOncePerShow(const char *what, const std::exception_ptr &failure);
    bool fromPeer(const TUDPSocketHandle &binding) const;
    void setStatusCaption(const QString &text);
    void fitStatus();
    void hideAnimation();
    void startSpeedTest();
    void succeed();
    std::int64_t now() const;
    void sendDatagram(std::span<const std::uint8_t> bytes);
    void serverMessage(TCustomWinSocket *socket, const negotiation::Message &message);
    void clientMessage(TCustomWinSocket *socket, const negotiation::Message &message);

    ConnectDialogOptions options_;
    QMovie *movie_ = nullptr;
    // The clock in microseconds just after the latest probe was sent (ProbeStamp in ms).
    std::int64_t probeStampUs_ = 0;
    // Between FormShow and FormClose; datagrams handed over while closing are not acted on,
    // so nothing can restart a timer or a socket once the close has begun.
    bool open_ = false;
    // What already failed in this show and was told (a port another program holds, a probe
    // that could not be sent): told once, not at every retry or tick.
    std::set<std::string> toldThisShow_;
    // The CLIENT's quick next attempt after a refusal.
    QTimer *retrySoon_ = nullptr;
    // The SERVER has had the peer's NegAddress in this show, so PeerAddress is the address
    // seen on that connection; only then may a SpeedOpen from it start the test.
    bool peerAddressArrived_ = false;
    int failedClientAttempts_ = 0; // CLIENT periods without a connection, in this show
    // One stream per connection: a message split over reads, or several in one read, come
    // out whole and in order.
    negotiation::Reassembler clientStream_;
    std::map<TCustomWinSocket *, negotiation::Reassembler> serverStreams_;
};

} // namespace bramblet
