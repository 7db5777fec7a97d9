#include "platform/processes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace bramblet::platform {

namespace {

// A program is known by its file, not by the name a process shows for it: /proc/PID/exe names
// the file as seen from the reader's mount namespace and root, which differ from the starter's
// in a container or a chroot, while the file itself is the same.
struct Executable {
    dev_t device = 0;
    ino_t inode = 0;
    bool found = false;
};

Executable identify(const QString &path)
{
    struct stat st{};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {st.st_dev, st.st_ino, true};
}

bool runs(pid_t pid, const Executable &executable)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    struct stat st{};
    return executable.found && ::stat(link, &st) == 0 && st.st_dev == executable.device &&
           st.st_ino == executable.inode;
}

std::vector<pid_t> scan(const Executable &executable)
{
    std::vector<pid_t> out;
    if (!executable.found)
        return out;
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
    for (pid_t pid : scan(identify(executablePath)))
        out.push_back(pid);
    return out;
}

EndResult endProgram(const QString &executablePath, std::chrono::milliseconds bound)
{
    using Clock = std::chrono::steady_clock;
    const Executable executable = identify(executablePath);
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
