#include "app/ProgramIcon.h"

namespace bramblet {

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/art/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace bramblet
