#include "app/UnitDuetra.h"

#include "app/ErrorBox.h"
#include "app/ProgramIcon.h"
#include "app/UnitConnect.h"

#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace bramblet {

ProcessFlags &processFlags()
{
    static ProcessFlags flags;
    return flags;
}

namespace {

QFont sansSerif(int pixelSize)
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace

TBrambletMainForm::TBrambletMainForm(const MainFormServices &services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      services_(services)
{
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

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }

    FormCreate();
}

TBrambletMainForm::~TBrambletMainForm() = default;

void TBrambletMainForm::FormCreate()
{
    connectDialog_ = services_.createConnectDialog ? services_.createConnectDialog(this)
                                                   : std::make_unique<TFormConnect>(this);
    FormConnect = connectDialog_.get();
    LinkRole = -1;
    LaunchResult = 0;
    processFlags().EnvironmentCheckPending = true;
    processFlags().HelpBalloonPending = true;
}

void TBrambletMainForm::FormClose()
{
    if (FormConnect)
        FormConnect->CloseDialog();
}

void TBrambletMainForm::closeEvent(QCloseEvent *event)
{
    // Closing is never refused; the program ends after the handler.
    guarded([this] { FormClose(); });
    event->accept();
    if (services_.quitApplication)
        services_.quitApplication();
}

} // namespace bramblet
