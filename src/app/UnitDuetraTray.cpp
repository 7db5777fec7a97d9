// The main window's tray part: TrayIcon1, PopupMenu1 and the status line that stands in
// for the tray where the desktop has none.
#include "app/UnitDuetra.h"

#include "app/ErrorBox.h"
#include "app/Notifications.h"
#include "app/ProgramIcon.h"
#include "app/TrayIcon.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include <functional>

namespace bramblet {

namespace {

class ClickableLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && onClick)
            guarded(onClick);
    }
};

} // namespace

void TBrambletMainForm::createTray()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N2 = PopupMenu1->addAction(QStringLiteral("SHOW-MOSTRA"));
    N2->setObjectName(QStringLiteral("N2"));
    N3 = PopupMenu1->addSeparator();
    N3->setObjectName(QStringLiteral("N3"));
    N1 = PopupMenu1->addAction(QStringLiteral("EXIT-ESCI"));
    N1->setObjectName(QStringLiteral("N1"));
    connect(N2, &QAction::triggered, this, guardedSlot([this] { N2Click(); }));
    connect(N1, &QAction::triggered, this, guardedSlot([this] { N1Click(); }));

    TrayIcon1 = new TTrayIcon(this, services_.trayHost());
    TrayIcon1->SetInterfaceLog(services_.interfaceLog);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->SetIcon(programIcon());
    TrayIcon1->SetIconIndex(0);
    TrayIcon1->SetCycleInterval(0);
    TrayIcon1->SetPopupMenu(PopupMenu1);
    TrayIcon1->SetMinimizeToTray(true);
    TrayIcon1->SetIconVisible(true);
    TrayIcon1->OnDblClick = [this](TTrayIcon *) { TrayIcon1DblClick(); };
    TrayIcon1->OnBalloonHintClick = [this](TTrayIcon *) { TrayIcon1BalloonHintClick(); };
    TrayIcon1->SetNotificationService(services_.notifications());
    auto *statusLine = new ClickableLabel(this);
    statusLine->setObjectName(QStringLiteral("StatusLine"));
    statusLine->setTextFormat(Qt::PlainText);
    statusLine->setWordWrap(true);
    statusLine->setFrameShape(QFrame::StyledPanel);
    statusLine->onClick = [this] { TrayIcon1->StatusLineClick(); };
    statusLine->hide();
    StatusLine = statusLine;
    connect(TrayIcon1, &TTrayIcon::statusTextChanged, this,
            [this](const QString &text) { guarded([&] { showStatusLine(text); }); });
    TrayIcon1->Loaded();
}

void TBrambletMainForm::showStatusLine(const QString &text)
{
    StatusLine->setText(text);
    StatusLine->setToolTip(text);
    StatusLine->setVisible(!text.isEmpty());
    layoutBelowControls();
}

void TBrambletMainForm::layoutBelowControls()
{
    // The window grows by the lines below the buttons, one under the other.
    const int width = kClientWidth - 16;
    int height = kClientHeight;
    for (QLabel *line : {StatusLine, RouterLine}) {
        if (!line || line->text().isEmpty())
            continue;
        const int lineHeight = line->heightForWidth(width);
        line->setGeometry(8, height, width, lineHeight);
        height += lineHeight + 6;
    }
    setFixedSize(kClientWidth, height);
}

} // namespace bramblet
