#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

class QMenu;

namespace bramblet {

// The program's texts end their lines in CR LF; tooltips, balloons and the status line of
// this system break lines at LF alone.
QString withLineFeeds(QString text);

// Balloon icon kinds, numbered as the shell's balloon flags.
enum class BalloonIcon { None = 0, Info = 1, Warning = 2, Error = 3, Custom = 4 };

// The notification area as the tray icon sees it: one icon with a tooltip, a menu and
// balloons, reporting clicks back. The program uses the Qt tray; tests record instead.
class ITrayHost : public QObject {
    Q_OBJECT
public:
    enum class Activation { Click, DoubleClick, Context, Middle };
    Q_ENUM(Activation)

    using QObject::QObject;

    // A notification area exists on this desktop right now.
    virtual bool trayAvailable() const = 0;
    // The tray draws balloons itself. Where its balloons would be handed on to a desktop
    // service instead (which may not exist), the caller picks the route.
    virtual bool trayShowsMessages() const = 0;
    // The tray tells a double-click from a click. StatusNotifier trays (KDE, GNOME with the
    // AppIndicator extension) report only an activation.
    virtual bool reportsDoubleClick() const = 0;

    virtual void setIcon(const QIcon &icon) = 0;
    // Line breaks come as CR LF, as the program keeps its texts.
    virtual void setToolTip(const QString &tip) = 0;
    virtual void setVisible(bool visible) = 0;
    // The host opens this menu on a right click by itself (some trays only take a menu up
    // front); nullptr takes it away.
    virtual void setMenu(QMenu *menu) = 0;
    virtual void showMessage(const QString &title, const QString &text, BalloonIcon icon, int msecs) = 0;
    virtual void clearMessage() = 0;

signals:
    void activated(bramblet::ITrayHost::Activation reason);
    void messageClicked();
    void availabilityChanged(bool available);
};

// The real notification area through QSystemTrayIcon.
std::unique_ptr<ITrayHost> makeQtTrayHost();

} // namespace bramblet
