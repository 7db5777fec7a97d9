#include "app/TrayIcon.h"


#include "app/Gb2312.h"
#include "app/Translation.h"
#include "core/guard.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <climits>

namespace bramblet {

TTrayIcon::TTrayIcon(QWidget *owner, std::unique_ptr<ITrayHost> host)
    : QObject(owner), owner_(owner), host_(std::move(host)),
      IconCycleTimer(0, [this] { iconCycleTimerTimer(); }), ClickDelayTimer([this] { clickDelayTimerTimer(); })
{
    setObjectName(QStringLiteral("TrayIcon"));
    ClickDelayTimer.SetAutoDisable(true);
    connect(host_.get(), &ITrayHost::activated, this,
            [this](ITrayHost::Activation reason) { guarded([&] { activated(reason); }); });
    connect(host_.get(), &ITrayHost::messageClicked, this, [this] { guarded([this] { balloonClicked(); }); });
    connect(host_.get(), &ITrayHost::availabilityChanged, this,
            [this](bool available) { guarded([&] { trayAvailabilityChanged(available); }); });
    if (QWidget *main = mainWindow())
        main->installEventFilter(this);
}

TTrayIcon::~TTrayIcon()
{
    IconCycleTimer.Stop();
    ClickDelayTimer.Stop();
    if (host_) {
        host_->setMenu(nullptr);
        host_->setVisible(false);
    }
}

QWidget *TTrayIcon::mainWindow() const { return owner_ ? owner_->window() : nullptr; }

void TTrayIcon::Loaded()
{
    if (mainWindow()) {
        bool showMainForm = true;
        if (OnStartup)
            OnStartup(this, showMainForm);
        if (!showMainForm) {
            // The owner shows itself once it is set up; that first show is taken back.
            suppressNextShow_ = true;
            HideMainWindow();
        }
    }
    UpdateIcon();
    if (iconVisible_)
        AddIcon();
    else
        RemoveIcon();
    applyMenu();
    updateCycleTimer();
}

void TTrayIcon::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    // The host opens the menu by itself, so a disabled icon must not hand it one.
    applyMenu();
}

void TTrayIcon::SetHint(const QString &hint)
{
    log_->write(QStringLiteral("hint"), {hint});
    hint_ = hint;
    UpdateIcon();
}

void TTrayIcon::SetShowHint(bool showHint)
{
    showHint_ = showHint;
    UpdateIcon();
}

void TTrayIcon::SetIcon(const QIcon &icon)
{
    icon_ = icon;
    UpdateIcon();
}

void TTrayIcon::SetIconVisible(bool visible)
{
    if (visible)
        AddIcon();
    else
        RemoveIcon();
}

void TTrayIcon::SetIconList(TIconList *list)
{
    if (iconList_)
        disconnect(iconList_, nullptr, this, nullptr);
    iconList_ = list;
    if (list)
        connect(list, &QObject::destroyed, this, [this] {
            iconList_ = nullptr;
            iconIndex_ = 0;
        });
    SetIconIndex(iconIndex_);
}

void TTrayIcon::SetIconIndex(int index)
{
    const int last = iconList_ ? std::max(0, iconList_->Count() - 1) : 0;
    iconIndex_ = std::clamp(index, 0, last);
    takeIndexedIcon();
    UpdateIcon();
}

void TTrayIcon::takeIndexedIcon()
{
    if (iconList_ && iconIndex_ < iconList_->Count())
        icon_ = iconList_->Images.at(iconIndex_);
}

void TTrayIcon::SetCycleIcons(bool cycle)
{
    cycleIcons_ = cycle;
    updateCycleTimer();
}

void TTrayIcon::SetCycleInterval(int msecs)
{
    cycleInterval_ = std::max(0, msecs);
    updateCycleTimer();
}

void TTrayIcon::updateCycleTimer()
{
    IconCycleTimer.SetInterval(static_cast<unsigned>(cycleInterval_));
    if (cycleIcons_ && cycleInterval_ > 0) {
        if (!IconCycleTimer.Enabled())
            IconCycleTimer.Start();
    } else {
        IconCycleTimer.Stop();
    }
}

void TTrayIcon::SetPopupMenu(QMenu *menu)
{
    if (popupMenu_)
        disconnect(popupMenu_, nullptr, this, nullptr);
    popupMenu_ = menu;
    if (menu)
        connect(menu, &QObject::destroyed, this, [this] {
            popupMenu_ = nullptr;
            host_->setMenu(nullptr);
        });
    applyMenu();
}

void TTrayIcon::applyMenu() { host_->setMenu(enabled_ ? popupMenu_.data() : nullptr); }

QString TTrayIcon::TipText() const
{
    if (hint_.isEmpty() || !showHint_)
        return QString();
    return cutToBytes(hint_, kTrayTipBytes, trayEncoding().constData());
}

bool TTrayIcon::AddIcon()
{
    iconVisible_ = true;
    host_->setIcon(icon_);
    host_->setToolTip(TipText());
    host_->setVisible(true);
    return host_->trayAvailable();
}

bool TTrayIcon::RemoveIcon()
{
    iconVisible_ = false;
    host_->setVisible(false);
    return host_->trayAvailable();
}

bool TTrayIcon::UpdateIcon()
{
    host_->setIcon(icon_);
    host_->setToolTip(TipText());
    updateStatusText();
    return iconVisible_ && host_->trayAvailable();
}

bool TTrayIcon::ClearBalloon()
{
    const BalloonRoute was = balloon_;
    balloon_ = BalloonRoute::None;
    switch (was) {
    case BalloonRoute::Tray:
        host_->clearMessage();
        break;
    case BalloonRoute::Notification:
        if (notifications_)
            notifications_->close();
        break;
    case BalloonRoute::StatusLine:
        statusBalloon_.clear();
        break;
    case BalloonRoute::None:
        break;
    }
    return UpdateIcon();
}

bool TTrayIcon::ShowBalloon(const QString &title, const QString &text, BalloonIcon icon, int timeoutSeconds)
{
    ClearBalloon();
    if (!iconVisible_)
        return false;
    const QByteArray encoding = trayEncoding();
    const QString shownTitle = cutToBytes(title, kBalloonTitleBytes, encoding.constData());
    const QString shownText = cutToBytes(text, kBalloonTextBytes, encoding.constData());
    const int seconds = std::clamp(timeoutSeconds, 0, INT_MAX / 1000);
    log_->write(QStringLiteral("balloon"), {shownTitle, shownText, QString::number(seconds)});
    if (host_->trayAvailable() && host_->trayShowsMessages()) {
        host_->showMessage(shownTitle, shownText, icon, seconds * 1000);
        balloon_ = BalloonRoute::Tray;
        return UpdateIcon();
    }
    if (notifications_ && notifications_->isAvailable()) {
        balloonTitle_ = shownTitle;
        balloonText_ = shownText;
        balloon_ = BalloonRoute::Notification;
        notifications_->show(shownTitle, shownText, icon, seconds * 1000);
        return true;
    }
    showInStatusLine(shownTitle, shownText);
    return true;
}

void TTrayIcon::SetNotificationService(std::unique_ptr<INotificationService> service)
{
    if (notifications_ && balloon_ == BalloonRoute::Notification)
        balloon_ = BalloonRoute::None;
    notifications_ = std::move(service);
    if (!notifications_)
        return;
    INotificationService *n = notifications_.get();
    connect(n, &INotificationService::shown, this, [this] {
        guarded([this] {
            if (OnBalloonHintShow)
                OnBalloonHintShow(this);
        });
    });
    connect(n, &INotificationService::failed, this, [this] {
        guarded([this] {
            // The service went away between the look and the call: the balloon is not lost.
            if (balloon_ == BalloonRoute::Notification)
                showInStatusLine(balloonTitle_, balloonText_);
        });
    });
    connect(n, &INotificationService::clicked, this, [this] { guarded([this] { balloonClicked(); }); });
    connect(n, &INotificationService::closed, this, [this](bool timedOut) { guarded([&] { balloonGone(timedOut); }); });
}

void TTrayIcon::showInStatusLine(const QString &title, const QString &text)
{
    balloon_ = BalloonRoute::StatusLine;
    statusBalloon_ = withLineFeeds(title + QLatin1Char('\n') + text);
    updateStatusText();
}

QString TTrayIcon::StatusText() const
{
    // A balloon that nothing else could show stays here even beside a tray.
    if (!statusBalloon_.isEmpty())
        return statusBalloon_;
    if (host_->trayAvailable() || hint_.isEmpty() || !showHint_)
        return QString();
    // No tooltip to squeeze into: the hint may run as long as a balloon's text.
    return withLineFeeds(cutToBytes(hint_, kBalloonTextBytes, trayEncoding().constData()));
}

void TTrayIcon::updateStatusText()
{
    const QString now = StatusText();
    if (now == statusText_)
        return;
    statusText_ = now;
    emit statusTextChanged(now);
}

void TTrayIcon::StatusLineClick()
{
    if (balloon_ != BalloonRoute::StatusLine)
        return;
    balloon_ = BalloonRoute::None;
    statusBalloon_.clear();
    updateStatusText();
    if (OnBalloonHintClick)
        OnBalloonHintClick(this);
}

void TTrayIcon::balloonClicked()
{
    // Balloon clicks count whether or not the icon takes mouse clicks.
    if (balloon_ == BalloonRoute::Tray || balloon_ == BalloonRoute::Notification)
        balloon_ = BalloonRoute::None;
    if (OnBalloonHintClick)
        OnBalloonHintClick(this);
}

void TTrayIcon::balloonGone(bool timedOut)
{
    if (balloon_ != BalloonRoute::Notification)
        return;
    balloon_ = BalloonRoute::None;
    if (timedOut && OnBalloonHintTimeout)
        OnBalloonHintTimeout(this);
    else if (!timedOut && OnBalloonHintHide)
        OnBalloonHintHide(this);
}

void TTrayIcon::trayAvailabilityChanged(bool available)
{
    if (available) {
        // A tray that appears (or comes back) gets the icon, as after a taskbar restart.
        if (iconVisible_)
            AddIcon();
        if (balloon_ == BalloonRoute::StatusLine) {
            balloon_ = BalloonRoute::None;
            statusBalloon_.clear();
        }
    } else {
        if (balloon_ == BalloonRoute::Tray)
            balloon_ = BalloonRoute::None;
        // The window must never stay hidden in a tray that is gone.
        QWidget *main = mainWindow();
        if (hiddenInTray_ && main && !main->isVisible())
            RestoreMainWindow();
    }
    updateStatusText();
}

void TTrayIcon::activated(ITrayHost::Activation reason)
{
    if (!enabled_)
        return;
    switch (reason) {
    case ITrayHost::Activation::Click:
        // Qt reports a left click as one event; it stands for button down and up.
        leftButtonDown();
        leftButtonUp();
        // A tray that reports no double-click would leave OnDblClick, the way back from the
        // tray, unreachable: its activation counts as the double-click.
        if (!host_->reportsDoubleClick())
            leftDoubleClick();
        break;
    case ITrayHost::Activation::DoubleClick:
        leftDoubleClick();
        break;
    case ITrayHost::Activation::Context:
    case ITrayHost::Activation::Middle:
        // The host opens the menu itself on the right button.
        break;
    }
}

void TTrayIcon::leftButtonDown()
{
    if (OnClick) {
        ClickDelayTimer.SetInterval(
            static_cast<unsigned>(std::max(1, QGuiApplication::styleHints()->mouseDoubleClickInterval())));
        ClickDelayTimer.Start();
    }
    clickStarted_ = true;
    if (leftPopup_)
        PopupMenuAtCursor();
}

void TTrayIcon::leftButtonUp()
{
    if (clickStarted_)
        clickReady_ = true;
    if (clickStarted_ && !ClickDelayTimer.Enabled()) {
        clickStarted_ = false;
        clickReady_ = false;
        Click();
    }
    clickStarted_ = false;
}

void TTrayIcon::leftDoubleClick()
{
    clickReady_ = false;
    dblClicked_ = true;
    DblClick();
    if (popupMenu_ && !leftPopup_) {
        if (QAction *item = popupMenu_->defaultAction())
            item->trigger();
    }
}

void TTrayIcon::clickDelayTimerTimer()
{
    // A double-click inside the system's double-click time takes the place of the click.
    if (!dblClicked_ && clickReady_) {
        clickReady_ = false;
        Click();
    }
    dblClicked_ = false;
}

void TTrayIcon::Click()
{
    if (OnClick)
        OnClick(this);
}

void TTrayIcon::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
}

void TTrayIcon::Cycle(int NextIndex)
{
    if (OnCycle)
        OnCycle(this, NextIndex);
}

void TTrayIcon::iconCycleTimerTimer()
{
    if (!cycleIcons_ || !iconList_ || iconList_->Count() == 0)
        return;
    const int count = iconList_->Count();
    iconIndex_ = std::clamp(iconIndex_, 0, count - 1);
    takeIndexedIcon();
    UpdateIcon();
    const int next = iconIndex_ + 1 < count ? iconIndex_ + 1 : 0;
    Cycle(next);
    iconIndex_ = next;
}

void TTrayIcon::PopupMenuAtCursor()
{
    if (popupMenu_)
        popupMenu_->popup(QCursor::pos());
}

void TTrayIcon::RestoreMainWindow()
{
    QWidget *main = mainWindow();
    if (!main)
        return;
    hiddenInTray_ = false;
    if (main->isMinimized())
        main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
    main->show();
    main->raise();
    main->activateWindow();
}

void TTrayIcon::HideMainWindow()
{
    QWidget *main = mainWindow();
    if (!main)
        return;
    if (!host_->trayAvailable()) {
        // Hidden without a tray there would be no way back: minimise instead.
        if (!main->isMinimized())
            main->showMinimized();
        return;
    }
    main->hide();
    hiddenInTray_ = true;
    HideAppButton();
}

void TTrayIcon::HideAppButton()
{
    // The main window carries its own taskbar entry; hiding the window took it away.
}

void TTrayIcon::SendToTray()
{
    HideMainWindow();
    SetIconVisible(true);
}

void TTrayIcon::sendToTrayLater()
{
    // Hiding a window while the window system is still minimising it confuses some window
    // managers; the hide follows once the minimise has been handled.
    QMetaObject::invokeMethod(
        this,
        [this] {
            guarded([this] {
                QWidget *main = mainWindow();
                if (main && main->isMinimized() && minimizeToTray_ && host_->trayAvailable())
                    SendToTray();
            });
        },
        Qt::QueuedConnection);
}

bool TTrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == mainWindow()) {
        if (event->type() == QEvent::WindowStateChange) {
            const auto *change = static_cast<QWindowStateChangeEvent *>(event);
            const bool nowMinimized = mainWindow()->isMinimized();
            if (nowMinimized && !(change->oldState() & Qt::WindowMinimized) && minimizeToTray_ &&
                host_->trayAvailable()) {
                guarded([this] {
                    if (OnMinimizeToTray)
                        OnMinimizeToTray(this);
                });
                sendToTrayLater();
            }
        } else if (event->type() == QEvent::Show && !event->spontaneous()) {
            hiddenInTray_ = false;
        }
        if (event->type() == QEvent::Show && suppressNextShow_) {
            suppressNextShow_ = false;
            QMetaObject::invokeMethod(
                this, [this] { guarded([this] { HideMainWindow(); }); }, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace bramblet
