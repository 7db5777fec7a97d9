#pragma once

#include <QIcon>

namespace bramblet {

// The program's multi-size icon, shared by the main window and the tray.
QIcon programIcon();

} // namespace bramblet
