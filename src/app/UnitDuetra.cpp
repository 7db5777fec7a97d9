#include "app/UnitDuetra.h"

#include "app/ApplicationTitle.h"
#include "app/ConnectDialogApi.h"
#include "app/DesktopServices.h"
#include "app/EnvironmentChecks.h"
#include "app/ErrorBox.h"
#include "app/InterfaceLog.h"
#include "app/MessageService.h"
#include "app/PixelFont.h"
#include "app/ProgramIcon.h"
#include "app/TrayIcon.h"
#include "app/UnitConnect.h"
#include "external/localserver.h"
#include "platform/gamesettings.h"
#include "platform/hostsfile.h"
#include "platform/hostsguard.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>
#include <QTimer>

#include <cstdio>

namespace bramblet {

ProcessFlags &processFlags()
{
    static ProcessFlags flags;
    return flags;
}

namespace {

QFont sansSerif(int pixelSize) { return pixelFont(QStringLiteral("MS Sans Serif"), pixelSize); }

} // namespace

TBrambletMainForm::TBrambletMainForm(const MainFormServices &services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      services_(services)
{
    hostsGuard_ = services_.hostsGuard();
    // A guard killed during a link leaves the redirection in place; the player hears it at
    // once, and the close puts the hosts file back through a new guard.
    hostsGuard_->died = [this] {
        TrayIcon1->ShowBalloon(tr("hosts文件守护程序意外结束"),
                               tr("游戏的重定向仍留在hosts文件中。关闭本程序时会再请求一次管理员密码，把hosts文件还原。"),
                               BalloonIcon::Warning, 10);
        // The question runs a loop of its own: asked once the guard's end has been handled.
        QMetaObject::invokeMethod(this, [this] { guarded([this] { offerRestoreNow(); }); }, Qt::QueuedConnection);
    };

    setObjectName(QStringLiteral("BrambletMainForm"));
    setWindowTitle(QStringLiteral("Quorrel2008 Online v.4"));
    setFont(sansSerif(11));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(programIcon());

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 321, 89);

    Label2 = new QLabel(QStringLiteral("IP 2-Player"), GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(16, 37, 79, 13);
    Label2->setFont(sansSerif(13));

    EditRemoteIp = new QLineEdit(GroupBox1);
    EditRemoteIp->setObjectName(QStringLiteral("EditRemoteIp"));
    EditRemoteIp->setGeometry(112, 37, 177, 21);
    EditRemoteIp->setFont(sansSerif(13));
    // The field starts empty; typing offers the addresses that led to a link before.
    PeerCompleter = new QCompleter(EditRemoteIp);
    PeerCompleter->setObjectName(QStringLiteral("PeerCompleter"));
    PeerCompleter->setModel(new QStringListModel(PeerCompleter));
    EditRemoteIp->setCompleter(PeerCompleter);
    refreshRecentPeers();

    ButtonServer = new QPushButton(QStringLiteral("SERVER"), this);
    ButtonServer->setObjectName(QStringLiteral("ButtonServer"));
    ButtonServer->setGeometry(40, 112, 99, 49);
    ButtonServer->setFont(sansSerif(13));

    ButtonClient = new QPushButton(QStringLiteral("CLIENT"), this);
    ButtonClient->setObjectName(QStringLiteral("ButtonClient"));
    ButtonClient->setGeometry(200, 112, 99, 49);
    ButtonClient->setFont(sansSerif(13));

    // Address field first, then SERVER, then CLIENT; the field has the focus at open.
    setTabOrder(EditRemoteIp, ButtonServer);
    setTabOrder(ButtonServer, ButtonClient);
    EditRemoteIp->setFocus(Qt::OtherFocusReason);

    TimerBalloon = new QTimer(this);
    TimerBalloon->setObjectName(QStringLiteral("TimerBalloon"));
    TimerBalloon->setInterval(1000);
    connect(TimerBalloon, &QTimer::timeout, this, guardedSlot([this] { TimerBalloonTimer(); }));
    connect(ButtonServer, &QPushButton::clicked, this, guardedSlot([this] { ButtonServerClick(); }));
    connect(ButtonClient, &QPushButton::clicked, this, guardedSlot([this] { ButtonClientClick(); }));

    createTray();
    createChecks();
    createPlayerChannel();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }

    FormCreate();
    createRouter(); // needs the connect dialog

    // Once the loop runs: a backup an earlier run could not put back goes back now, with
    // the one password prompt the guard's start asks for.
    QMetaObject::invokeMethod(this, [this] { guarded([this] { restoreStaleBackup(); }); }, Qt::QueuedConnection);
}

TBrambletMainForm::~TBrambletMainForm() = default;

void TBrambletMainForm::FormCreate()
{
    connectDialog_ = services_.createConnectDialog(this);
    FormConnect = connectDialog_.get();
    LinkRole = -1;
    LaunchResult = 0;
    processFlags().EnvironmentCheckPending = true;
    processFlags().HelpBalloonPending = true;
}

void TBrambletMainForm::refreshRecentPeers()
{
    if (services_.settings)
        static_cast<QStringListModel *>(PeerCompleter->model())->setStringList(services_.settings->recentPeers());
}

QString TBrambletMainForm::programFolder() const
{
    return services_.programFolder;
}

void TBrambletMainForm::restoreStaleBackup()
{
    if (!closed_ && hostsGuard_->backupState() == hosts::BackupState::Ours)
        reportRestore(hostsGuard_->restoreStale());
}

void TBrambletMainForm::SetGameIp(const QString &gatewayAddress, const QString &stunAddress)
{
    hostsGuard_->redirect(gatewayAddress, stunAddress);
}

bool TBrambletMainForm::GetLocalIP(QString &address)
{
    const std::optional<QString> found =
        services_.localAddress();
    if (!found)
        return false;
    address = *found;
    return true;
}

void TBrambletMainForm::StartLocalServer(const QString &localAddress)
{
    LaunchResult = external::startLocalServer(programFolder(), localAddress);
}

namespace {

QString nativePath(const std::filesystem::path &path) { return QString::fromStdString(path.string()); }

QString backupMissingText(platform::IHostsGuard &redirect)
{
    return TBrambletMainForm::tr("hosts文件%1仍然带有本程序的游戏重定向，但它的备份%2已经不见了。"
                          "本程序不会改动它，请手动删除其中含有%3和%4的两行。")
        .arg(nativePath(redirect.hostsPath()), nativePath(redirect.backupPath()),
             QString::fromLatin1(hosts::kGatewayHostName), QString::fromLatin1(hosts::kStunHostName));
}

// Where the guard left the earlier file when the hosts file lost our marker during the link.
QString handedOverPath(const std::string &error)
{
    const std::string key = " is kept in ";
    const std::size_t at = error.rfind(key);
    return at == std::string::npos ? QString() : QString::fromStdString(error.substr(at + key.size()));
}

} // namespace

bool TBrambletMainForm::hostsReadyForLink()
{
    switch (hostsGuard_->backupState()) {
    case hosts::BackupState::Foreign:
        warn(tr("备份文件%1已经存在，但它不是本程序创建的。为了不覆盖它，本程序没有修改hosts文件。"
                            "请把它移走或改名，然后再连接。")
                 .arg(nativePath(hostsGuard_->backupPath())));
        return false;
    case hosts::BackupState::Missing:
        // Where the rest of the file is the earlier content the guard takes our lines out.
        if (platform::hostsStyle().keepEarlierLines)
            break;
        warn(backupMissingText(*hostsGuard_));
        return false;
    case hosts::BackupState::None:
    case hosts::BackupState::Ours:
    case hosts::BackupState::Leftover:
        break;
    }
    return true;
}

// A restore that could not simply put the backup back says what it kept.
void TBrambletMainForm::reportRestore(hosts::Restored restored)
{
    if (restored == hosts::Restored::ChangesKept)
        warn(tr("hosts文件%1在联机期间被别的程序或管理员修改过。本程序只去掉了自己加入的几行，这些修改都保留了下来。")
                 .arg(nativePath(hostsGuard_->hostsPath())));
    else if (restored == hosts::Restored::Repaired)
        warn(tr("hosts文件%1还带有本程序以前的游戏重定向，但它的备份已经不见了。本程序去掉了重定向的几行，其余内容保持不变。")
                 .arg(nativePath(hostsGuard_->hostsPath())));
}

void TBrambletMainForm::restoreHostsAtClose()
{
    // The earlier content comes back, also from a backup of ours an earlier run left; a
    // backup someone else made is not ours to put back. A failure must not keep the rest of
    // the close from running: the backup stays and is put back at the next start or close.
    try {
        const hosts::BackupState state = hostsGuard_->backupState();
        // The guard puts back only a backup of ours, and clears our files a killed run left.
        const hosts::Restored restored = hostsGuard_->restore();
        reportRestore(restored);
        if (state == hosts::BackupState::Missing && restored == hosts::Restored::Nothing)
            warn(backupMissingText(*hostsGuard_));
    } catch (const std::exception &e) {
        warnRestoreFailed(e, true);
    }
}

void TBrambletMainForm::warnRestoreFailed(const std::exception &e, bool atClose)
{
    std::fprintf(stderr, "Bramblet: %s\n", e.what());
    std::fflush(stderr);
    const QString kept = handedOverPath(e.what());
    if (!kept.isEmpty()) {
        warn(tr("hosts文件%1在联机期间被别的程序或管理员改过，本程序的标记也被去掉了，所以本程序没有改动它。"
                "联机前的hosts文件保存在%2。")
                 .arg(nativePath(hostsGuard_->hostsPath()), kept));
        return;
    }
    const QString text = atClose ? tr("无法恢复hosts文件%1！原来的内容仍保存在备份%2中，请手动用它替换hosts文件。")
                                 : tr("现在无法恢复hosts文件%1。原来的内容仍保存在备份%2中，关闭本程序时会再试一次。");
    warn(text.arg(nativePath(hostsGuard_->hostsPath()), nativePath(hostsGuard_->backupPath())) + u'\n' +
         QString::fromLocal8Bit(e.what()));
}

void TBrambletMainForm::offerRestoreNow()
{
    if (closed_)
        return;
    const bool now = services_.messages->ask(
        this,
        tr("hosts文件守护程序意外结束了，游戏的重定向还留在hosts文件中。要现在就还原hosts文件吗？"
           "（可能需要再输入一次管理员密码）还原以后，本机的游戏就连不到对方了。选“否”则在关闭本程序时还原。"),
        applicationTitle());
    // A close while the question was up has restored already.
    if (!now || closed_)
        return;
    // Through a new guard, as the close would. The rest of the link (the local server, the
    // player channel, the tray's summary) stays as it is: the friend may still be using it,
    // and the buttons stay off, as for any link of this run.
    try {
        reportRestore(hostsGuard_->restore());
    } catch (const std::exception &e) {
        warnRestoreFailed(e, false);
        return;
    }
    if (closed_)
        return;
    services_.messages->show(this,
                             tr("hosts文件已经还原，游戏的重定向没有了：本机的游戏现在连不到对方了。"
                                "本程序的其余部分照常运行。要再和对方联机，请退出本程序，重新打开后再连接。"),
                             applicationTitle(), MessageIcon::Information);
}

void TBrambletMainForm::FormClose()
{
    // 1. The hosts file.
    services_.interfaceLog->write(QStringLiteral("close"), {QStringLiteral("restore")});
    restoreHostsAtClose();

    // 2. The connect dialog.
    services_.interfaceLog->write(QStringLiteral("close"), {QStringLiteral("dialog")});
    if (FormConnect)
        FormConnect->CloseDialog();

    // 3. The local server.
    services_.interfaceLog->write(QStringLiteral("close"), {QStringLiteral("stop-local-server")});
    external::stopLocalServer(programFolder());

    // 4. The ports opened on the home router go back.
    routerAtClose();
}

void TBrambletMainForm::N1Click() { close(); }

void TBrambletMainForm::N2Click() { TrayIcon1->RestoreMainWindow(); }

void TBrambletMainForm::TrayIcon1DblClick() { TrayIcon1->RestoreMainWindow(); }

void TBrambletMainForm::closeEvent(QCloseEvent *event)
{
    // Closing is never refused; the program ends after the handler. The end of the session
    // may ask again while the first close runs or after it: the close runs once.
    if (closed_) {
        event->accept();
        return;
    }
    closed_ = true;
    guarded([this] { FormClose(); });
    event->accept();
    if (services_.quitApplication)
        services_.quitApplication();
}

} // namespace bramblet
