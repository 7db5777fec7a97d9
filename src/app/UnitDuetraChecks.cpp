// The main window's first show: the game's version, the user's rights and the help balloon.
#include "app/UnitDuetra.h"

#include "app/EnvironmentChecks.h"
#include "app/ErrorBox.h"
#include "app/TrayIcon.h"
#include "core/peversion.h"
#include "platform/gamesettings.h"
#include "platform/mappedfile.h"

#include <QShowEvent>

namespace bramblet {

QString TBrambletMainForm::GetFileVersion(const QString &path)
{
    // Mapped, not read: the parser touches the headers and the version resource only, so a
    // huge file costs no more than a small one, and a FIFO or device gives no bytes at all.
    const platform::MappedFile file(path);
    return QString::fromStdString(pe::fileVersion(file.bytes()));
}

void TBrambletMainForm::createChecks()
{
    EnvironmentChecks::Services s;
    s.messages = services_.messages;
    s.fileDialog = services_.fileDialog;
    s.shell = services_.shell;
    s.settings = services_.settings;
    s.getFileVersion = [](const QString &path) { return GetFileVersion(path); };
    s.isAdministrator = services_.isAdministrator;
    s.chooserFolder = services_.chooserFolder;
    s.showBalloon = [this](const QString &title, const QString &text) {
        TrayIcon1->ShowBalloon(title, text, BalloonIcon::Info, 10);
    };
    s.helpFilePath = programFolder() + helpFileName();
    s.playersHelpPath = programFolder() + playersHelpFileName();
    checks_ = std::make_unique<EnvironmentChecks>(processFlags(), std::move(s));
}

void TBrambletMainForm::FormShow()
{
    ButtonsHeld held(*this);
    checks_->FormShow(this);
}

void TBrambletMainForm::TrayIcon1BalloonHintClick() { checks_->BalloonHintClick(this); }

void TBrambletMainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Runs after the show has finished, so its boxes and dialog come up over a painted
    // window and not inside the show itself.
    QMetaObject::invokeMethod(this, [this] { guarded([this] { FormShow(); }); }, Qt::QueuedConnection);
}

} // namespace bramblet
