#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace bramblet::platform {

// Where the game's chooser opens: the folder of the first game executable found in the
// places the game may be installed, else the first of them that could hold one, else the
// player's home folder. Reads folders only, within `budget`; call it off the GUI thread.
QString gameChooserFolder(const QString &home, std::chrono::milliseconds budget);

// The places searched, in order, that exist for `home` (Wine prefixes: their drive_c).
QStringList gameSearchPlaces(const QString &home);

// The first file named `fileName` (any case) under `folder`, at most `maxDepth` folders down,
// symbolic links not followed; empty when none was found before `deadline`.
QString findFileUnder(const QString &folder, const QString &fileName, int maxDepth,
                      std::chrono::steady_clock::time_point deadline);

} // namespace bramblet::platform
