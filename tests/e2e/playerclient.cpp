// A player of the channel, for the whole-link test: connects to HOST PORT and sends a fixed
// scenario of scrambled records, split, joined, large, zero-length and a reset, then a
// second connection that ends in an orderly close. Prints one line per step.
#include "support/ChannelWire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

using bramblet::test::wireRecord;

int connectTo(const char *host, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    close(fd);
    return -1;
}

bool sendAll(int fd, const Bytes &b)
{
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

Bytes payload(const std::string &text) { return Bytes(text.begin(), text.end()); }

void breather() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// Waits up to five seconds for the other side to close.
bool closedByPeer(int fd)
{
    pollfd p{fd, POLLIN, 0};
    std::uint8_t buf[256];
    for (int i = 0; i < 50; ++i) {
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: playerclient HOST PORT\n");
        return 2;
    }
    const int port = std::atoi(argv[2]);
    const int first = connectTo(argv[1], port);
    if (first < 0) {
        std::printf("cannot connect\n");
        return 1;
    }
    // A record split over two sends.
    const Bytes r1 = wireRecord(1, 7, payload("hello"));
    sendAll(first, Bytes(r1.begin(), r1.begin() + 10));
    breather();
    sendAll(first, Bytes(r1.begin() + 10, r1.end()));
    breather();
    // Two records in one send, the first without payload.
    Bytes joined = wireRecord(1, 8, {});
    const Bytes r3 = wireRecord(2, 9, payload("abc"));
    joined.insert(joined.end(), r3.begin(), r3.end());
    sendAll(first, joined);
    breather();
    // The largest record the header allows.
    Bytes big(65535);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    sendAll(first, wireRecord(1, 5, big));
    breather();
    // A reset, and in the same send a record that must never reach the library.
    Bytes reset = wireRecord(0, 3, {});
    const Bytes after = wireRecord(1, 6, payload("dropped"));
    reset.insert(reset.end(), after.begin(), after.end());
    sendAll(first, reset);
    std::printf("first closed by peer: %s\n", closedByPeer(first) ? "yes" : "no");
    close(first);

    const int second = connectTo(argv[1], port);
    if (second < 0) {
        std::printf("cannot connect again\n");
        return 1;
    }
    sendAll(second, wireRecord(1, 1, payload("bye")));
    breather();
    close(second);
    std::printf("done\n");
    return 0;
}
