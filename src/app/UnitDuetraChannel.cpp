// The main window's player channel: every connection accepted on ServerSocket1 is one player
// to the companion library. Its stream is cut into records, each passed on unscrambled with
// the connection's handle and the address of its UserWord; a reset record and the end of a
// connection tell the library the player is gone.
#include "app/UnitDuetra.h"

#include "core/playerchannel.h"
#include "external/companion.h"

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

namespace bramblet {

namespace {
// One receive per read event; what else waits comes with the next event.
constexpr int readLimit = 1000;
} // namespace

// The reassembly state of each open connection. A child of ServerSocket1, so it outlives
// every connection object the listener destroys, also while the window goes away.
class TBrambletMainForm::PlayerConnections : public QObject {
public:
    explicit PlayerConnections(QObject *parent)
        : QObject(parent)
    {
    }

    playerchannel::RecordFramer &framerOf(TCustomWinSocket *socket)
    {
        auto found = framers_.find(socket);
        if (found != framers_.end())
            return *found->second;
        // Keyed by the object, the state goes when the object goes: a later connection
        // object at the same address starts from nothing.
        connect(socket, &QObject::destroyed, this, [this, socket] { framers_.erase(socket); });
        return *framers_.emplace(socket, std::make_unique<playerchannel::RecordFramer>()).first->second;
    }

private:
    std::unordered_map<const TCustomWinSocket *, std::unique_ptr<playerchannel::RecordFramer>> framers_;
};

void TBrambletMainForm::createPlayerChannel()
{
    ServerSocket1 = new TServerSocket(this);
    ServerSocket1->setObjectName(QStringLiteral("ServerSocket1"));
    ServerSocket1->SetPort(services_.playerChannelPort);
    ServerSocket1->SetServerType(stNonBlocking);
    playerConnections_ = new PlayerConnections(ServerSocket1);
    // The socket layer runs every event under the error guard.
    ServerSocket1->OnClientRead
        = [this](QObject *Sender, TCustomWinSocket *Socket) { ServerSocket1ClientRead(Sender, Socket); };
    ServerSocket1->OnClientDisconnect
        = [this](QObject *Sender, TCustomWinSocket *Socket) { ServerSocket1ClientDisconnect(Sender, Socket); };
    ServerSocket1->OnClientError
        = [this](QObject *Sender, TCustomWinSocket *Socket, TErrorEvent &ErrorEvent, int &ErrorCode) {
              ServerSocket1ClientError(Sender, Socket, ErrorEvent, ErrorCode);
          };
}

void TBrambletMainForm::ActivatePlayerChannel()
{
    ServerSocket1->SetActive(true);
}

void TBrambletMainForm::DeactivatePlayerChannel()
{
    ServerSocket1->SetActive(false);
}

void TBrambletMainForm::ServerSocket1ClientRead(QObject *, TCustomWinSocket *Socket)
{
    std::uint8_t buffer[readLimit];
    const int n = Socket->ReceiveBytes(buffer, readLimit);
    if (n <= 0)
        return;
    external::ICompanionLibrary *library = services_.companion;
    const std::uint32_t handle = Socket->OsHandle();
    // The library keeps its own per-player word there; the object never moves while open.
    auto *userWord = reinterpret_cast<std::uint32_t *>(&Socket->UserWord);
    playerConnections_->framerOf(Socket).feed(
        std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)), [&](const playerchannel::Record &r) {
            if (r.reset) {
                // The framer hands on nothing after this: the handle is about to be closed and
                // may soon belong to someone else.
                if (library)
                    library->ResetPlayer(handle);
                Socket->CloseConnection(); // its disconnect event reports the player once more
                return;
            }
            if (library)
                library->MessageE(handle, r.bytes.data(), r.payloadLength, userWord);
        });
}

void TBrambletMainForm::ServerSocket1ClientDisconnect(QObject *, TCustomWinSocket *Socket)
{
    // The handle is still open here; the library lets go of it before the system can hand
    // the same number to a new connection.
    if (external::ICompanionLibrary *library = services_.companion)
        library->ResetPlayer(Socket->OsHandle());
}

void TBrambletMainForm::ServerSocket1ClientError(QObject *, TCustomWinSocket *Socket, TErrorEvent &, int &ErrorCode)
{
    ErrorCode = 0;
    // A connection that failed (reset or aborted by the peer) would otherwise stay open and
    // its player stay known to the library; closing it reports the player through the
    // disconnect event while the handle is still ours.
    Socket->CloseConnection();
}

} // namespace bramblet
