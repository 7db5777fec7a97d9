// The port mapper against a NAT-PMP router of the test's own: the test moves into a network
// namespace of its own and reaches a router thread in a second one over a veth pair. Root only;
// nothing leaves the two namespaces.
#include "net/PortMapper.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace bramblet;

namespace {

int openDescriptors()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

// A NAT-PMP router at 10.77.0.1, in a network namespace of its own that the test links to its
// own; it grants what is asked, or drops every request while `silent`.
class FakeNatpmp {
public:
    std::atomic<bool> silent{false};
    std::atomic<int> removals{0}; // requests with lifetime 0
    std::atomic<long> tid{0};
    std::atomic<int> state{0}; // 1: namespace made, 2: the test linked it, 3: serving, -1: failed

    ~FakeNatpmp()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    // Makes the router's namespace and links it to the caller's, the default route leading there.
    bool start()
    {
        thread_ = std::thread([this] {
            const int s = ::unshare(CLONE_NEWNET) == 0 ? ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
            tid = ::syscall(SYS_gettid);
            state = s < 0 ? -1 : 1;
            for (int i = 0; i < 500 && state == 1; ++i)
                ::usleep(10000);
            sockaddr_in at{AF_INET, htons(5351), {htonl(0x0A4D0001)}, {}};
            const bool up = state == 2 && std::system("ip addr add 10.77.0.1/24 dev pm1 && ip link set pm1 up") == 0 &&
                            ::bind(s, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
            state = up ? 3 : -1;
            for (int rounds = 0; up && rounds < 6000 && !stop_; ++rounds) { // at most ten minutes
                pollfd fd{s, POLLIN, 0};
                unsigned char in[16] = {}, out[16] = {0, 0, 0, 0, 0, 0, 0, 1, 11, 0, 113, 1}; // the external address
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t n = ::poll(&fd, 1, 100) > 0 ? ::recvfrom(s, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &length) : -1;
                if (n < 2 || (in[1] != 0 && n < 12) || silent)
                    continue;
                out[1] = static_cast<unsigned char>(128 + in[1]);
                if (in[1] != 0)
                    std::memcpy(out + 8, in + 4, 8); // the ports and lifetime asked for, granted
                removals += in[1] != 0 && !in[8] && !in[9] && !in[10] && !in[11];
                ::sendto(s, out, in[1] == 0 ? 12 : 16, 0, reinterpret_cast<sockaddr *>(&from), length);
            }
            if (s >= 0)
                ::close(s);
        });
        for (int i = 0; i < 500 && state == 0; ++i)
            ::usleep(10000);
        const QByteArray link = QStringLiteral("ip link set lo up && ip link add pm0 type veth peer name pm1 netns %1 && "
                                               "ip addr add 10.77.0.2/24 dev pm0 && ip link set pm0 up && "
                                               "ip route add default via 10.77.0.1")
                                    .arg(tid.load())
                                    .toUtf8();
        state = state == 1 && std::system(link.constData()) == 0 ? 2 : -1;
        for (int i = 0; i < 500 && state == 2; ++i)
            ::usleep(10000);
        return state == 3;
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool complete(const router::RouterAnswer &answer)
{
    return answer.answered && answer.ports.size() == router::LinkPorts.size() &&
           std::all_of(answer.ports.begin(), answer.ports.end(),
                       [](const router::PortAnswer &p) { return p.outcome == router::PortOutcome::Mapped; });
}

} // namespace

class TestPortMapper : public QObject {
    Q_OBJECT

    FakeNatpmp router_;
    QTemporaryDir dir_;

    RouterOptions options() const
    {
        return {.natpmpWaitMs = 150, .upnpWaitMs = 200, .leaseSeconds = 60, .renewalSecond = std::chrono::milliseconds(5),
                .recordPath = dir_.filePath(QStringLiteral("record")).toStdString(), .localAddress = {}};
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the port mapper test makes network namespaces and needs root");
        if (::unshare(CLONE_NEWNET) != 0)
            QSKIP("no network namespace of our own");
    }

    // No gateway at all: each search must give back every descriptor it took.
    void noDescriptorLostWithoutARoute()
    {
        RouterPortMapper mapper(options());
        int answers = 0;
        mapper.onAnswer = [&](IPortMapper::Stage, const router::RouterAnswer &) { ++answers; };
        mapper.discover();
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 10000);
        const int before = openDescriptors();
        for (int i = 0; i < 4; ++i)
            mapper.discover();
        QTRY_COMPARE_WITH_TIMEOUT(answers, 5, 20000);
        QCOMPARE(openDescriptors(), before);
    }

    void renewalOutlivesSilentRounds()
    {
        QVERIFY(router_.start());
        RouterPortMapper mapper(options());
        QList<router::RouterAnswer> opened;
        mapper.onAnswer = [&](IPortMapper::Stage stage, const router::RouterAnswer &answer) {
            if (stage == IPortMapper::Stage::Opened)
                opened << answer;
        };
        mapper.openPorts();
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty() && complete(opened.last()), 10000);
        QCOMPARE(QString::fromStdString(opened.last().externalAddress), QStringLiteral("11.0.113.1"));

        // The router reboots: rounds go unanswered, the search starts again, and the ports are
        // mapped again once it is back.
        router_.silent = true;
        const qsizetype before = opened.size();
        QTRY_VERIFY_WITH_TIMEOUT(opened.size() > before + 2 && !opened.last().answered, 20000);
        router_.silent = false;
        QTRY_VERIFY_WITH_TIMEOUT(complete(opened.last()), 20000);

        // A close the router does not answer ends within its bound and keeps the record.
        router_.silent = true;
        bool closed = false;
        mapper.onAnswer = [&](IPortMapper::Stage stage, const router::RouterAnswer &) { closed = closed || stage == IPortMapper::Stage::Closed; };
        mapper.closePorts();
        QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
        QVERIFY(QFile::exists(dir_.filePath(QStringLiteral("record"))));

        // The next run removes what the record names, and the record with it.
        router_.silent = false;
        router_.removals = 0;
        RouterPortMapper next(options());
        next.discover();
        QTRY_COMPARE_WITH_TIMEOUT(router_.removals.load(), int(router::LinkPorts.size()), 10000);
        QTRY_VERIFY(!QFile::exists(dir_.filePath(QStringLiteral("record"))));
    }
};

QTEST_GUILESS_MAIN(TestPortMapper)
#include "tst_portmapper.moc"
