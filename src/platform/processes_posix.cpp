#include "platform/processes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace bramblet::platform {

namespace {

std::string canonical(const QString &path)
{
    const QByteArray bytes = path.toLocal8Bit();
    char resolved[PATH_MAX];
    if (::realpath(bytes.constData(), resolved))
        return resolved;
    return bytes.toStdString();
}

bool runs(pid_t pid, const std::string &executable)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target &&
           std::string(target, static_cast<std::size_t>(n)) == executable;
}

std::vector<pid_t> scan(const std::string &executable)
{
    std::vector<pid_t> out;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return out;
    const pid_t self = ::getpid();
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        if (runs(static_cast<pid_t>(pid), executable))
            out.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    return out;
}

// Zombies have ended; their parent has just not collected them yet.
bool ended(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return true;
    buffer[n] = '\0';
    // The state follows the name, which is in parentheses and may itself hold any byte.
    const char *paren = std::strrchr(buffer, ')');
    return paren && paren[1] == ' ' && (paren[2] == 'Z' || paren[2] == 'X');
}

// Called through syscall(): Debian 12's <sys/pidfd.h> does not declare them for C++.
int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int pidfdSignal(int fd, int number) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, number, nullptr, 0)); }

} // namespace

std::vector<qint64> processesRunning(const QString &executablePath)
{
    std::vector<qint64> out;
    for (pid_t pid : scan(canonical(executablePath)))
        out.push_back(pid);
    return out;
}

EndResult endProgram(const QString &executablePath, std::chrono::milliseconds bound)
{
    using Clock = std::chrono::steady_clock;
    const std::string executable = canonical(executablePath);
    EndResult result;
    std::vector<pollfd> watched; // pidfds: readable once the process has ended
    std::vector<pid_t> polled;   // where pidfds are not available
    for (pid_t pid : scan(executable)) {
        // Held by a pidfd, the process cannot be swapped for another one with the same
        // number between the check and the signal.
        const int fd = pidfdOpen(pid);
        if (fd >= 0) {
            if (runs(pid, executable) && pidfdSignal(fd, SIGTERM) == 0) {
                watched.push_back(pollfd{fd, POLLIN, 0});
                ++result.asked;
            } else {
                ::close(fd);
            }
        } else if (errno == ENOSYS && ::kill(pid, SIGTERM) == 0) {
            polled.push_back(pid);
            ++result.asked;
        }
    }

    const auto deadline = Clock::now() + bound;
    while (!watched.empty() || !polled.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        const int timeout = polled.empty() ? static_cast<int>(left.count())
                                           : static_cast<int>(std::min<long long>(left.count(), 20));
        const int rc = ::poll(watched.data(), watched.size(), timeout);
        if (rc < 0 && errno != EINTR)
            break;
        for (auto it = watched.begin(); it != watched.end();) {
            if (it->revents != 0) {
                ::close(it->fd);
                it = watched.erase(it);
            } else {
                ++it;
            }
        }
        std::erase_if(polled, ended);
    }
    result.stillRunning = static_cast<int>(watched.size() + polled.size());
    for (const pollfd &p : watched)
        ::close(p.fd);
    return result;
}

} // namespace bramblet::platform
