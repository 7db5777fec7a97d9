// bramblet-hosts-guard: the only code that changes the hosts file. The main window runs as
// the player's own user and starts this through pkexec (directly where it is root itself).
// It trusts nothing from its caller but the two addresses of a redirection, which it checks;
// it takes no arguments, reads no environment variable and acts on the system's hosts file
// only. One guard runs at a time on a machine. Whatever ends the link (the restore command, the end of its input when the main
// window closes or dies, a terminating signal), the hosts file gets its content back.
#include "core/guardprotocol.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace bramblet;
namespace proto = bramblet::guardprotocol;

#ifdef BRAMBLET_GUARD_TEST_BUILD
// The test build, never installed: the file "hosts" in the folder it is started in, and its
// lock in the folder "run" there.
std::filesystem::path guardedHostsPath() { return "hosts"; }
const char *lockPath()
{
    ::mkdir("run", 0700);
    return "run/bramblet-hosts-guard.lock";
}
#else
std::filesystem::path guardedHostsPath() { return platform::hostsPath(); }
// One lock per view of the file system: a program started with `ip netns exec` sees a hosts
// file of its own (bind-mounted in a mount namespace of its own), and its guard another lock.
const char *lockPath()
{
    static const std::string path = [] {
        std::string name = "/run/bramblet-hosts-guard-";
        char ns[64] = {};
        const ssize_t n = ::readlink("/proc/self/ns/mnt", ns, sizeof ns - 1);
        // "mnt:[4026531841]": the number names the namespace.
        for (ssize_t i = 0; i < n; ++i) {
            if (ns[i] >= '0' && ns[i] <= '9')
                name += ns[i];
        }
        return name + ".lock";
    }();
    return path.c_str();
}
#endif

// How long an answer may wait for a caller that stopped reading.
constexpr int kAnswerTimeoutMs = 5000;

volatile std::sig_atomic_t endSignal = 0;

extern "C" void onEndSignal(int number) { endSignal = number; }

// The caller may be gone, or may have stopped reading with a full pipe; the guard still has
// to restore, so an answer that cannot go out in time is dropped.
bool callerGone = false;

void say(const std::string &line)
{
    std::size_t done = 0;
    while (done < line.size() && !callerGone) {
        struct pollfd output {STDOUT_FILENO, POLLOUT, 0};
        const int ready = ::poll(&output, 1, kAnswerTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (output.revents & POLLOUT) == 0) {
            callerGone = true; // it reads no more answers; the rest are dropped at once
            return;
        }
        const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

template <class F>
std::string attempt(F &&step)
{
    try {
        step();
        return proto::okAnswer();
    } catch (const std::exception &e) {
        return proto::errorAnswer(e.what());
    }
}

std::string restoreAnswer(hosts::HostsRedirect &redirect)
{
    try {
        switch (redirect.restore()) {
        case hosts::Restored::ChangesKept:
            return proto::okAnswer(proto::kChangesKept);
        case hosts::Restored::Repaired:
            return proto::okAnswer(proto::kRepaired);
        case hosts::Restored::Nothing:
        case hosts::Restored::Backup:
            break;
        }
        return proto::okAnswer();
    } catch (const std::exception &e) {
        return proto::errorAnswer(e.what());
    }
}

// One guard at a time on this machine: two would restore each other's links and delete each
// other's files. The lock is held until the process ends, however it ends.
bool lockMachine(std::string &why)
{
    const int fd = ::open(lockPath(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        why = std::string("Cannot open the lock ") + lockPath() + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        why = std::string(lockPath()) + " is not the guard's own lock file";
        return false;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        why = errno == EWOULDBLOCK ? std::string(proto::kBusyError)
                                   : std::string("Cannot lock ") + lockPath() + ": " + std::strerror(errno);
        return false;
    }
    return true; // the descriptor stays open for the guard's whole life
}

} // namespace

int main(int argc, char **)
{
    if (argc > 1) {
        say(proto::errorAnswer("The hosts guard takes no arguments"));
        return 2;
    }

    // A session of its own: the terminal or desktop session the caller belongs to ending
    // sends no signal here that the guard does not choose to take.
    ::setsid();
    // Limits the caller set must not cut a hosts file short.
    struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // The end signals are taken only while the guard waits for input, so one that comes
    // during a change of the hosts file waits until that change is complete.
    sigset_t ends;
    sigemptyset(&ends);
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        sigaddset(&ends, number);
        struct sigaction action {};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
    }
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &ends, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGHUP);
    sigdelset(&waiting, SIGQUIT);

    std::string why;
    if (!lockMachine(why)) {
        say(proto::errorAnswer(why));
        return 3;
    }

    hosts::HostsRedirect redirect(guardedHostsPath(), platform::hostsStyle(), platform::hostsFileOps());
#ifdef BRAMBLET_GUARD_TEST_BUILD
    // Tests stand in a slow disk: the steps wait while the file "run/slow" is there, 30 s at
    // most in all, so a test that never lets go still ends.
    redirect.checkpoint = [held = 0](std::string_view) mutable {
        for (; held < 600 && ::access("run/slow", F_OK) == 0; ++held)
            ::usleep(50000);
    };
#endif

    // A backup left by a run that was killed with its guard, or by a power failure.
    say(restoreAnswer(redirect));

    proto::LineSplitter lines;
    while (endSignal == 0) {
        struct pollfd input {STDIN_FILENO, POLLIN, 0};
        const int ready = ::ppoll(&input, 1, nullptr, &waiting);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break; // the main window closed its end, in whatever way it ended
        lines.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        while (const auto line = lines.next()) {
            if (line->overlong) {
                say(proto::errorAnswer("Line too long"));
                continue;
            }
            const proto::Command command = proto::parseCommand(line->text);
            switch (command.kind) {
            case proto::Command::Kind::Malformed:
                say(proto::errorAnswer(command.error));
                break;
            case proto::Command::Kind::Redirect:
                say(attempt([&] { redirect.setGameIp(command.gateway, command.stun); }));
                break;
            case proto::Command::Kind::Restore: {
                const std::string answer = restoreAnswer(redirect);
                say(answer);
                return answer.rfind("ok", 0) == 0 ? 0 : 1;
            }
            }
        }
    }
    const std::string answer = restoreAnswer(redirect);
    say(answer);
    return answer.rfind("ok", 0) == 0 ? 0 : 1;
}
