#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>

namespace bramblet::platform {

QString programFolder()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    return QDir::toNativeSeparators(dir + QLatin1Char('/'));
}

} // namespace bramblet::platform
