#pragma once

#include <QString>

namespace bramblet::platform {

// Where the two outside components lie, relative to the program's folder.
QString companionLibraryRelativePath(); // Lib/libVeldrin.so, Lib\Veldrin.dll
QString localServerRelativePath();      // Lib/Ostrel, Lib\Ostrel.exe

} // namespace bramblet::platform
