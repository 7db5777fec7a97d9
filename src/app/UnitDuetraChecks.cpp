// The main window's first show: the game's version, the user's rights and the help balloon.
#include "app/UnitDuetra.h"

#include "app/DesktopServices.h"
#include "app/EnvironmentChecks.h"
#include "app/ErrorBox.h"
#include "app/TrayIcon.h"
#include "core/peversion.h"
#include "platform/gamesettings.h"
#include "platform/privileges.h"

#include <QFile>
#include <QShowEvent>

#include <span>

namespace bramblet {

namespace {
// A version resource sits in the first megabytes of any executable; a larger file is read
// no further than this.
constexpr qint64 kMaxExecutableBytes = 512LL * 1024 * 1024;
} // namespace

QString TBrambletMainForm::GetFileVersion(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray image = file.read(kMaxExecutableBytes);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t *>(image.constData()),
                                              static_cast<std::size_t>(image.size()));
    return QString::fromStdString(pe::fileVersion(bytes));
}

void TBrambletMainForm::createChecks()
{
    EnvironmentChecks::Services s;
    s.messages = services_.messages;
    s.fileDialog = services_.fileDialog;
    if (!s.fileDialog) {
        ownFileDialog_ = std::make_unique<QtFileDialog>();
        s.fileDialog = ownFileDialog_.get();
    }
    s.shell = services_.shell;
    if (!s.shell) {
        ownShell_ = std::make_unique<QtShell>();
        s.shell = ownShell_.get();
    }
    s.settings = services_.settings;
    if (!s.settings) {
        ownSettings_ = std::make_unique<platform::GameSettings>(qEnvironmentVariable("BRAMBLET_SETTINGS_FILE"));
        s.settings = ownSettings_.get();
    }
    s.getFileVersion = [](const QString &path) { return GetFileVersion(path); };
    s.isAdministrator = services_.isAdministrator ? services_.isAdministrator
                                                  : std::function<bool()>(platform::IsAdministratorAccount);
    s.showBalloon = [this](const QString &title, const QString &text) {
        TrayIcon1->ShowBalloon(title, text, BalloonIcon::Info, 10);
    };
    s.helpFilePath = programFolder() + helpFileName();
    checks_ = std::make_unique<EnvironmentChecks>(processFlags(), std::move(s));
}

void TBrambletMainForm::FormShow() { checks_->FormShow(this); }

void TBrambletMainForm::TrayIcon1BalloonHintClick() { checks_->BalloonHintClick(this); }

void TBrambletMainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Runs after the show has finished, so its boxes and dialog come up over a painted
    // window and not inside the show itself.
    QMetaObject::invokeMethod(this, [this] { guarded([this] { FormShow(); }); }, Qt::QueuedConnection);
}

} // namespace bramblet
