#pragma once

#include "app/InterfaceLog.h"
#include "app/Notifications.h"
#include "app/SimpleTimer.h"
#include "app/TrayHost.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace bramblet {

// The source images of an animated tray icon.
class TIconList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    QList<QIcon> Images;
    int Count() const { return static_cast<int>(Images.size()); }
};

// The notification-area icon of a window: tooltip, balloons, popup menu, and the window's
// trip into the tray when it is minimised.
//
// Kept as names only, since Qt's tray reports no such thing: the mouse position and the
// button up/down/move events (OnMouseDown, OnMouseUp, OnMouseMove never fire), the mouse
// entering and leaving the icon (WantEnterExitEvents, OnMouseEnter, OnMouseExit), NotifyMode
// (Qt picks the tray's protocol), DesignPreview, MDI frames (there are none), the taskbar
// restart (Qt re-docks by itself), and balloon shown/hidden/time-out where the tray reports
// none. The taskbar entry belongs to the main window itself, so hiding that window is
// what takes it off the taskbar.
//
// Desktops without a tray: minimising stays an ordinary minimise and nothing hides the main
// window, balloons go to the desktop's notification service, and where that is missing too
// they and the hint appear in the owner's status line (statusTextChanged).
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TTrayIcon *Sender)>;
    using TCycleEvent = std::function<void(TTrayIcon *Sender, int NextIndex)>;
    using TStartupEvent = std::function<void(TTrayIcon *Sender, bool &ShowMainForm)>;
    using TMouseEvent = std::function<void(TTrayIcon *Sender, Qt::MouseButton Button, int Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(TTrayIcon *Sender, int Shift, int X, int Y)>;

    // `owner` is the window whose main window goes to the tray; the tray icon is its child.
    TTrayIcon(QWidget *owner, std::unique_ptr<ITrayHost> host);
    ~TTrayIcon() override;

    // Runs once the owner has set the properties up: OnStartup, then the icon as configured.
    void Loaded();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    QString Hint() const { return hint_; }
    void SetHint(const QString &hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool showHint);
    QIcon Icon() const { return icon_; }
    void SetIcon(const QIcon &icon);
    bool IconVisible() const { return iconVisible_; }
    void SetIconVisible(bool visible);
    TIconList *IconList() const { return iconList_; }
    void SetIconList(TIconList *list);
    int IconIndex() const { return iconIndex_; }
    void SetIconIndex(int index);
    bool CycleIcons() const { return cycleIcons_; }
    void SetCycleIcons(bool cycle);
    int CycleInterval() const { return cycleInterval_; }
    void SetCycleInterval(int msecs);
    QMenu *PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(QMenu *menu);
    bool LeftPopup() const { return leftPopup_; }
    void SetLeftPopup(bool leftPopup) { leftPopup_ = leftPopup; }
    bool MinimizeToTray() const { return minimizeToTray_; }
    void SetMinimizeToTray(bool minimize) { minimizeToTray_ = minimize; }
    bool WantEnterExitEvents() const { return wantEnterExitEvents_; }
    void SetWantEnterExitEvents(bool want) { wantEnterExitEvents_ = want; }
    bool DesignPreview() const { return designPreview_; }
    void SetDesignPreview(bool preview) { designPreview_ = preview; }
    int NotifyMode() const { return notifyMode_; }
    void SetNotifyMode(int mode) { notifyMode_ = mode == 1 ? 1 : 0; }

    virtual bool AddIcon();
    virtual bool RemoveIcon();
    virtual bool UpdateIcon();
    // The tooltip as the tray gets it: the hint cut to 127 GB2312 bytes, or nothing when the
    // hint is empty or ShowHint is off.
    QString TipText() const;

    // The text is cut to 255 GB2312 bytes and the title to 63; a balloon that is up is
    // replaced. False when there is no icon to show it at.
    bool ShowBalloon(const QString &title, const QString &text, BalloonIcon icon, int timeoutSeconds);
    bool ClearBalloon();

    // Where no tray can show balloons they go to this service, if it is available.
    void SetNotificationService(std::unique_ptr<INotificationService> service);
    // Sees each hint set and each balloon shown; none: nothing observes.
    void SetInterfaceLog(IInterfaceLog *log) { log_ = log ? log : &noInterfaceLog(); }
    // What the owner's status line shows: the last balloon that no tray or notification could
    // show, else (only while there is no tray) the hint.
    QString StatusText() const;
    // A click on the status line counts as a click on the balloon it shows.
    void StatusLineClick();

    void RestoreMainWindow();
    void HideMainWindow();
    void HideAppButton();
    virtual void SendToTray();
    void PopupMenuAtCursor();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnBalloonHintShow;
    TNotifyEvent OnBalloonHintHide;
    TNotifyEvent OnBalloonHintTimeout;
    TNotifyEvent OnBalloonHintClick;
    TNotifyEvent OnMinimizeToTray;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseExit;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TCycleEvent OnCycle;
    TStartupEvent OnStartup;

    ITrayHost &host() const { return *host_; }
    INotificationService *notifications() const { return notifications_.get(); }
    const TSimpleTimer &iconCycleTimer() const { return IconCycleTimer; }
    const TSimpleTimer &clickDelayTimer() const { return ClickDelayTimer; }

signals:
    void statusTextChanged(const QString &text);

protected:
    virtual void Click();
    virtual void DblClick();
    virtual void Cycle(int NextIndex);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *mainWindow() const;
    void activated(ITrayHost::Activation reason);
    void leftButtonDown();
    void leftButtonUp();
    void leftDoubleClick();
    void clickDelayTimerTimer();
    void iconCycleTimerTimer();
    void balloonClicked();
    void balloonGone(bool timedOut);
    void trayAvailabilityChanged(bool available);
    void showInStatusLine(const QString &title, const QString &text);
    void updateStatusText();
    void sendToTrayLater();
    void updateCycleTimer();
    void takeIndexedIcon();
    void applyMenu();

    QPointer<QWidget> owner_;
    std::unique_ptr<ITrayHost> host_;
    bool enabled_ = true;
    QString hint_;
    bool showHint_ = true;
    QIcon icon_;
    bool iconVisible_ = false;
    QPointer<TIconList> iconList_;
    int iconIndex_ = 0;
    bool cycleIcons_ = false;
    int cycleInterval_ = 0;
    QPointer<QMenu> popupMenu_;
    bool leftPopup_ = false;
    bool minimizeToTray_ = false;
    bool wantEnterExitEvents_ = false;
    bool designPreview_ = false;
    int notifyMode_ = 0;

    bool clickStarted_ = false;
    bool clickReady_ = false;
    bool dblClicked_ = false;
    bool suppressNextShow_ = false;
    enum class BalloonRoute { None, Tray, Notification, StatusLine };
    BalloonRoute balloon_ = BalloonRoute::None;
    QString balloonTitle_;
    QString balloonText_;
    QString statusBalloon_;
    QString statusText_;
    bool hiddenInTray_ = false;
    std::unique_ptr<INotificationService> notifications_;
    IInterfaceLog *log_ = &noInterfaceLog();

    TSimpleTimer IconCycleTimer;
    TSimpleTimer ClickDelayTimer;
};

} // namespace bramblet
