#pragma once

// Loopback addresses for the benchmarks.
#include <arpa/inet.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>

namespace bramblet::bench {

inline sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A TCP port nobody listens on at the moment of asking.
inline std::uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A listening TCP socket on a loopback port the system picks; `port` receives it.
inline int listenOnLoopback(std::uint16_t &port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return listener;
}

// Keeps the whole process, the sender's thread included, on one core. With the sender on the
// other core of a two-core machine, each run's figure swings by half with where the
// scheduler happens to put the two threads; on one core both kinds of run meet the same
// machine and only the receive path differs.
inline void oneCore()
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(::sched_getcpu(), &one);
    ::sched_setaffinity(0, sizeof one, &one);
}

// CPU seconds the calling thread has used: the receiving side's cost, which the other
// thread's scheduling on a shared machine does not blur as it blurs wall time.
inline double threadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Wall and receiving-thread CPU time of one run, started at construction.
struct Span {
    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
    double cpuStart = threadCpuSeconds();
    double wall = 0;
    double cpu = 0;
    void stop()
    {
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpu = threadCpuSeconds() - cpuStart;
    }
};

} // namespace bramblet::bench
