// bramblet-hosts-guard: the only code that changes the hosts file. The main window runs as
// the player's own user and starts this through pkexec (directly where it is root itself).
// It trusts nothing from its caller but the two addresses of a redirection, which it checks;
// it takes no arguments, reads no environment variable and acts on the system's hosts file
// only. Whatever ends the link (the restore command, the end of its input when the main
// window closes or dies, a terminating signal), the hosts file gets its content back.
#include "core/guardprotocol.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <filesystem>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

using namespace bramblet;
namespace proto = bramblet::guardprotocol;

#ifdef BRAMBLET_GUARD_TEST_BUILD
// The test build, never installed: the file "hosts" in the folder it is started in.
std::filesystem::path guardedHostsPath() { return "hosts"; }
#else
std::filesystem::path guardedHostsPath() { return platform::hostsPath(); }
#endif

volatile std::sig_atomic_t endSignal = 0;

extern "C" void onEndSignal(int number) { endSignal = number; }

// The caller may be gone; the guard still has to restore, so a failed write is ignored.
void say(const std::string &line)
{
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
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

} // namespace

int main(int argc, char **)
{
    if (argc > 1) {
        say(proto::errorAnswer("The hosts guard takes no arguments"));
        return 2;
    }

    // The three signals are taken only while the guard waits for input, so one that comes
    // during a change of the hosts file waits until that change is complete.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t ends;
    sigemptyset(&ends);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
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

    hosts::HostsRedirect redirect(guardedHostsPath(), platform::hostsStyle(), platform::hostsFileOps());
    const auto restore = [&] { redirect.restore(); };

    // A backup left by a run that was killed with its guard, or by a power failure.
    say(attempt(restore));

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
                const std::string answer = attempt(restore);
                say(answer);
                return answer == proto::okAnswer() ? 0 : 1;
            }
            }
        }
    }
    const std::string answer = attempt(restore);
    say(answer);
    return answer == proto::okAnswer() ? 0 : 1;
}
