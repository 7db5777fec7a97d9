#include "platform/processes.h"

#include <QDir>

#include <windows.h>

namespace bramblet::platform {

// A console program started from a path shows that path as its window title; that window
// is what stands for the process here.
std::vector<qint64> processesRunning(const QString &executablePath)
{
    std::vector<qint64> out;
    const std::wstring title = QDir::toNativeSeparators(executablePath).toStdWString();
    if (HWND window = FindWindowW(nullptr, title.c_str())) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        out.push_back(pid);
    }
    return out;
}

EndResult endProgram(const QString &executablePath, std::chrono::milliseconds bound)
{
    EndResult result;
    const std::wstring title = QDir::toNativeSeparators(executablePath).toStdWString();
    HWND window = FindWindowW(nullptr, title.c_str());
    if (!window)
        return result;
    result.asked = 1;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, static_cast<UINT>(bound.count()), &answer))
        result.stillRunning = 1;
    return result;
}

} // namespace bramblet::platform
