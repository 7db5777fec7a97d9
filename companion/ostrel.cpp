// Stand-in for the local server: it records its arguments and runs until it is asked to end
// (SIGTERM, SIGINT or SIGHUP). Lines: "Ostrel<TAB>pid=N<TAB>argc=N<TAB>arg1=...<TAB>...",
// then "Ostrel<TAB>pid=N<TAB>end=SIGNAL" when it ends. BRAMBLET_OSTREL_END_DELAY_MS makes it
// take that long to end, for tests of a slow server.
#include "companionlog.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

int main(int argc, char *argv[])
{
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    sigprocmask(SIG_BLOCK, &ending, nullptr);

    const std::string pid = "Ostrel\tpid=" + std::to_string(::getpid());
    std::string line = pid + "\targc=" + std::to_string(argc - 1);
    for (int i = 1; i < argc; ++i)
        line += "\targ" + std::to_string(i) + "=" + companion::escaped(argv[i]);
    companion::writeLine(line);

    int number = 0;
    while (sigwait(&ending, &number) != 0) {
    }

    if (const char *delay = std::getenv("BRAMBLET_OSTREL_END_DELAY_MS")) {
        const long ms = std::strtol(delay, nullptr, 10);
        if (ms > 0) {
            timespec t{ms / 1000, (ms % 1000) * 1000000L};
            while (nanosleep(&t, &t) != 0) {
            }
        }
    }
    const char *name = number == SIGTERM ? "SIGTERM" : number == SIGINT ? "SIGINT" : "SIGHUP";
    companion::writeLine(pid + "\tend=" + name);
    return 0;
}
