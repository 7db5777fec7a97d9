#include "platform/components.h"

namespace bramblet::platform {

QString companionLibraryRelativePath() { return QStringLiteral("Lib\\Veldrin.dll"); }
QString localServerRelativePath() { return QStringLiteral("Lib\\Ostrel.exe"); }

} // namespace bramblet::platform
