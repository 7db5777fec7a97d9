#include "core/errors.h"
#include "core/hostsfile.h"
#include "core/localaddress.h"

#include <QtTest>

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace bramblet;
using namespace bramblet::hosts;
namespace fs = std::filesystem;

namespace {

// An in-memory folder whose operations can be made to fail, lie or refuse one by one.
class FakeFiles : public HostsFileOps {
public:
    std::map<std::string, std::string> files;
    // Each write makes a new version of a file, as a new inode and time would.
    std::map<std::string, int> versions;
    int writes = 0;
    std::vector<std::string> log;
    int operations = 0;
    int failAt = -1;           // this operation throws
    int corruptAt = -1;        // this write stores other bytes than it was given
    std::string refuseRenameTo; // renames onto this path are refused, as on a bind mount
    std::function<void()> afterEach;
    bool lied = false;

    bool exists(const fs::path &p) override
    {
        step("exists " + p.filename().string());
        return files.count(p.string()) != 0;
    }
    std::string read(const fs::path &p) override
    {
        step("read " + p.filename().string());
        auto it = files.find(p.string());
        if (it == files.end())
            throw Error("Cannot open " + p.string() + ": No such file or directory");
        return it->second;
    }
    void writeTemp(const fs::path &p, std::string_view content, const fs::path &) override
    {
        const bool lie = step("writeTemp " + p.filename().string());
        lied = lied || lie;
        files[p.string()] = lie ? std::string("garbage") : std::string(content);
        versions[p.string()] = ++writes;
        done();
    }
    RenameOutcome rename(const fs::path &from, const fs::path &to) override
    {
        step("rename " + from.filename().string() + " " + to.filename().string());
        if (to.string() == refuseRenameTo) {
            log.back() += " refused";
            return RenameOutcome::Refused;
        }
        auto it = files.find(from.string());
        if (it == files.end())
            throw Error("Cannot rename to " + to.string() + ": No such file or directory");
        files[to.string()] = it->second;
        versions[to.string()] = versions[from.string()];
        files.erase(from.string());
        done();
        return RenameOutcome::Done;
    }
    PlaceOutcome placeNew(const fs::path &from, const fs::path &to) override
    {
        step("placeNew " + from.filename().string() + " " + to.filename().string());
        if (files.count(to.string()))
            return PlaceOutcome::Occupied;
        return rename(from, to) == RenameOutcome::Done ? PlaceOutcome::Done : PlaceOutcome::Occupied;
    }
    std::string identity(const fs::path &p) override
    {
        step("identity " + p.filename().string());
        if (!files.count(p.string()))
            throw Error("Cannot look at " + p.string() + ": No such file or directory");
        return identityOf(p);
    }
    std::string identityOf(const fs::path &p) { return "v" + std::to_string(versions[p.string()]); }
    void rewriteInPlace(const fs::path &p, std::string_view content) override
    {
        const bool lie = step("rewriteInPlace " + p.filename().string());
        lied = lied || lie;
        files[p.string()] = lie ? std::string("garbage") : std::string(content);
        versions[p.string()] = ++writes;
        done();
    }
    void remove(const fs::path &p) override
    {
        step("remove " + p.filename().string());
        files.erase(p.string());
        done();
    }
    void syncFolder(const fs::path &) override { step("syncFolder"); }

    bool mutated() const
    {
        for (const auto &l : log) {
            if (l.rfind("exists", 0) != 0 && l.rfind("read", 0) != 0 && l.rfind("identity", 0) != 0)
                return true;
        }
        return false;
    }

private:
    bool step(std::string what)
    {
        log.push_back(std::move(what));
        const int n = operations++;
        if (n == failAt)
            throw Error("Injected failure: Input/output error");
        return n == corruptAt;
    }
    void done()
    {
        if (afterEach)
            afterEach();
    }
};

const fs::path kHosts = "/etc/hosts";
const std::string kOriginal = "# the user's own\r\n10.0.0.9  printer\n127.0.0.1  localhost\n";

enum class Start { Present, Missing, StaleBackup };

// What the hosts file held before the first redirection, as the user expects it back.
std::string originalOf(Start start, const HostsStyle &style)
{
    return start == Start::Missing ? defaultHostsContent(style) : kOriginal;
}

void prepare(FakeFiles &files, Start start)
{
    files.files.clear();
    if (start == Start::Present)
        files.files[kHosts.string()] = kOriginal;
    if (start == Start::StaleBackup) {
        files.files[kHosts.string()] =
            redirectedHostsContent("1.1.1.1", "1.1.1.2", HostsStyle{}, kOriginal, backupPathFor(kHosts));
        files.files[backupPathFor(kHosts).string()] = kOriginal;
    }
}

// Two link starts and the close: every file operation the redirect does.
void runLinkTwiceAndClose(HostsRedirect &redirect)
{
    redirect.setGameIp("192.0.2.1", "198.51.100.7");
    redirect.setGameIp("192.0.2.2", "198.51.100.7");
    redirect.restore();
}

int countOperations(Start start)
{
    FakeFiles files;
    prepare(files, start);
    HostsRedirect redirect(kHosts, HostsStyle{}, files);
    runLinkTwiceAndClose(redirect);
    return files.operations;
}

const char *startName(Start s)
{
    switch (s) {
    case Start::Present:
        return "hosts present";
    case Start::Missing:
        return "hosts missing";
    case Start::StaleBackup:
        return "backup left by a killed run";
    }
    return "";
}

} // namespace

Q_DECLARE_METATYPE(Start)
Q_DECLARE_METATYPE(BackupState)
Q_DECLARE_METATYPE(Restored)

class TestHostsRedirect : public QObject {
    Q_OBJECT
private slots:
    void content_data()
    {
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::addColumn<bool>("stunLine");
        QTest::addColumn<bool>("keepEarlier");
        QTest::addColumn<QByteArray>("expected");
        // The hashes of the earlier file and of the lines below follow.
        const QByteArray marker =
            "# Bramblet game link: the earlier file is kept in /etc/hosts.bak and comes back when Bramblet closes"
            " (backup ";
        QTest::newRow("Linux: LF, the STUN line, earlier lines kept but the game's names")
            << QByteArray("\n") << true << true
            << marker + "\n192.0.2.1  gate.quorrel2008.net\n198.51.100.7  stun.quorrel2008.net\n"
                        "# comment naming gate.quorrel2008.net stays\r\n127.0.1.1\tbox box.lan\n::1 localhost\n"
                        "10.0.0.9  printer # no final line break\n";
        QTest::newRow("Windows other than version 6: CR LF, three lines")
            << QByteArray("\r\n") << true << false
            << marker + "\r\n192.0.2.1  gate.quorrel2008.net\r\n198.51.100.7  stun.quorrel2008.net\r\n"
                        "127.0.0.1  localhost\r\n";
        QTest::newRow("Windows version 6: no STUN line")
            << QByteArray("\r\n") << false << false
            << marker + "\r\n192.0.2.1  gate.quorrel2008.net\r\n127.0.0.1  localhost\r\n";
    }
    void content()
    {
        QFETCH(QByteArray, lineEnd);
        QFETCH(bool, stunLine);
        QFETCH(bool, keepEarlier);
        QFETCH(QByteArray, expected);
        const HostsStyle style{lineEnd.toStdString(), stunLine, keepEarlier};
        const std::string earlier = "10.1.1.1 gate.quorrel2008.net\n# comment naming gate.quorrel2008.net stays\r\n"
                                    "127.0.1.1\tbox box.lan\n10.2.2.2\tother STUN.Quorrel2008.net.\n::1 localhost\n"
                                    "10.0.0.9  printer # no final line break";
        const std::string written = redirectedHostsContent("192.0.2.1", "198.51.100.7", style, earlier, "/etc/hosts.bak");
        const QByteArray got = QByteArray::fromStdString(written);
        const qsizetype cut = expected.indexOf(lineEnd);
        QVERIFY2(got.startsWith(expected.left(cut)), got.constData());
        QCOMPARE(got.mid(got.indexOf(lineEnd)), expected.mid(cut));
        QVERIFY(exactlyAsRedirected(written));
        QVERIFY(carriesMarker(written));
        QVERIFY(!carriesMarker(earlier));
        QCOMPARE(QByteArray::fromStdString(defaultHostsContent(style)), "127.0.0.1  localhost" + lineEnd);
    }

    void dottedQuad_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << QByteArray("192.168.1.20") << true;
        QTest::newRow("all zero") << QByteArray("0.0.0.0") << true;
        QTest::newRow("longest, 15 characters") << QByteArray("255.255.255.255") << true;
        QTest::newRow("part above 255") << QByteArray("10.0.0.256") << false;
        QTest::newRow("four digits") << QByteArray("10.0.0.0001") << false;
        QTest::newRow("leading zero reads as octal elsewhere") << QByteArray("10.0.0.010") << false;
        QTest::newRow("three parts") << QByteArray("10.0.1") << false;
        QTest::newRow("shortened form the link start accepts") << QByteArray("10.1") << false;
        QTest::newRow("single number") << QByteArray("167772161") << false;
        QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false;
        QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << false;
        QTest::newRow("empty part") << QByteArray("1..3.4") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("blank inside") << QByteArray("1.2.3. 4") << false;
        QTest::newRow("sign") << QByteArray("1.2.3.+4") << false;
        QTest::newRow("line break would add a hosts line") << QByteArray("1.2.3.4\n5.6.7.8  evil") << false;
        QTest::newRow("host name") << QByteArray("localhost") << false;
        QTest::newRow("hex") << QByteArray("0x7f.0.0.1") << false;
    }
    void dottedQuad()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        QCOMPARE(isDottedQuad(text.toStdString()), accepted);
    }

    void localAddress_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("answers");
        QTest::addColumn<std::vector<std::uint32_t>>("interfaces");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("Debian maps the name to 127.0.1.1: the interface")
            << std::vector<std::uint32_t>{0x7F000101} << std::vector<std::uint32_t>{0xC0A8010A}
            << QByteArray("192.168.1.10");
        QTest::newRow("first non-loopback answer wins over the interfaces")
            << std::vector<std::uint32_t>{0x7F000001, 0x0A000005, 0x0A000006} << std::vector<std::uint32_t>{0xC0A8010A}
            << QByteArray("10.0.0.5");
        QTest::newRow("no answer: first interface in order")
            << std::vector<std::uint32_t>{} << std::vector<std::uint32_t>{0xAC100001, 0xC0A8010A}
            << QByteArray("172.16.0.1");
        QTest::newRow("loopback interfaces skipped too")
            << std::vector<std::uint32_t>{0x7F000001} << std::vector<std::uint32_t>{0x7F000001, 0x0A090807}
            << QByteArray("10.9.8.7");
        QTest::newRow("0.0.0.0 is nobody's address")
            << std::vector<std::uint32_t>{0} << std::vector<std::uint32_t>{0x0A090807} << QByteArray("10.9.8.7");
        QTest::newRow("loopback only: none")
            << std::vector<std::uint32_t>{0x7F000101} << std::vector<std::uint32_t>{0x7F000001} << QByteArray();
        QTest::newRow("nothing at all: none") << std::vector<std::uint32_t>{} << std::vector<std::uint32_t>{}
                                              << QByteArray();
        QTest::newRow("bytes printed most significant first, no leading zeros")
            << std::vector<std::uint32_t>{0x01FF0A00} << std::vector<std::uint32_t>{} << QByteArray("1.255.10.0");
    }
    void localAddress()
    {
        QFETCH(std::vector<std::uint32_t>, answers);
        QFETCH(std::vector<std::uint32_t>, interfaces);
        QFETCH(QByteArray, expected);
        const auto chosen = chooseLocalIPv4(answers, interfaces);
        QCOMPARE(chosen.has_value(), !expected.isEmpty());
        if (chosen)
            QCOMPARE(QByteArray::fromStdString(address::formatDottedQuad(*chosen)), expected);
    }

    // Whatever single operation fails, the content from before the first redirection is in
    // the hosts file or in the backup at every moment, and a later close puts it back.
    void failureAtEveryOperation_data()
    {
        QTest::addColumn<Start>("start");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<bool>("corrupt");
        for (Start start : {Start::Present, Start::Missing, Start::StaleBackup}) {
            const int total = countOperations(start);
            for (int i = 0; i < total; ++i) {
                for (bool corrupt : {false, true}) {
                    QTest::addRow("%s, operation %d %s", startName(start), i, corrupt ? "writes garbage" : "fails")
                        << start << i << corrupt;
                }
            }
        }
    }
    void failureAtEveryOperation()
    {
        QFETCH(Start, start);
        QFETCH(int, failAt);
        QFETCH(bool, corrupt);
        const HostsStyle style;
        const std::string original = originalOf(start, style);
        FakeFiles files;
        prepare(files, start);
        // With no hosts file at the start there is nothing to keep until the default is in.
        bool holding = start != Start::Missing;
        files.afterEach = [&] {
            const std::string hostsNow = files.files.count(kHosts.string()) ? files.files[kHosts.string()] : "";
            const auto b = files.files.find(backupPathFor(kHosts).string());
            const bool hostsThere = files.files.count(kHosts.string()) != 0;
            const bool backupThere = b != files.files.end();
            // Taking a failed default file away again is the state the user started with.
            const bool kept = hostsNow == original || (backupThere && b->second == original) ||
                              (start == Start::Missing && !hostsThere && !backupThere);
            holding = holding || hostsNow == original;
            if (holding)
                QVERIFY2(kept, "the earlier content is neither in the hosts file nor in the backup");
        };
        (corrupt ? files.corruptAt : files.failAt) = failAt;
        HostsRedirect redirect(kHosts, style, files);
        std::optional<std::string> error;
        try {
            redirect.setGameIp("192.0.2.1", "198.51.100.7");
            redirect.setGameIp("192.0.2.2", "198.51.100.7");
            redirect.restore();
        } catch (const Error &e) {
            error = e.what();
        }
        if (QTest::currentTestFailed())
            return;
        // Every failure is reported with the system's text, and every write that does not
        // read back is noticed. Only clearing away stale temp files may fail unreported.
        const std::string failed = files.log[std::size_t(failAt)];
        // The folder's flush after a claim is dropped is as optional as the drop.
        const std::string op = failed == "syncFolder" && failAt > 0 ? files.log[std::size_t(failAt - 1)] : failed;
        const bool tempRemoval = op.rfind("remove", 0) == 0 && (op.find(kTempSuffix) != std::string::npos ||
                                                                op.find(kClaimSuffix) != std::string::npos);
        if (!corrupt && !tempRemoval) {
            QVERIFY2(error.has_value(), ("an injected failure went unreported: " + failed).c_str());
            QVERIFY2(error->find("Input/output error") != std::string::npos, error->c_str());
        }
        if (files.lied)
            QVERIFY2(error.has_value(), "a write that did not read back went unnoticed");

        files.failAt = files.corruptAt = -1;
        files.afterEach = {};
        // The close of the same guard: it knows which failed write was its own.
        redirect.restore();
        QVERIFY2(!files.files.count(backupPathFor(kHosts).string()), failed.c_str());
        // With no hosts file before, a link start that failed may leave none.
        if (start == Start::Missing && error && !files.files.count(kHosts.string()))
            return;
        QCOMPARE(QByteArray::fromStdString(files.files[kHosts.string()]), QByteArray::fromStdString(original));
    }

    // Whose hosts.bak it is decides whether a restore or a link start may touch anything.
    void whoseBackup_data()
    {
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QByteArray>("backup"); // empty: none; "# a copy": not ours, so kept
        QTest::addColumn<QByteArray>("claim");  // the tag it names; "backup": the backup's own
        QTest::addColumn<BackupState>("state");
        const QByteArray copy = "# a copy\n", none, other = "v7/0123456789abcdef";
        const QByteArray original = QByteArray::fromStdString(kOriginal);
        QTest::newRow("someone else's hosts.bak") << false << copy << none << BackupState::Foreign;
        QTest::newRow("our redirection, backup gone: our lines come out") << true << none << none << BackupState::Missing;
        QTest::newRow("our redirection and backup") << true << original << none << BackupState::Ours;
        QTest::newRow("killed once the earlier file was back: the claim")
            << false << original << QByteArray("backup") << BackupState::Ours;
        QTest::newRow("a claim left alone, then the administrator's own copy")
            << false << copy << other << BackupState::Foreign;
        QTest::newRow("a stale marker adopts no other backup") << true << copy << none << BackupState::Missing;
        QTest::newRow("only a claim of ours left") << false << none << other << BackupState::Leftover;
        QTest::newRow("nothing of ours") << false << none << none << BackupState::None;
    }
    void whoseBackup()
    {
        QFETCH(bool, marked);
        QFETCH(QByteArray, backup);
        QFETCH(QByteArray, claim);
        QFETCH(BackupState, state);
        const fs::path bak = backupPathFor(kHosts);
        FakeFiles files;
        files.files[kHosts.string()] =
            marked ? redirectedHostsContent("1.1.1.1", "1.1.1.2", HostsStyle{}, kOriginal, bak) : kOriginal;
        if (!backup.isEmpty())
            files.files[bak.string()] = backup.toStdString();
        if (!claim.isEmpty())
            files.files[claimPathFor(bak).string()] =
                "...\nbackup " + (claim == "backup" ? backupTag("v0", kOriginal) : claim.toStdString()) + "\n";
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        QCOMPARE(redirect.backupState(), state);
        redirect.restore();
        // Our lines are out, the earlier file is in place, nothing of ours stays, nobody's is lost.
        std::map<std::string, std::string> after{{kHosts.string(), kOriginal}};
        if (backup.startsWith("# a copy"))
            after[bak.string()] = backup.toStdString();
        QCOMPARE(files.files, after);
        if (after.size() > 1)
            QVERIFY_THROWS_EXCEPTION(Error, redirect.setGameIp("192.0.2.1", "198.51.100.7"));
    }

    // What others write to the hosts file during a link stays; only our lines come out.
    void othersEditsSurvive_data()
    {
        QTest::addColumn<QByteArray>("earlier");
        QTest::addColumn<QByteArray>("edit");    // appended during the link,
        QTest::addColumn<bool>("beforeRename");  // or between our read and our rename
        QTest::addColumn<Restored>("outcome");
        const QByteArray original = QByteArray::fromStdString(kOriginal), nas = "10.0.0.5  nas\n";
        QTest::newRow("untouched: the backup byte for byte") << original << QByteArray() << false << Restored::Backup;
        QTest::newRow("a line added during the link stays") << original << nas << false << Restored::ChangesKept;
        QTest::newRow("the earlier game line comes back, the added line stays")
            << "10.1.1.1  gate.quorrel2008.net\n" + original << nas << false << Restored::ChangesKept;
        QTest::newRow("a write between our read and our rename is not lost") << original << nas << true << Restored::ChangesKept;
    }
    void othersEditsSurvive()
    {
        QFETCH(QByteArray, earlier);
        QFETCH(QByteArray, edit);
        QFETCH(bool, beforeRename);
        QFETCH(Restored, outcome);
        FakeFiles files;
        files.files[kHosts.string()] = earlier.toStdString();
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        redirect.setGameIp("192.0.2.1", "198.51.100.7");
        std::string pending = edit.toStdString();
        const auto append = [&] {
            files.files[kHosts.string()] += std::exchange(pending, {});
            files.versions[kHosts.string()] = ++files.writes;
        };
        files.afterEach = [&] {
            if (beforeRename && !pending.empty() && files.log.back() == "writeTemp hosts.bramblet-new")
                append();
        };
        if (!beforeRename)
            append();
        QCOMPARE(redirect.restore(), outcome);
        QCOMPARE(files.files, (std::map<std::string, std::string>{{kHosts.string(), (earlier + edit).toStdString()}}));
    }

    // Someone took our marker out during the link: nothing is overwritten, and the earlier
    // file is kept under a name no later link takes.
    void markerRemovedHandsTheBackupOver()
    {
        FakeFiles files;
        prepare(files, Start::Present);
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        redirect.setGameIp("192.0.2.1", "198.51.100.7");
        files.files[kHosts.string()] = "# the administrator's own\n";
        const fs::path kept = kHosts.string() + kHandedOverSuffix;
        files.files[kept.string()] = "an earlier hand-over\n";
        try {
            redirect.restore();
            QFAIL("a hosts file without our marker was not reported");
        } catch (const Error &e) {
            QVERIFY2(std::string(e.what()).find(kept.string() + ".2") != std::string::npos, e.what());
        }
        QCOMPARE(files.files[kHosts.string()], std::string("# the administrator's own\n"));
        QCOMPARE(files.files[kept.string() + ".2"], kOriginal);
        QCOMPARE(files.files.size(), std::size_t(3));
        redirect.setGameIp("192.0.2.1", "198.51.100.7"); // later links are not refused
    }

    void refusedRenameRewritesInPlace()
    {
        FakeFiles files;
        prepare(files, Start::Present);
        files.refuseRenameTo = kHosts.string();
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        redirect.setGameIp("192.0.2.1", "198.51.100.7");
        QCOMPARE(files.files[kHosts.string()],
                 redirectedHostsContent("192.0.2.1", "198.51.100.7", HostsStyle{}, kOriginal, backupPathFor(kHosts)));
        QCOMPARE(files.files[backupPathFor(kHosts).string()], kOriginal);
        QVERIFY(std::find(files.log.begin(), files.log.end(), "rewriteInPlace hosts") != files.log.end());
        QVERIFY2(!files.files.count(tempPathFor(kHosts).string()), "the refused temp file stays behind");
        QCOMPARE(redirect.restore(), Restored::Backup);
        QCOMPARE(files.files[kHosts.string()], kOriginal);
        QVERIFY(!files.files.count(backupPathFor(kHosts).string()));
    }

    void badAddressesWriteNothing_data()
    {
        QTest::addColumn<QByteArray>("gateway");
        QTest::addColumn<QByteArray>("stun");
        QTest::newRow("gateway with a line break") << QByteArray("1.2.3.4\n6.6.6.6  evil") << QByteArray("10.0.0.2");
        QTest::newRow("gateway shortened") << QByteArray("10.1") << QByteArray("10.0.0.2");
        QTest::newRow("gateway empty") << QByteArray("") << QByteArray("10.0.0.2");
        QTest::newRow("STUN above 255") << QByteArray("10.0.0.1") << QByteArray("10.0.0.300");
        QTest::newRow("STUN a name") << QByteArray("10.0.0.1") << QByteArray("stun");
    }
    void badAddressesWriteNothing()
    {
        QFETCH(QByteArray, gateway);
        QFETCH(QByteArray, stun);
        FakeFiles files;
        prepare(files, Start::Missing);
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        QVERIFY_THROWS_EXCEPTION(Error, redirect.setGameIp(gateway.toStdString(), stun.toStdString()));
        QVERIFY(!files.mutated());
        QVERIFY(files.files.empty());
    }

    void backupFailureLeavesHostsUntouched()
    {
        FakeFiles files;
        prepare(files, Start::Present);
        int writes = 0;
        HostsRedirect redirect(kHosts, HostsStyle{}, files);
        for (int i = 0; i < 64; ++i) {
            files.log.clear();
            files.operations = 0;
            files.failAt = i;
            prepare(files, Start::Present);
            try {
                redirect.setGameIp("192.0.2.1", "198.51.100.7");
            } catch (const Error &e) {
                const std::string &last = files.log[std::size_t(i)];
                if (last.rfind("writeTemp hosts.bak", 0) != 0 && last.rfind("rename hosts.bak", 0) != 0 &&
                    last.rfind("read hosts.bak", 0) != 0)
                    continue;
                ++writes;
                QVERIFY2(std::string(e.what()).find("left unchanged") != std::string::npos, e.what());
                QCOMPARE(files.files[kHosts.string()], kOriginal);
                QCOMPARE(files.files.size(), std::size_t(1));
            }
        }
        QVERIFY2(writes >= 3, "the backup's write, rename and read-back were not all tried");
    }
};

QTEST_APPLESS_MAIN(TestHostsRedirect)
#include "tst_hostsredirect.moc"
