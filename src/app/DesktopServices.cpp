#include "app/DesktopServices.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace bramblet {

std::optional<QString> QtFileDialog::openFile(QWidget *owner, const QString &title, const QString &filter,
                                              const QString &folder)
{
    QFileDialog dialog(owner, title, folder);
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
    if (!QFileInfo(path).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace bramblet
