#pragma once

#include <QString>

#include <chrono>
#include <vector>

namespace bramblet::platform {

// Processes whose executable is the file at `executablePath` (after resolving links), this
// process excepted.
std::vector<qint64> processesRunning(const QString &executablePath);

struct EndResult {
    int asked = 0;        // processes asked to end
    int stillRunning = 0; // of those, still running when the wait ran out
};

// Asks every process running `executablePath` to end (Linux: SIGTERM; Windows: WM_CLOSE to
// the window titled with the path) and waits for them up to `bound`. Signals arriving while
// it waits do not cut the wait short.
EndResult endProgram(const QString &executablePath, std::chrono::milliseconds bound);

} // namespace bramblet::platform
