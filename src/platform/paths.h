#pragma once

#include <QString>

namespace bramblet::platform {

// The folder of the program's own executable, ending in a separator.
QString programFolder();

// The per-user folder for the single-instance lock and socket: XDG_RUNTIME_DIR, else the temp folder.
QString runtimeFolder();

} // namespace bramblet::platform
