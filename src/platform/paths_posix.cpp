#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>

namespace bramblet::platform {

QString runtimeFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir())
        return xdg;
    return QDir::tempPath();
}

} // namespace bramblet::platform
