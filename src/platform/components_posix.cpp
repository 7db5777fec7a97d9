#include "platform/components.h"

namespace bramblet::platform {

QString companionLibraryRelativePath() { return QStringLiteral("Lib/libVeldrin.so"); }
QString localServerRelativePath() { return QStringLiteral("Lib/Ostrel"); }

} // namespace bramblet::platform
