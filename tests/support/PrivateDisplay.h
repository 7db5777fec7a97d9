#pragma once

// A private X display (Xvfb) and optionally a tray host on it or a session bus beside it,
// started before the test's QApplication exists. Only the processes started here are ever signalled, by their PID.

#include <QStandardPaths>
#include <QString>

#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bramblet::test {

class PrivateDisplay {
public:
    PrivateDisplay() = default;
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;
    ~PrivateDisplay() { stop(); }

    // Starts Xvfb on a free display number picked at random in 100..199. False (with
    // `reason()` saying why) where that is not possible here.
    bool start()
    {
        if (!onPath("Xvfb"))
            return fail("Xvfb is not installed (tools/deps installs it)");
        std::mt19937 pick(std::random_device{}());
        std::uniform_int_distribution<int> numbers(100, 199);
        for (int attempt = 0; attempt < 8; ++attempt) {
            // Each text starts as a std::string: GCC 12 at -O3 reports a false overlap in
            // "literal" + std::string.
            const std::string number = std::to_string(numbers(pick));
            const std::string lock = std::string("/tmp/.X") + number + "-lock";
            const std::string socket = std::string("/tmp/.X11-unix/X") + number;
            if (exists(lock) || exists(socket))
                continue;
            const pid_t pid = spawn({"Xvfb", std::string(":") + number, "-screen", "0", "800x600x24", "-nolisten",
                                     "tcp", "-noreset"},
                                    {});
            if (pid <= 0)
                continue;
            for (int i = 0; i < 100 && !exists(socket); ++i) { // at most 10 s
                if (ended(pid))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (exists(socket) && !ended(pid)) {
                xvfb_ = pid;
                display_ = std::string(":") + number;
                return true;
            }
            endProcess(pid);
        }
        return fail("no Xvfb display could be started in 100..199");
    }

    // Starts a tray host on the display; the test waits for the tray to show up.
    bool startTrayHost()
    {
        if (!onPath("trayer"))
            return fail("trayer is not installed (tools/deps installs it)");
        const pid_t pid = spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                                 "32", "--transparent", "false", "--SetDockType", "true"},
                                {"DISPLAY=" + display_});
        if (pid <= 0)
            return fail("trayer could not be started");
        children_.push_back(pid);
        return true;
    }

    // Starts a private session bus listening in `folder`, with no services to activate, so
    // that only what the test registers lives there. The bus's address, or empty (with
    // `reason()` saying why).
    std::string startSessionBus(const std::string &folder)
    {
        if (!onPath("dbus-daemon")) {
            fail("dbus-daemon is not installed (tools/deps installs it)");
            return {};
        }
        const std::string config = folder + "/session.conf";
        const std::string socket = folder + "/bus";
        const std::string text = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:path=" +
                                 socket +
                                 "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                                 "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        const int fd = ::open(config.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0)
            ::close(fd);
        if (!written) {
            fail("the bus configuration could not be written");
            return {};
        }
        const pid_t pid = spawn({"dbus-daemon", "--config-file=" + config, "--nofork"}, {});
        for (int i = 0; i < 100 && pid > 0 && !exists(socket); ++i) { // at most 10 s
            if (ended(pid))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (pid <= 0 || !exists(socket) || ended(pid)) {
            if (pid > 0)
                endProcess(pid);
            fail("dbus-daemon could not be started here");
            return {};
        }
        bus_ = pid;
        return "unix:path=" + socket;
    }

    // Ends the tray hosts started here, as a crashing tray would go.
    void stopTrayHosts()
    {
        for (pid_t pid : children_)
            endProcess(pid);
        children_.clear();
    }

    void stop()
    {
        for (pid_t pid : children_)
            endProcess(pid);
        children_.clear();
        if (bus_ > 0)
            endProcess(bus_);
        bus_ = -1;
        if (xvfb_ > 0)
            endProcess(xvfb_);
        xvfb_ = -1;
    }

    QString display() const { return QString::fromStdString(display_); }
    QString reason() const { return QString::fromStdString(reason_); }

private:
    bool fail(const std::string &why)
    {
        reason_ = why;
        return false;
    }

    static bool exists(const std::string &path)
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    static bool onPath(const char *program)
    {
        return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
    }

    // fork and exec with the parent's environment plus `extraEnv`; the child is told to end
    // when the test process dies, so a crashed test leaves nothing running.
    static pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv)
    {
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        for (const std::string &e : extraEnv)
            ::putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }

    static bool ended(pid_t pid)
    {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || r < 0;
    }

    static void endProcess(pid_t pid)
    {
        if (ended(pid))
            return;
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 50; ++i) { // at most 5 s, then for good
            if (ended(pid))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    pid_t xvfb_ = -1;
    pid_t bus_ = -1;
    std::vector<pid_t> children_;
    std::string display_;
    std::string reason_;
};

} // namespace bramblet::test
