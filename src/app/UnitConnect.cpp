#include "app/UnitConnect.h"
#include "app/PixelFont.h"
#include "app/Translation.h"

#include "app/ErrorBox.h"
#include "core/address.h"
#include "core/errors.h"
#include "net/Address.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <vector>

namespace bramblet {

namespace {

QFont tahoma(int pixelSize) { return pixelFont(QStringLiteral("Tahoma"), pixelSize); }

QString utf8(const std::string &text)
{
    return QString::fromStdString(text);
}

std::int64_t steadyMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// One receive of at most one message's size, cut into whole messages by the connection's
// stream.
std::vector<negotiation::Message> receiveMessages(TCustomWinSocket *socket, negotiation::Reassembler &stream)
{
    std::array<std::uint8_t, negotiation::MaxMessageSize> buffer {};
    const int n = socket->ReceiveBytes(buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0)
        return {};
    return stream.feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
}

template <std::size_t N> void sendMessage(TCustomWinSocket *socket, const std::array<std::uint8_t, N> &bytes)
{
    socket->SendBytes(bytes.data(), static_cast<int>(bytes.size()));
}

std::string remoteAddress(TCustomWinSocket *socket)
{
    return dottedQuad(socket->RemoteEndpoint());
}

// Translated when shown, in the dialog's own context.
const char *const kAcceptedText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "已建立连接，正在接收信息");
const char *const kConnectedText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "已建立连接，正在发送信息");
const char *const kHelloText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "正在返回客户端地址");
const char *const kPortRequestText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "正在请求端口");
const char *const kAddressText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "正在返回服务器地址");
const char *const kResendText = QT_TRANSLATE_NOOP("bramblet::TFormConnect", "返回地址有误，请求重传");

} // namespace

speedtest::SpeedTest &speedTestCounters()
{
    static speedtest::SpeedTest counters;
    return counters;
}

TFormConnect::TFormConnect(QWidget *owner, ConnectDialogOptions options)
    : QDialog(owner,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , options_(std::move(options))
{
    setObjectName(QStringLiteral("FormConnect"));
    setWindowTitle(QStringLiteral("OK"));
    setFont(tahoma(11));
    setFixedSize(kClientWidth, kClientHeight);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(72, 32, 57, 17);
    Image1->setScaledContents(true);

    // Created after Image1 so that it lies over it.
    Panel1 = new QLabel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 24, kClientWidth, kPanelHeight);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setWordWrap(true); // a translated status may take more than one line
    Panel1->setAutoFillBackground(true);
    Panel1->setFont(tahoma(13));
    Panel1->hide();

    Button1 = new QPushButton(QStringLiteral("CANCELL"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(64, 72, 73, 25);
    Button1->setFont(tahoma(13));
    connect(Button1, &QPushButton::clicked, this, guardedSlot([this] { Button1Click(); }));

    ClientSocket1 = new TClientSocket(this);
    ClientSocket1->setObjectName(QStringLiteral("ClientSocket1"));
    ClientSocket1->SetPort(options_.negotiationPort);
    ClientSocket1->OnConnect = [this](QObject *s, TCustomWinSocket *c) { ClientSocket1Connect(s, c); };
    ClientSocket1->OnRead = [this](QObject *s, TCustomWinSocket *c) { ClientSocket1Read(s, c); };
    ClientSocket1->OnError
        = [this](QObject *s, TCustomWinSocket *c, TErrorEvent &e, int &code) { ClientSocket1Error(s, c, e, code); };

    ServerSocket1 = new TServerSocket(this);
    ServerSocket1->setObjectName(QStringLiteral("ServerSocket1"));
    ServerSocket1->SetPort(options_.negotiationPort);
    ServerSocket1->OnAccept = [this](QObject *s, TCustomWinSocket *c) { ServerSocket1Accept(s, c); };
    ServerSocket1->OnClientRead = [this](QObject *s, TCustomWinSocket *c) { ServerSocket1ClientRead(s, c); };
    // Each connection starts with an empty stream; a closed one takes its stream with it.
    ServerSocket1->OnClientConnect = [this](QObject *, TCustomWinSocket *c) { serverStreams_[c].reset(); };
    ServerSocket1->OnClientDisconnect = [this](QObject *, TCustomWinSocket *c) { serverStreams_.erase(c); };

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(options_.retryIntervalMs);
    connect(Timer1, &QTimer::timeout, this, guardedSlot([this] { Timer1Timer(); }));
    retrySoon_ = new QTimer(this);
    retrySoon_->setSingleShot(true);
    retrySoon_->setInterval(options_.refusedRetryIntervalMs);
    connect(retrySoon_, &QTimer::timeout, this, guardedSlot([this] { retrySockets(); }));

    UDPServer1 = new TUDPServer(this);
    UDPServer1->setObjectName(QStringLiteral("UDPServer1"));
    TUDPSocketHandle &binding = UDPServer1->Bindings.Add();
    binding.IP = "0.0.0.0";
    binding.Port = options_.speedTestPort;
    UDPServer1->DefaultPort = options_.speedTestPort;
    UDPServer1->OnUDPRead
        = [this](QObject *s, const TBytes &data, TUDPSocketHandle *b) { UDPServer1UDPRead(s, data, b); };

    TimerSpeedTest = new QTimer(this);
    TimerSpeedTest->setObjectName(QStringLiteral("TimerSpeedTest"));
    TimerSpeedTest->setInterval(options_.speedTickIntervalMs);
    TimerSpeedTest->setTimerType(Qt::PreciseTimer);
    connect(TimerSpeedTest, &QTimer::timeout, this, guardedSlot([this] { TimerSpeedTestTimer(); }));

    FormCreate();
}

TFormConnect::~TFormConnect()
{
    // The listener must not hand a datagram to a dialog that is half gone.
    UDPServer1->OnUDPRead = nullptr;
    try {
        FormClose();
    } catch (...) {
        // nobody is left to tell
    }
}

// ---- the main window's operations -------------------------------------------------------

void TFormConnect::SetPeerAddress(const QString &address)
{
    PeerAddress = address;
}

void TFormConnect::SetRole(std::int32_t role)
{
    Role = role;
}

void TFormConnect::ShowModal()
{
    if (isVisible())
        return;
    if (QWidget *owner = parentWidget()) {
        QRect area(QPoint(0, 0), size());
        area.moveCenter(owner->window()->geometry().center());
        setGeometry(area);
    }
    exec();
}

void TFormConnect::CloseDialog()
{
    if (isVisible())
        done(QDialog::Rejected);
    else
        FormClose();
}

ConnectResults TFormConnect::Results() const
{
    ConnectResults r;
    r.ResultCode = ResultCode;
    r.PeerAddress = PeerAddress;
    r.OwnAddress = OwnAddress;
    r.PeerUdpPort = PeerUdpPort;
    r.SpeedRating = SpeedRating;
    r.StabilityRating = StabilityRating;
    r.LossRating = LossRating;
    return r;
}

QString TFormConnect::animationPath() const
{
    QString folder = QDir::fromNativeSeparators(
        options_.programFolder.isEmpty() ? platform::programFolder() : options_.programFolder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("Lib/sending.gif");
}

// ---- the dialog's own handlers --------------------------------------------------------------

void TFormConnect::FormCreate()
{
    Role = -1;
}

void TFormConnect::showEvent(QShowEvent *event)
{
    // A window shown again by the system (after a minimise) is not a new show.
    if (!event->spontaneous())
        guarded([this] { FormShow(); });
    QDialog::showEvent(event);
}

void TFormConnect::FormShow()
{
    open_ = true;
    ResultCode = -1;
    // Reset with the other results, before anything below can fail: a show whose sockets
    // could not open must not keep the port an earlier show learned.
    PeerUdpPort = options_.peerSpeedTestPort;

    Image1->show();
    Image1->setMovie(nullptr);
    delete movie_;
    movie_ = nullptr;
    const QString path = animationPath();
    // A file that starts like a GIF but cannot be decoded must fail here too, not play blank.
    QImageReader reader(path);
    if (reader.read().isNull()) {
        const QString why = QFile::exists(path) ? reader.errorString() : QStringLiteral("No such file");
        throw Error(
            QStringLiteral("Cannot open file \"%1\". %2").arg(QDir::toNativeSeparators(path), why).toStdString());
    }
    movie_ = new QMovie(path, QByteArray(), this);
    Image1->setMovie(movie_);
    movie_->start();

    Panel1->hide();
    Timer1->start();
    toldThisShow_.clear();
    peerAddressArrived_ = false;
    failedClientAttempts_ = 0;
    retrySockets();
}

void TFormConnect::done(int)
{
    guarded([this] { FormClose(); });
    // Success and cancel both end with the cancel result; ResultCode tells them apart.
    QDialog::done(QDialog::Rejected);
}

void TFormConnect::FormClose()
{
    open_ = false;
    // Every step runs even when an earlier one fails, so no socket or timer outlives a close.
    std::exception_ptr failure;
    auto step = [&failure](auto &&f) {
        try {
            f();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    step([this] { Timer1->stop(); });
    step([this] { retrySoon_->stop(); });
    step([this] { TimerSpeedTest->stop(); });
    step([this] { ClientSocket1->SetActive(false); });
    step([this] { ServerSocket1->SetActive(false); });
    serverStreams_.clear();
    clientStream_.reset();
    step([this] { UDPServer1->SetActive(false); });
    step([this] { ClientSocket1->SetAddress(std::string()); });
    Panel1->hide();
    hideAnimation();
    if (failure)
        std::rethrow_exception(failure);
}

void TFormConnect::Button1Click()
{
    CloseDialog();
}

void TFormConnect::Timer1Timer()
{
    // Not connected a whole period after the last tick: that period's attempts got no answer.
    if (open_ && !isServer() && !ClientSocket1->Active())
        tellClientAttemptFailed(++failedClientAttempts_);
    retrySockets();
}

// ---- opening the sockets, and trying again ----------------------------------------------------
//
// FormShow, every Timer1 tick and the quick retry after a refusal all come here. What is
// open stays open; what is not is tried again. A failure is told once per show, so a port
// another program holds does not bring a new box every few seconds.

void TFormConnect::retrySockets()
{
    if (!open_)
        return;
    // The TCP side opens only while the UDP side is bound: a peer that negotiated while the
    // speed-test port was held would send its opening datagram into the void and wait forever.
    if (!bindSpeedTestPort())
        return;
    if (isServer())
        listenForClient(); // nothing while it listens
    else if (!ClientSocket1->Active())
        connectClient(); // nothing while connected
}

bool TFormConnect::bindSpeedTestPort()
{
    if (UDPServer1->Active())
        return true;
    try {
        UDPServer1->SetActive(true);
    } catch (const Error &) {
        tellOncePerShow("udp", std::current_exception());
        return false;
    }
    toldThisShow_.erase("udp");
    return true;
}

bool TFormConnect::listenForClient()
{
    try {
        ServerSocket1->SetActive(true);
    } catch (const ESocketError &) {
        tellOncePerShow("listen", std::current_exception());
        return false;
    }
    toldThisShow_.erase("listen");
    return true;
}

void TFormConnect::connectClient()
{
    retrySoon_->stop();
    ClientSocket1->SetAddress(PeerAddress.toStdString());
    try {
        ClientSocket1->SetActive(true);
    } catch (const ESocketError &e) {
        // An attempt that fails at once (no route) is treated like one that fails later:
        // silently, and tried again.
        clientAttemptFailed(eeConnect, e.code());
    }
}

// Every failed attempt of the CLIENT, and every connection it lost, ends here.
void TFormConnect::clientAttemptFailed(TErrorEvent kind, int code)
{
    if (!open_ || isServer())
        return;
    // Refused: the SERVER's program is not listening yet, and soon will be. A time-out or
    // any other failure waits for Timer1.
    if (kind == eeConnect && isConnectionRefused(code))
        retrySoon_->start();
}

void TFormConnect::tellOncePerShow(const char *what, const std::exception_ptr &failure)
{
    if (toldThisShow_.insert(what).second)
        std::rethrow_exception(failure);
}

// ---- status display -------------------------------------------------------------------------

void TFormConnect::hideAnimation()
{
    Image1->hide();
    if (movie_)
        movie_->stop();
}

void TFormConnect::showStatus(const QString &text)
{
    hideAnimation();
    Panel1->show();
    setStatusCaption(text);
}

void TFormConnect::setStatusCaption(const QString &text)
{
    Panel1->setText(text);
    fitStatus();
}

void TFormConnect::fitStatus()
{
    // The dialog grows by what a longer (translated) status needs below the panel's own two
    // lines, and never cuts it; the Chinese texts fit in one line.
    const int extra = std::max(0, Panel1->heightForWidth(kClientWidth) - kPanelHeight);
    Panel1->setGeometry(0, 24, kClientWidth, kPanelHeight + extra);
    Button1->move(64, 72 + extra);
    setFixedSize(kClientWidth, kClientHeight + extra);
}

// ---- negotiation ----------------------------------------------------------------------------

void TFormConnect::ServerSocket1Accept(QObject *, TCustomWinSocket *)
{
    showStatus(tr(kAcceptedText));
}

void TFormConnect::ServerSocket1ClientRead(QObject *, TCustomWinSocket *Socket)
{
    for (const negotiation::Message &message : receiveMessages(Socket, serverStreams_[Socket]))
        serverMessage(Socket, message);
}

void TFormConnect::serverMessage(TCustomWinSocket *socket, const negotiation::Message &message)
{
    if (std::holds_alternative<negotiation::NegHello>(message)) {
        showStatus(tr(kHelloText));
        const std::string observed = remoteAddress(socket);
        ObservedAddress = utf8(observed);
        sendMessage(socket, negotiation::encodeAddress(observed));
    } else if (const auto *address = std::get_if<negotiation::NegAddress>(&message)) {
        showStatus(tr(kPortRequestText));
        OwnAddress = utf8(address->address);
        PeerAddress = utf8(remoteAddress(socket));
        peerAddressArrived_ = true;
        sendMessage(socket, negotiation::encodePortRequest());
    }
    // A port request is meant for the CLIENT: ignored.
}

void TFormConnect::ClientSocket1Connect(QObject *, TCustomWinSocket *Socket)
{
    clientStream_.reset();
    showStatus(tr(kConnectedText));
    sendMessage(Socket, negotiation::encodeHello(Role));
}

void TFormConnect::ClientSocket1Read(QObject *, TCustomWinSocket *Socket)
{
    for (const negotiation::Message &message : receiveMessages(Socket, clientStream_))
        clientMessage(Socket, message);
}

void TFormConnect::clientMessage(TCustomWinSocket *socket, const negotiation::Message &message)
{
    if (const auto *address = std::get_if<negotiation::NegAddress>(&message)) {
        const std::string observed = remoteAddress(socket);
        ObservedAddress = utf8(observed);
        if (observed == "0.0.0.0") {
            // The SERVER's address is unknown, so ours cannot be answered: ask again.
            showStatus(tr(kResendText));
            sendMessage(socket, negotiation::encodeHello(Role));
            return;
        }
        showStatus(tr(kAddressText));
        sendMessage(socket, negotiation::encodeAddress(observed));
        OwnAddress = utf8(address->address);
        PeerAddress = ObservedAddress;
    } else if (std::holds_alternative<negotiation::NegPortRequest>(message)) {
        sendDatagram(speedtest::encodeSpeedOpen());
        startSpeedTest();
    }
    // A hello is meant for the SERVER: ignored.
}

void TFormConnect::ClientSocket1Error(QObject *, TCustomWinSocket *, TErrorEvent &ErrorEvent, int &ErrorCode)
{
    // Nobody listening yet, refused, reset: nothing is told, and the retry connects anew.
    const int code = ErrorCode;
    ErrorCode = 0;
    // A reset leaves the connection counted as connected, which would keep the retry away.
    if (ErrorEvent == eeDisconnect && ClientSocket1->Active())
        ClientSocket1->SetActive(false);
    clientAttemptFailed(ErrorEvent, code);
}

// ---- speed test ---------------------------------------------------------------------------

std::int64_t TFormConnect::now() const
{
    return options_.clock ? options_.clock() : steadyMicroseconds();
}

void TFormConnect::sendDatagram(std::span<const std::uint8_t> bytes)
{
    UDPServer1->SendDatagram(PeerAddress.toStdString(), PeerUdpPort, bytes.data(), bytes.size());
}

bool TFormConnect::fromPeer(const TUDPSocketHandle &binding) const
{
    const std::uint32_t peer = address::inetAddr(PeerAddress.toStdString());
    return peer != address::InetAddrNone && address::inetAddr(binding.SourceIP) == peer;
}

void TFormConnect::startSpeedTest()
{
    setStatusCaption(translated("speedtest", speedtest::StartStatusText));
    speedTestCounters().reset();
    if (!TimerSpeedTest->isActive()) // a restart keeps the rhythm
        TimerSpeedTest->start();
}

void TFormConnect::UDPServer1UDPRead(QObject *, const TBytes &AData, TUDPSocketHandle *ABinding)
{
    if (!open_)
        return;
    const auto datagram = speedtest::parseDatagram(AData);
    if (!datagram)
        return; // too short for its type, or of no known type
    switch (datagram->type) {
    case speedtest::DatagramType::SpeedOpen:
        // Only the peer met on TCP in this show opens the SERVER's test: a stray or forged
        // datagram must not make it succeed with an empty or stale OwnAddress.
        if (isServer() && peerAddressArrived_ && fromPeer(*ABinding)) {
            PeerUdpPort = static_cast<std::uint16_t>(ABinding->SourcePort);
            startSpeedTest();
        }
        break;
    case speedtest::DatagramType::SpeedProbe:
        // Answered to the peer's address and port as known, never to the datagram's source.
        sendDatagram(speedtest::encodeSpeedEcho(datagram->sequence));
        break;
    case speedtest::DatagramType::SpeedEcho: {
        if (!fromPeer(*ABinding))
            break; // only the peer's answers time the link
        // The elapsed time since the probe, cut to whole milliseconds, on the counters' scale.
        speedtest::SpeedTest &counters = speedTestCounters();
        counters.echoReceived(datagram->sequence, counters.ProbeStamp + (now() - probeStampUs_) / 1000);
        break;
    }
    }
}

void TFormConnect::TimerSpeedTestTimer()
{
    speedtest::SpeedTest &counters = speedTestCounters();
    if (!counters.allProbesSent()) {
        setStatusCaption(utf8(counters.countdownCaption(qtTranslator())));
        std::exception_ptr failure;
        try {
            sendDatagram(speedtest::encodeSpeedProbe(counters.nextSequence()));
        } catch (...) {
            failure = std::current_exception();
        }
        // A probe that could not be sent is a lost one: the test still ends after ten, and the
        // player hears of it once, not at every tick.
        probeStampUs_ = now();
        counters.probeSent(probeStampUs_ / 1000);
        if (failure)
            tellOncePerShow("probe", failure);
        return;
    }
    const speedtest::Rating rating = counters.rating();
    SpeedRating = translated("speedtest", rating.speed);
    StabilityRating = translated("speedtest", rating.stability);
    LossRating = translated("speedtest", rating.loss);
    succeed();
}

void TFormConnect::succeed()
{
    hideAnimation();
    Button1->setText(translated("speedtest", speedtest::DoneButtonCaption));
    ResultCode = 0;
    CloseDialog();
}

} // namespace bramblet
