#include "app/TrayIcon.h"

#include "app/Gb2312.h"
#include "core/gb2312cut.h"
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
    return cutToGb2312Bytes(hint_, kTrayTipBytes);
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
    return iconVisible_ && host_->trayAvailable();
}

bool TTrayIcon::ClearBalloon()
{
    if (balloonUp_) {
        host_->clearMessage();
        balloonUp_ = false;
    }
    return UpdateIcon();
}

bool TTrayIcon::ShowBalloon(const QString &title, const QString &text, BalloonIcon icon, int timeoutSeconds)
{
    ClearBalloon();
    if (!iconVisible_)
        return false;
    const int seconds = std::clamp(timeoutSeconds, 0, INT_MAX / 1000);
    host_->showMessage(cutToGb2312Bytes(title, kBalloonTitleBytes), cutToGb2312Bytes(text, kBalloonTextBytes), icon,
                       seconds * 1000);
    balloonUp_ = true;
    return UpdateIcon();
}

void TTrayIcon::balloonClicked()
{
    // Balloon clicks count whether or not the icon takes mouse clicks.
    balloonUp_ = false;
    if (OnBalloonHintClick)
        OnBalloonHintClick(this);
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
    main->hide();
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
                if (main && main->isMinimized() && minimizeToTray_)
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
            if (nowMinimized && !(change->oldState() & Qt::WindowMinimized) && minimizeToTray_) {
                guarded([this] {
                    if (OnMinimizeToTray)
                        OnMinimizeToTray(this);
                });
                sendToTrayLater();
            }
        } else if (event->type() == QEvent::Show && suppressNextShow_) {
            suppressNextShow_ = false;
            QMetaObject::invokeMethod(
                this, [this] { guarded([this] { HideMainWindow(); }); }, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace bramblet
