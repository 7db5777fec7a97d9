#include "app/DesktopServices.h"

#include "app/MessageService.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace bramblet {

std::optional<QString> QtFileDialog::openFile(QWidget *owner, const QString &title, const QString &filter)
{
    if (appendUiLog(QStringLiteral("filedialog"), {title, filter}))
        return std::nullopt;
    QFileDialog dialog(owner, title);
    dialog.setNameFilter(filter);
    // The path and the file must exist.
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

bool QtShell::openDocument(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        appendUiLog(QStringLiteral("open-failed"), {path});
        return false;
    }
    if (appendUiLog(QStringLiteral("open"), {path}))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace bramblet
