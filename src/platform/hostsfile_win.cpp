#include "platform/hostsfile.h"

#include "core/errors.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace bramblet::platform {

namespace fs = std::filesystem;

fs::path hostsPath()
{
    const char *root = std::getenv("SystemRoot");
    return fs::path(root ? root : "") / "system32" / "drivers" / "etc" / "hosts";
}

hosts::HostsStyle hostsStyle()
{
    // The STUN line is left out on major version 6 (Vista, 7, 8, 8.1), as the game's own
    // service expects there.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    return hosts::HostsStyle{"\r\n", info.dwMajorVersion != 6, false};
}

namespace {

[[noreturn]] void fail(const char *what, const fs::path &path, DWORD error)
{
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = text ? text : "error " + std::to_string(error);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    throw CodedError(std::string(what) + " " + path.string() + ": " + message, static_cast<int>(error));
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle()
    {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

void writeAll(HANDLE h, std::string_view content, const fs::path &path)
{
    std::size_t done = 0;
    while (done < content.size()) {
        DWORD n = 0;
        if (!WriteFile(h, content.data() + done, static_cast<DWORD>(content.size() - done), &n, nullptr))
            fail("Cannot write", path, GetLastError());
        done += n;
    }
}

void flush(HANDLE h, const fs::path &path)
{
    if (!FlushFileBuffers(h))
        fail("Cannot flush", path, GetLastError());
}

class WinHostsFileOps : public hosts::HostsFileOps {
public:
    bool exists(const fs::path &path) override
    {
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string read(const fs::path &path) override
    {
        Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.get() == INVALID_HANDLE_VALUE)
            fail("Cannot open", path, GetLastError());
        std::string out;
        char buffer[8192];
        DWORD n = 0;
        while (ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
            out.append(buffer, n);
        return out;
    }

    void writeTemp(const fs::path &path, std::string_view content, const fs::path &like) override
    {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        {
            Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (h.get() == INVALID_HANDLE_VALUE)
                fail("Cannot create", path, GetLastError());
            writeAll(h.get(), content, path);
            flush(h.get(), path);
        }
        // The attributes of the file being replaced, the read-only one included, go with
        // the new content; the rename clears the target's read-only attribute first.
        const DWORD attributes = like.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(like.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(path.c_str(), attributes);
    }

    RenameOutcome rename(const fs::path &from, const fs::path &to) override
    {
        const DWORD attributes = GetFileAttributesW(to.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(to.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return RenameOutcome::Done;
        const DWORD error = GetLastError();
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(to.c_str(), attributes);
        // Another program holding the hosts file open refuses the replace.
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return RenameOutcome::Refused;
        fail("Cannot rename to", to, error);
    }

    void rewriteInPlace(const fs::path &path, std::string_view content) override
    {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        {
            Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (h.get() == INVALID_HANDLE_VALUE)
                fail("Cannot open", path, GetLastError());
            writeAll(h.get(), content, path);
            if (!SetEndOfFile(h.get()))
                fail("Cannot write", path, GetLastError());
            flush(h.get(), path);
        }
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(path.c_str(), attributes);
    }

    void remove(const fs::path &path) override
    {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str())) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                fail("Cannot delete", path, error);
        }
    }

    // MOVEFILE_WRITE_THROUGH already returns once the rename is on disk.
    void syncFolder(const fs::path &) override {}
};

} // namespace

hosts::HostsFileOps &hostsFileOps()
{
    static WinHostsFileOps ops;
    return ops;
}

} // namespace bramblet::platform
