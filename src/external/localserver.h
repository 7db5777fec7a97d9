#pragma once

#include "platform/processes.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

namespace bramblet::external {

// How long the close waits for the local server to end.
inline constexpr std::chrono::milliseconds kLocalServerStopBound{3000};

// Lib/Ostrel (Lib\Ostrel.exe) in the program's folder.
QString localServerPath(const QString &programFolder);

// -h 127.0.0.1 -a LOCALADDRESS, one list item each.
QStringList localServerArguments(const QString &localAddress);

// Starts the local server detached, with no window and no shell between, in the current
// folder. Returns its process id, or 0 when it could not be started.
std::int32_t startLocalServer(const QString &programFolder, const QString &localAddress);

// Asks every process running the local server of that folder to end and waits up to
// `bound`. Nothing is reported either way.
platform::EndResult stopLocalServer(const QString &programFolder,
                                    std::chrono::milliseconds bound = kLocalServerStopBound);

} // namespace bramblet::external
