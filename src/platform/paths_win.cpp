#include "platform/paths.h"

#include <QDir>

namespace bramblet::platform {

QString runtimeFolder() { return QDir::tempPath(); }

} // namespace bramblet::platform
