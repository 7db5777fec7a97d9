// Player records per second through the main window's player channel (ServerSocket1, its
// read events and the per-connection framer) into the stand-in companion library with its
// logging off, against a plain blocking recv loop that cuts and unscrambles the same stream
// and calls the same library. Two record sizes; best of a few runs each. Prints one line.
//
// Build and run in Release:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/bench
//   build/bench/bench/channel/bench_channel

#include "app/MessageService.h"
#include "app/UnitDuetra.h"
#include "core/playerchannel.h"
#include "external/companion.h"
#include "support/QuietDesktop.h"

#include <QApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "../loopback.h"

using namespace bramblet;

namespace {

constexpr std::size_t streamBytes = 64u * 1000 * 1000;
constexpr int readSize = 1000;
constexpr int runs = 9;

using bench::freePort;
using bench::loopback;

// `count` ordinary records of one payload size, then a reset record that ends the run.
struct Stream {
    std::vector<std::uint8_t> bytes;
    long long records = 0;
};

Stream makeStream(std::size_t payloadSize)
{
    Stream s;
    std::vector<std::uint8_t> payload(payloadSize);
    for (std::size_t i = 0; i < payloadSize; ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31 + 7);
    const std::vector<std::uint8_t> record = playerchannel::encodeRecord(1, 2, payload);
    s.records = static_cast<long long>(streamBytes / record.size());
    s.bytes.reserve(static_cast<std::size_t>(s.records) * record.size() + playerchannel::HeaderSize);
    for (long long i = 0; i < s.records; ++i)
        s.bytes.insert(s.bytes.end(), record.begin(), record.end());
    const std::vector<std::uint8_t> reset = playerchannel::encodeRecord(0, 3, {});
    s.bytes.insert(s.bytes.end(), reset.begin(), reset.end());
    return s;
}

void sendAll(std::uint16_t port, const Stream &stream)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    std::size_t done = 0;
    while (done < stream.bytes.size()) {
        const std::size_t chunk = std::min<std::size_t>(256 * 1024, stream.bytes.size() - done);
        const ssize_t n = ::send(fd, stream.bytes.data() + done, chunk, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // The channel closes after the reset record; wait for that before going.
    char b;
    while (::recv(fd, &b, 1, 0) > 0) { }
    ::close(fd);
}

class CountingMessages : public IMessageService {
public:
    void show(QWidget *, const QString &text, const QString &, MessageIcon) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        ++boxes;
    }
    int boxes = 0;
};

// The whole stream through the main window's channel.
bench::Span channelSpan(external::ICompanionLibrary &library, const Stream &stream)
{
    CountingMessages messages;
    MainFormServices services;
    services.messages = &messages;
    services.companion = &library;
    services.playerChannelPort = freePort();
    test::quietDesktop(services);
    TBrambletMainForm form(services);
    form.ActivatePlayerChannel();

    // The stand-in counts the records in the connection's word; it is read as the channel
    // closes the connection after the reset record.
    std::int32_t word = 0;
    const TSocketNotifyEvent disconnect = form.ServerSocket1->OnClientDisconnect;
    form.ServerSocket1->OnClientDisconnect = [&](QObject *sender, TCustomWinSocket *socket) {
        disconnect(sender, socket);
        word = socket->UserWord;
        QCoreApplication::quit();
    };
    bench::Span span;
    std::thread sender(sendAll, services.playerChannelPort, std::cref(stream));
    QCoreApplication::exec();
    span.stop();
    sender.join();
    if (word != 1 + stream.records || messages.boxes != 0) {
        std::fprintf(stderr, "channel passed %d of %lld records\n", word - 1, stream.records);
        std::exit(1);
    }
    return span;
}

// The same stream read by a plain blocking loop of the same read size.
bench::Span plainSpan(external::ICompanionLibrary &library, const Stream &stream)
{
    std::uint16_t port = 0;
    const int listener = bench::listenOnLoopback(port);
    bench::Span span;
    std::thread sender(sendAll, port, std::cref(stream));
    const int fd = ::accept(listener, nullptr, nullptr);

    std::vector<std::uint8_t> pending(playerchannel::MaxRecordSize + readSize);
    std::size_t have = 0;
    std::uint32_t word = 1;
    bool reset = false;
    while (!reset) {
        const ssize_t n = ::recv(fd, pending.data() + have, readSize, 0);
        if (n <= 0)
            break;
        have += static_cast<std::size_t>(n);
        std::size_t at = 0;
        while (have - at >= 4) {
            std::uint8_t *r = pending.data() + at;
            const std::size_t length = static_cast<std::size_t>(
                ((r[2] ^ playerchannel::ChannelKey[2]) << 8) | (r[3] ^ playerchannel::ChannelKey[3]));
            if (have - at < playerchannel::HeaderSize + length)
                break;
            playerchannel::scramble({ r, playerchannel::HeaderSize + length });
            if (playerchannel::isResetRecord(r[0], r[1])) {
                library.ResetPlayer(static_cast<std::uint32_t>(fd));
                reset = true;
                break;
            }
            library.MessageE(static_cast<std::uint32_t>(fd), r, static_cast<std::uint16_t>(length), &word);
            at += playerchannel::HeaderSize + length;
        }
        std::memmove(pending.data(), pending.data() + at, have - at);
        have -= at;
    }
    ::close(fd);
    span.stop();
    sender.join();
    ::close(listener);
    if (static_cast<long long>(word) != 1 + stream.records) {
        std::fprintf(stderr, "plain loop passed %u of %lld records\n", word - 1, stream.records);
        std::exit(1);
    }
    return span;
}

} // namespace

int main(int argc, char **argv)
{
    // The stand-in's log would measure the file system, not the channel.
    ::unsetenv("BRAMBLET_COMPANION_LOG");
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform has no tray; its complaint is not a figure.
    if (!std::getenv("QT_LOGGING_RULES"))
        ::setenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false", 1);
    bench::oneCore();
    QApplication app(argc, argv);
    external::CompanionLibrary library(external::companionLibraryPath(QStringLiteral(BRAMBLET_STAGE_DIR "/")));

    bool met = true;
    std::string line = "player channel, " + std::to_string(streamBytes / 1000000) + " MB in 1000-byte reads, per receiving CPU second:";
    for (const std::size_t payload : { 40u, 476u }) {
        const Stream stream = makeStream(payload);
        // Judged on the receiving thread's CPU, the cost of the channel itself. Best of a
        // few, the two kinds interleaved.
        double channel = 1e9;
        double plain = 1e9;
        for (int i = 0; i < runs; ++i) {
            channel = std::min(channel, channelSpan(library, stream).cpu);
            plain = std::min(plain, plainSpan(library, stream).cpu);
        }
        const double records = static_cast<double>(stream.records);
        char figures[200];
        std::snprintf(figures, sizeof figures, " %zu-byte records: channel %.2f M/s, plain recv %.2f M/s, ratio %.2f;",
            playerchannel::HeaderSize + payload, records / channel / 1e6, records / plain / 1e6, plain / channel);
        line += figures;
        met = met && plain / channel >= 0.80;
    }
    std::printf("%s (goal: ratio >= 0.80) %s\n", line.c_str(), met ? "met" : "MISSED");
    return met ? 0 : 1;
}
