#pragma once

#include "app/ConnectDialogApi.h"
#include "app/Services.h"
#include "core/hostsfile.h"
#include "core/router.h"
#include "net/TcpSockets.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QCompleter;
class QPushButton;
class QTimer;

namespace bramblet {

class TTrayIcon;
class IConnectDialog;
class EnvironmentChecks;
class IFileDialog;
class IShell;
namespace platform {
class IGameSettings;
class IHostsGuard;
}

// Process-wide one-byte flags shared by the start-up, the link start and the first show.
struct ProcessFlags {
    bool EnvironmentCheckPending = false;
    bool HelpBalloonPending = false;
    bool HelpBalloonActive = false;
};
ProcessFlags &processFlags();

// The main window.
class TBrambletMainForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 335;
    static constexpr int kClientHeight = 174;

    explicit TBrambletMainForm(const MainFormServices &services, QWidget *parent = nullptr);
    ~TBrambletMainForm() override;

    // Visible controls.
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *EditRemoteIp = nullptr;
    QPushButton *ButtonServer = nullptr;
    QPushButton *ButtonClient = nullptr;
    // Offers the last addresses that led to a link while the player types.
    QCompleter *PeerCompleter = nullptr;

    // Non-visual components.
    QTimer *TimerBalloon = nullptr;
    // The tray icon: its Hint carries the link summary, ShowBalloon shows the balloons.
    TTrayIcon *TrayIcon1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *N2 = nullptr; // "SHOW-MOSTRA"
    QAction *N3 = nullptr; // separator
    QAction *N1 = nullptr; // "EXIT-ESCI"
    // Below the buttons, only while there is no tray: the hint and the balloons no tray or
    // notification could show. A click on a balloon there counts as a balloon click.
    QLabel *StatusLine = nullptr;
    // Below the controls (and below StatusLine when both show): what the home router allows,
    // the address to give the friend, or what stands in the way (UnitDuetraRouter.cpp).
    QLabel *RouterLine = nullptr;
    // The player channel: TCP, all interfaces, inactive until a link on the SERVER side
    // opens it (UnitDuetraChannel.cpp).
    TServerSocket *ServerSocket1 = nullptr;

    // The program's one connect dialog, made in FormCreate.
    IConnectDialog *FormConnect = nullptr;

    // Fields of a link started from this window.
    std::int32_t LinkRole = 0;
    std::int32_t LaunchResult = 0;
    QString PeerRealAddress;
    QString OwnRealAddress;
    QString LocalAddress;
    std::uint16_t PeerSpeedPort = 0;
    std::uint16_t OwnSpeedPort = 0;

    void FormCreate();
    void FormShow();
    void ButtonServerClick();
    void ButtonClientClick();
    void TimerBalloonTimer();
    void FormClose();
    void N1Click();
    void N2Click();
    void TrayIcon1DblClick();
    void TrayIcon1BalloonHintClick();

    // The player channel. Activation raises the socket layer's error when the port is
    // taken; deactivation drops the open connections without reporting their players.
    void ActivatePlayerChannel();
    void DeactivatePlayerChannel();
    void ServerSocket1ClientRead(QObject *Sender, TCustomWinSocket *Socket);
    void ServerSocket1ClientDisconnect(QObject *Sender, TCustomWinSocket *Socket);
    void ServerSocket1ClientError(QObject *Sender, TCustomWinSocket *Socket, TErrorEvent &ErrorEvent,
                                  int &ErrorCode);

    // The game's redirection, made by the hosts guard. SetGameIp raises bramblet::Error with
    // the system's text when the hosts file cannot be changed (or the guard was not allowed
    // to run); the hosts file then keeps its earlier content.
    void SetGameIp(const QString &gatewayAddress, const QString &stunAddress);
    bool GetLocalIP(QString &address);
    // Starts Lib/Ostrel for `localAddress`; its process id goes to LaunchResult.
    void StartLocalServer(const QString &localAddress);

    // The FileVersion text of a Windows executable's version resource, or empty.
    static QString GetFileVersion(const QString &path);

    QString programFolder() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // While a press or the first show waits with the event loop running (the password prompt,
    // a slow lookup, the game search), the buttons take no second press: a press inside a
    // press would start a second guard and dialog. They get their earlier state back, unless
    // the press ended in a link (`keep`).
    class ButtonsHeld {
    public:
        explicit ButtonsHeld(TBrambletMainForm &form);
        ~ButtonsHeld();
        ButtonsHeld(const ButtonsHeld &) = delete;
        ButtonsHeld &operator=(const ButtonsHeld &) = delete;
        bool keep = false;

    private:
        TBrambletMainForm &form_;
        bool server_;
        bool client_;
    };

    void createTray(); // UnitDuetraTray.cpp
    void createChecks(); // UnitDuetraChecks.cpp
    void startLink(std::int32_t role); // UnitDuetraLink.cpp
    void warn(const QString &text);
    void refreshRecentPeers();
    // The hosts file around a link: whether a link may redirect it (a backup that is not
    // ours is left alone and the user told; our redirection without its backup the guard
    // takes out where the rest of the file is the earlier content), and putting it back at
    // close, telling the user what could not be put back or what others changed meanwhile.
    bool hostsReadyForLink();
    void restoreHostsAtClose();
    // The guard of the running link died: the player may have the hosts file put back now,
    // through a new guard, instead of at close.
    void offerRestoreNow();
    void warnRestoreFailed(const std::exception &e, bool atClose);
    void createPlayerChannel(); // UnitDuetraChannel.cpp
    void showStatusLine(const QString &text);
    void layoutBelowControls();
    void createRouter(); // UnitDuetraRouter.cpp
    void showRouterAdvice(const QString &kind, const QString &text);
    void showRouterAdvice(const router::Advice &advice, const router::Advice &after = {});
    void checkFirewall(const QString &address);
    void firewallBeforeDialog(bool server, const QString &peer);
    // The link start's part: the ports opened before a SERVER waits, given back on a CLIENT
    // press and when a SERVER press ends without a link.
    void routerBeforeDialog(bool server, const QString &peer);
    void routerAfterDialog(bool server, bool linked);
    void routerAtClose();
    void restoreStaleBackup();
    void reportRestore(hosts::Restored restored);

    MainFormServices services_;
    std::unique_ptr<platform::IHostsGuard> hostsGuard_;
    bool closed_ = false;
    std::unique_ptr<EnvironmentChecks> checks_;
    std::unique_ptr<IConnectDialog> connectDialog_;
    // Each player connection's reassembly, owned by ServerSocket1 (UnitDuetraChannel.cpp).
    class PlayerConnections;
    PlayerConnections *playerConnections_ = nullptr;
    // The peer a CLIENT press is trying, for the advice after its failed attempts.
    QString clientPeer_;
    bool clientPressed_ = false;
    // The router as last heard of, the link standing (failure advice is then of no use), and
    // an advice about the typed address that router answers do not replace until the next press.
    router::RouterAnswer lastRouter_;
    bool linkUp_ = false;
    bool peerAdviceShown_ = false;
    bool failureAdviceShown_ = false;
    // What the player's own firewall needs, said after a SERVER's router advice: ufw's
    // commands, or firewalld's when the player would not let the program open the ports.
    router::Advice firewallAdvice_;
    int firewallState_ = -1; // FirewalldPorts::State once asked
    QString firewallZone_;
    bool firewallAsked_ = false;
};

} // namespace bramblet
