// The hosts file as the main window changes it, on real files: link start and close, the
// attributes kept, a bind mount, another user, a kill at every point, this machine's address.
#include "support/MainWindowRig.h"
#include "support/StagedCopy.h"
#include "app/ApplicationTitle.h"
#include "core/errors.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"
#include "platform/hostsguard.h"
#include "platform/localaddress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bramblet;
using namespace bramblet::test;

namespace {

const QByteArray kOriginal = "# the machine's own names\r\n127.0.0.1\tlocalhost\n::1     ip6-localhost\n"
                             "10.0.0.9  printer # \xe6\x89\x93\xe5\x8d\xb0 no final line break";
constexpr char kGateway[] = "192.0.2.1";
constexpr char kStun[] = "198.51.100.7";
constexpr uid_t kNobody = 65534;

// The live file of a link started from `earlier`, its backup beside `hostsPath`.
QByteArray redirected(const QByteArray &earlier, const QString &hostsPath, const char *gateway = kGateway)
{
    return QByteArray::fromStdString(hosts::redirectedHostsContent(
        gateway, kStun, platform::hostsStyle(), earlier.toStdString(), (hostsPath + QStringLiteral(".bak")).toStdString()));
}

struct Facts {
    bool exists = false;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    ino_t inode = 0;
};

Facts facts(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 07777), st.st_ino};
}

bool setFacts(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray p = QFile::encodeName(path);
    return ::chown(p.constData(), uid, gid) == 0 && ::chmod(p.constData(), mode) == 0;
}

QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QMap<QByteArray, QByteArray> keyValues(const QByteArray &out)
{
    QMap<QByteArray, QByteArray> map;
    for (const QByteArray &line : out.split('\n')) {
        const int tab = line.indexOf('\t');
        if (tab > 0)
            map.insert(line.left(tab), line.mid(tab + 1));
    }
    return map;
}

// ---- the child side: this executable started again with --child MODE ------------------
// Children run before any Qt object exists, so they may enter namespaces of their own.

class CountingOps : public hosts::HostsFileOps {
public:
    int refused = 0;
    hosts::HostsFileOps &real = platform::hostsFileOps();
    bool exists(const std::filesystem::path &p) override { return real.exists(p); }
    std::string read(const std::filesystem::path &p) override { return real.read(p); }
    void writeTemp(const std::filesystem::path &p, std::string_view c, const std::filesystem::path &l) override
    {
        real.writeTemp(p, c, l);
    }
    RenameOutcome rename(const std::filesystem::path &f, const std::filesystem::path &t) override
    {
        const RenameOutcome o = real.rename(f, t);
        refused += o == RenameOutcome::Refused;
        return o;
    }
    PlaceOutcome placeNew(const std::filesystem::path &f, const std::filesystem::path &t) override
    {
        return real.placeNew(f, t);
    }
    std::string identity(const std::filesystem::path &p) override { return real.identity(p); }
    void rewriteInPlace(const std::filesystem::path &p, std::string_view c) override { real.rewriteInPlace(p, c); }
    void remove(const std::filesystem::path &p) override { real.remove(p); }
    void syncFolder(const std::filesystem::path &p) override { real.syncFolder(p); }
};

void say(const char *key, const std::string &value)
{
    std::printf("%s\t%s\n", key, value.c_str());
    std::fflush(stdout);
}

std::string hexOf(const std::string &bytes) { return QByteArray::fromStdString(bytes).toHex().toStdString(); }

// Two link starts and the close, killed at checkpoint `killAt` (0: run through and count).
int childCrash(const char *hostsPath, int killAt)
{
    hosts::HostsRedirect redirect(hostsPath, platform::hostsStyle(), platform::hostsFileOps());
    int passed = 0;
    redirect.checkpoint = [&](std::string_view point) {
        if (++passed == killAt) {
            say("killed-at", std::string(point));
            ::raise(SIGKILL);
        }
    };
    redirect.setGameIp(kGateway, kStun);
    redirect.setGameIp("192.0.2.2", kStun);
    redirect.restore();
    say("checkpoints", std::to_string(passed));
    return 0;
}

// Starts the main window and closes it, as the program does when it is merely started and
// closed again.
int childClose(int argc, char **argv, const QString &hostsPath, const QString &programFolder)
{
    BrambletApplication app(argc, argv);
    MainWindowRig w(hostsPath, programFolder);
    w.form->close();
    return w.messages.boxes.isEmpty() ? 0 : 2;
}

int childRedirect(const char *hostsPath, bool restore)
{
    hosts::HostsRedirect redirect(hostsPath, platform::hostsStyle(), platform::hostsFileOps());
    try {
        if (restore)
            redirect.restore();
        else
            redirect.setGameIp(kGateway, kStun);
        say("result", "ok");
    } catch (const std::exception &e) {
        say("result", std::string("error: ") + e.what());
    }
    return 0;
}

// The hosts file of a network namespace: `source` bind-mounted over `target`.
int childBind(const char *source, const char *target)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(source, target, nullptr, MS_BIND, nullptr) != 0) {
        say("skip", std::string("no private mount namespace here: ") + std::strerror(errno));
        return 0;
    }
    CountingOps ops;
    hosts::HostsRedirect redirect(target, platform::hostsStyle(), ops);
    try {
        redirect.setGameIp(kGateway, kStun);
        say("refused", std::to_string(ops.refused));
        say("during", hexOf(ops.read(target)));
        redirect.restore();
        say("after", hexOf(ops.read(target)));
    } catch (const std::exception &e) {
        say("error", e.what());
    }
    return 0;
}

int childLocalIp()
{
    const auto address = platform::localIPv4();
    say("address", address ? address->toStdString() : "none");
    return 0;
}

int runChild(char **argv)
{
    const QByteArray mode = argv[2];
    if (mode == "crash")
        return childCrash(argv[3], std::atoi(argv[4]));
    if (mode == "close") {
        const QString hostsPath = QString::fromLocal8Bit(argv[3]);
        const QString folder = QString::fromLocal8Bit(argv[4]);
        int qtArgc = 1;
        return childClose(qtArgc, argv, hostsPath, folder);
    }
    if (mode == "redirect" || mode == "restore")
        return childRedirect(argv[3], mode == "restore");
    if (mode == "bind")
        return childBind(argv[3], argv[4]);
    if (mode == "localip")
        return childLocalIp();
    return 99;
}

struct ChildResult {
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QByteArray out;
    QByteArray err;
};

ChildResult runSelf(const QStringList &args, std::function<void()> asUser = {}, const QString &program = {})
{
    QProcess p;
    p.setProgram(program.isEmpty() ? QCoreApplication::applicationFilePath() : program);
    if (!program.isEmpty())
        p.setWorkingDirectory(QFileInfo(program).path());
    p.setArguments(QStringList{QStringLiteral("--child")} + args);
    if (asUser)
        p.setChildProcessModifier(asUser);
    p.start();
    ChildResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.status = p.exitStatus();
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void becomeNobody()
{
    // Runs between fork and exec: plain system calls only.
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        ::_exit(97);
}

enum class Start { Present, Missing, StaleBackup };

// The test build's marker names the backup as it knows the file: "hosts" in its folder.
QByteArray redirectedByTestBuild() { return redirected(kOriginal, QStringLiteral("hosts")); }

// The window's own guard client around the guard's test build, on a scratch "hosts": it
// runs the guard without pkexec only where it is root. Gives the window, linked.
TBrambletMainForm *linkedThroughGuard(MainWindowRig &rig, const QString &hostsPath)
{
    if (!writeAll(hostsPath, kOriginal))
        return nullptr;
    rig.services.hostsGuard = [hostsPath] {
        return platform::makeTestBuildHostsGuard(QStringLiteral(BRAMBLET_GUARD_TEST_EXE), hostsPath);
    };
    rig.services.programFolder = QFileInfo(hostsPath).path() + QStringLiteral("/program/");
    TBrambletMainForm &form = rig.make();
    guarded([&] { form.SetGameIp(QString::fromLatin1(kGateway), QString::fromLatin1(kStun)); });
    return readAll(hostsPath) == redirectedByTestBuild() ? &form : nullptr;
}

// The guard this process started: its one child, the guard's test build.
pid_t guardPid()
{
    const QString pid = QString::number(::getpid());
    const QList<QByteArray> children = readAll(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).split(' ');
    const QString exe = QStringLiteral("/proc/%1/exe").arg(QString::fromLatin1(children.first()));
    return QFile::symLinkTarget(exe) == QFileInfo(QStringLiteral(BRAMBLET_GUARD_TEST_EXE)).canonicalFilePath()
               ? pid_t(children.first().toInt())
               : 0;
}

} // namespace

Q_DECLARE_METATYPE(Start)

class TestHostsFile : public QObject {
    Q_OBJECT

    using Window = MainWindowRig;

private slots:
    void linkStartAndClose_data()
    {
        QTest::addColumn<Start>("start");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("uid");
        QTest::addColumn<int>("gid");
        QTest::newRow("plain file: three lines, then back byte for byte") << Start::Present << 0644 << 0 << 0;
        QTest::newRow("missing file: default first, after close exactly that line") << Start::Missing << 0644 << 0 << 0;
        QTest::newRow("read-only file replaced, mode kept") << Start::Present << 0444 << 0 << 0;
        QTest::newRow("owner, group and mode kept") << Start::Present << 0664 << 1234 << 5678;
        QTest::newRow("backup of a killed run goes back before the new backup") << Start::StaleBackup << 0644 << 0 << 0;
    }
    void linkStartAndClose()
    {
        QFETCH(Start, start);
        QFETCH(int, mode);
        QFETCH(int, uid);
        QFETCH(int, gid);
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        const QString backupPath = hostsPath + QStringLiteral(".bak");
        QByteArray original = kOriginal;
        if (start == Start::Missing) {
            original = QByteArray::fromStdString(hosts::defaultHostsContent(platform::hostsStyle()));
        } else {
            QVERIFY(writeAll(hostsPath, start == Start::StaleBackup ? redirected(kOriginal, hostsPath, "6.6.6.6")
                                                                    : kOriginal));
            QVERIFY(setFacts(hostsPath, uid_t(uid), gid_t(gid), mode_t(mode)));
        }
        if (start == Start::StaleBackup) {
            QVERIFY(writeAll(backupPath, kOriginal));
            QVERIFY(setFacts(backupPath, uid_t(uid), gid_t(gid), mode_t(mode)));
        }

        Window w(hostsPath, dir.filePath(QStringLiteral("program/")));
        guarded([&] { w.form->SetGameIp(QString::fromLatin1(kGateway), QString::fromLatin1(kStun)); });
        QVERIFY2(w.messages.boxes.isEmpty(), qPrintable(w.messages.texts().join(u'|')));
        QCOMPARE(readAll(hostsPath), redirected(original, hostsPath));
        QCOMPARE(readAll(backupPath), original);
        QCOMPARE(listing(dir.path()), (QStringList{QStringLiteral("hosts"), QStringLiteral("hosts.bak")}));
        for (const QString &p : {hostsPath, backupPath}) {
            const Facts f = facts(p);
            QCOMPARE(f.uid, uid_t(uid));
            QCOMPARE(f.gid, gid_t(gid));
            QCOMPARE(f.mode, mode_t(mode));
        }

        w.form->close();
        QCOMPARE(w.quits, 1);
        QCOMPARE(readAll(hostsPath), original);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
        const Facts f = facts(hostsPath);
        QCOMPARE(f.uid, uid_t(uid));
        QCOMPARE(f.gid, gid_t(gid));
        QCOMPARE(f.mode, mode_t(mode));
        QVERIFY(w.messages.boxes.isEmpty());
    }

    void killedRunRestoredAtStartAndClose()
    {
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        QVERIFY(writeAll(hostsPath, redirected(kOriginal, hostsPath)));
        QVERIFY(writeAll(hostsPath + QStringLiteral(".bak"), kOriginal));
        QVERIFY(writeAll(hostsPath + QString::fromLatin1(hosts::kTempSuffix), "half a file"));
        Window w(hostsPath, dir.filePath(QStringLiteral("program/")));
        QCOMPARE(readAll(hostsPath), redirected(kOriginal, hostsPath));
        w.form->close();
        QCOMPARE(readAll(hostsPath), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
    }

    // The end of a session may ask again while the close runs or after it.
    void closeRunsOnce()
    {
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        QVERIFY(writeAll(hostsPath, kOriginal));
        Window w(hostsPath, dir.filePath(QStringLiteral("program/")));
        guarded([&] { w.form->SetGameIp(QString::fromLatin1(kGateway), QString::fromLatin1(kStun)); });
        w.form->close();
        QCOMPARE(readAll(hostsPath), kOriginal);
        // A second redirection behind the closed window's back must stay: no second close ran.
        hosts::HostsRedirect(hostsPath.toStdString(), platform::hostsStyle(), platform::hostsFileOps())
            .setGameIp(kGateway, kStun);
        w.form->close();
        QCoreApplication::processEvents();
        QCOMPARE(w.quits, 1);
        QCOMPARE(readAll(hostsPath), redirected(kOriginal, hostsPath));
    }

    void closeWithoutBackupLeavesHostsAlone()
    {
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        QVERIFY(writeAll(hostsPath, kOriginal));
        const Facts before = facts(hostsPath);
        Window w(hostsPath, dir.filePath(QStringLiteral("program/")));
        w.form->close();
        QCOMPARE(readAll(hostsPath), kOriginal);
        QCOMPARE(facts(hostsPath).inode, before.inode);
    }

    // Some systems keep the hosts file elsewhere and link to it: the link stays, the file
    // it points at is redirected and put back, the backup lies beside the link.
    void symlinkedHostsFile_data()
    {
        QTest::addColumn<QString>("linkText");
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("absolute link") << QStringLiteral("ABS") << true;
        QTest::newRow("relative link into another folder") << QStringLiteral("../real/hosts") << true;
        QTest::newRow("link to a file not made yet: made there with the default") << QStringLiteral("ABS") << false;
    }
    void symlinkedHostsFile()
    {
        QFETCH(QString, linkText);
        QFETCH(bool, targetExists);
        QTemporaryDir dir;
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("etc"))) && QDir().mkdir(dir.filePath(QStringLiteral("real"))));
        const QString target = dir.filePath(QStringLiteral("real/hosts"));
        const QString link = dir.filePath(QStringLiteral("etc/hosts"));
        if (linkText == QStringLiteral("ABS"))
            linkText = target;
        QVERIFY(::symlink(QFile::encodeName(linkText).constData(), QFile::encodeName(link).constData()) == 0);
        const QByteArray original =
            targetExists ? kOriginal : QByteArray::fromStdString(hosts::defaultHostsContent(platform::hostsStyle()));
        if (targetExists)
            QVERIFY(writeAll(target, kOriginal));

        Window w(link, dir.filePath(QStringLiteral("program/")));
        guarded([&] { w.form->SetGameIp(QString::fromLatin1(kGateway), QString::fromLatin1(kStun)); });
        QVERIFY2(w.messages.boxes.isEmpty(), qPrintable(w.messages.texts().join(u'|')));
        QCOMPARE(QFile::symLinkTarget(link), target);
        QCOMPARE(readAll(target), redirected(original, link));
        QCOMPARE(readAll(link + QStringLiteral(".bak")), original);
        QVERIFY(!QFileInfo(link + QStringLiteral(".bak")).isSymLink());

        w.form->close();
        QVERIFY(w.messages.boxes.isEmpty());
        QCOMPARE(QFile::symLinkTarget(link), target);
        QCOMPARE(readAll(target), original);
        QCOMPARE(listing(dir.filePath(QStringLiteral("etc"))), QStringList{QStringLiteral("hosts")});
        QCOMPARE(listing(dir.filePath(QStringLiteral("real"))), QStringList{QStringLiteral("hosts")});
    }

    // A restore that fails at close is told in a warning box naming the backup; the close
    // goes on, and the kept backup comes back at the next close.
    void failedRestoreAtClose()
    {
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        const QString backupPath = hostsPath + QStringLiteral(".bak");
        QVERIFY(writeAll(hostsPath, kOriginal));
        const QString program = dir.filePath(QStringLiteral("program/"));
        {
            Window w(hostsPath, program);
            guarded([&] { w.form->SetGameIp(QString::fromLatin1(kGateway), QString::fromLatin1(kStun)); });
            // The name the new hosts file is written under is taken by a folder, which even
            // root cannot replace by a file.
            const QString blocker = hostsPath + QString::fromLatin1(hosts::kTempSuffix);
            QVERIFY(QDir().mkdir(blocker));
            w.form->close();
            QCOMPARE(w.quits, 1);
            QCOMPARE(w.messages.boxes.size(), 1);
            const RecordedBox &box = w.messages.boxes.first();
            QCOMPARE(box.caption, QStringLiteral("警告"));
            QCOMPARE(box.icon, MessageIcon::Warning);
            QVERIFY2(box.text.contains(backupPath) && box.text.contains(QStringLiteral("无法恢复hosts文件")),
                     qPrintable(box.text));
            QCOMPARE(readAll(hostsPath), redirected(kOriginal, hostsPath));
            QCOMPARE(readAll(backupPath), kOriginal);
            QVERIFY(QDir(blocker).removeRecursively());
        }
        Window again(hostsPath, program);
        again.form->close();
        QVERIFY(again.messages.boxes.isEmpty());
        QCOMPARE(readAll(hostsPath), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
    }

    void failuresReachTheErrorBox_data()
    {
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("stun");
        QTest::addColumn<bool>("folderMissing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("gateway not a dotted quad") << QStringLiteral("10.1") << QString::fromLatin1(kStun) << false
                                                   << QStringLiteral("dotted-quad");
        QTest::newRow("gateway carrying a second hosts line")
            << QStringLiteral("1.2.3.4\n6.6.6.6 evil") << QString::fromLatin1(kStun) << false
            << QStringLiteral("dotted-quad");
        QTest::newRow("STUN address out of range") << QString::fromLatin1(kGateway) << QStringLiteral("1.2.3.256")
                                                   << false << QStringLiteral("dotted-quad");
        QTest::newRow("hosts folder missing: the system's text")
            << QString::fromLatin1(kGateway) << QString::fromLatin1(kStun) << true
            << QStringLiteral("No such file or directory");
    }
    void failuresReachTheErrorBox()
    {
        QFETCH(QString, gateway);
        QFETCH(QString, stun);
        QFETCH(bool, folderMissing);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString hostsPath = folderMissing ? dir.filePath(QStringLiteral("gone/hosts")) : dir.filePath(QStringLiteral("hosts"));
        if (!folderMissing)
            QVERIFY(writeAll(hostsPath, kOriginal));
        Window w(hostsPath, dir.filePath(QStringLiteral("program/")));
        guarded([&] { w.form->SetGameIp(gateway, stun); });
        QCOMPARE(w.messages.boxes.size(), 1);
        const RecordedBox &box = w.messages.boxes.first();
        QVERIFY2(box.text.contains(expected), qPrintable(box.text));
        QCOMPARE(box.caption, applicationTitle());
        QCOMPARE(box.icon, MessageIcon::Error);
        if (!folderMissing) {
            QCOMPARE(readAll(hostsPath), kOriginal);
            QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
        }
    }

    // Root may write anywhere; a player's own account may not.
    void asAnotherUser_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<int>("mode");
        QTest::newRow("folder without write permission: clear error, nothing changed") << false << 0644;
        QTest::newRow("own read-only file in own folder: replaced, mode kept") << true << 0444;
    }
    void asAnotherUser()
    {
        QFETCH(bool, folderWritable);
        QFETCH(int, mode);
        QTemporaryDir dir;
        QVERIFY(setFacts(dir.path(), 0, 0, 0755));
        const QString folder = dir.filePath(QStringLiteral("etc"));
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(setFacts(folder, folderWritable ? kNobody : 0, 0, 0755));
        const QString hostsPath = folder + QStringLiteral("/hosts");
        QVERIFY(writeAll(hostsPath, kOriginal));
        QVERIFY(setFacts(hostsPath, kNobody, 0, mode_t(mode)));
        // The build tree may lie in a folder only its owner can enter (a home folder is 0700):
        // the other user runs a copy of this program from the test's own folder.
        const QString program = dir.filePath(QStringLiteral("tst_hostsfile"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        QVERIFY(setFacts(program, 0, 0, 0755));

        ChildResult r = runSelf({QStringLiteral("redirect"), hostsPath}, becomeNobody, program);
        QVERIFY2(r.status == QProcess::NormalExit, r.err.constData());
        QCOMPARE(r.code, 0);
        const QByteArray result = keyValues(r.out).value("result");
        if (!folderWritable) {
            QVERIFY2(result.contains("left unchanged") && result.contains("Permission denied"), result.constData());
            QCOMPARE(readAll(hostsPath), kOriginal);
            QCOMPARE(listing(folder), QStringList{QStringLiteral("hosts")});
            return;
        }
        QCOMPARE(result, QByteArray("ok"));
        QCOMPARE(readAll(hostsPath), redirected(kOriginal, hostsPath));
        QCOMPARE(facts(hostsPath).mode, mode_t(mode));
        QCOMPARE(facts(hostsPath).uid, kNobody);
        r = runSelf({QStringLiteral("restore"), hostsPath}, becomeNobody, program);
        QCOMPARE(keyValues(r.out).value("result"), QByteArray("ok"));
        QCOMPARE(readAll(hostsPath), kOriginal);
        QCOMPARE(facts(hostsPath).mode, mode_t(mode));
        QCOMPARE(listing(folder), QStringList{QStringLiteral("hosts")});
    }

    void bindMountedHostsFile_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("bind mount: rename refused, rewritten in place") << 0644;
        QTest::newRow("read-only file on a bind mount") << 0444;
    }
    void bindMountedHostsFile()
    {
        QFETCH(int, mode);
        QTemporaryDir dir;
        // As `ip netns exec` does it: the namespace's own file over the machine's.
        const QString source = dir.filePath(QStringLiteral("netns-hosts"));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("etc"))));
        const QString target = dir.filePath(QStringLiteral("etc/hosts"));
        QVERIFY(writeAll(source, kOriginal));
        QVERIFY(setFacts(source, 0, 0, mode_t(mode)));
        QVERIFY(writeAll(target, "the machine's hosts file\n"));
        const Facts before = facts(source);

        const ChildResult r = runSelf({QStringLiteral("bind"), source, target});
        const auto out = keyValues(r.out);
        if (out.contains("skip"))
            QSKIP(out.value("skip").constData());
        QVERIFY2(!out.contains("error"), out.value("error").constData());
        QVERIFY2(out.value("refused").toInt() >= 1, r.out.constData());
        QCOMPARE(QByteArray::fromHex(out.value("during")), redirected(kOriginal, target));
        QCOMPARE(QByteArray::fromHex(out.value("after")), kOriginal);
        // The namespace's file itself was written, the machine's never; nothing stays.
        QCOMPARE(readAll(source), kOriginal);
        QCOMPARE(readAll(target), QByteArray("the machine's hosts file\n"));
        QCOMPARE(facts(source).inode, before.inode);
        QCOMPARE(facts(source).mode, mode_t(mode));
        QCOMPARE(listing(dir.filePath(QStringLiteral("etc"))), QStringList{QStringLiteral("hosts")});
    }

    // A kill at any point between the file operations of two link starts and the close,
    // then one more start and close: the hosts file is back byte for byte.
    void killAtEveryCheckpoint()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("etc"));
        QVERIFY(QDir().mkdir(folder));
        const QString hostsPath = folder + QStringLiteral("/hosts");
        const QString programFolder = dir.filePath(QStringLiteral("program/"));
        auto reset = [&] {
            for (const QString &f : listing(folder))
                QFile::remove(folder + u'/' + f);
            return writeAll(hostsPath, kOriginal) && setFacts(hostsPath, 0, 0, 0644);
        };
        QVERIFY(reset());
        ChildResult r = runSelf({QStringLiteral("crash"), hostsPath, QStringLiteral("0")});
        QCOMPARE(r.code, 0);
        const int points = keyValues(r.out).value("checkpoints").toInt();
        QVERIFY2(points >= 30, r.out.constData());

        int tried = 0;
        for (int k = 1; k <= points; ++k) {
            QVERIFY(reset());
            r = runSelf({QStringLiteral("crash"), hostsPath, QString::number(k)});
            const QByteArray at = keyValues(r.out).value("killed-at");
            QVERIFY2(r.status == QProcess::CrashExit && r.code == SIGKILL && !at.isEmpty(),
                     qPrintable(QStringLiteral("point %1 was not reached").arg(k)));
            const ChildResult closed = runSelf({QStringLiteral("close"), hostsPath, programFolder});
            QVERIFY2(closed.status == QProcess::NormalExit && closed.code == 0, closed.err.constData());
            const QString where = QStringLiteral("killed at point %1 (%2)").arg(k).arg(QString::fromUtf8(at));
            QVERIFY2(readAll(hostsPath) == kOriginal, qPrintable(where));
            QVERIFY2(listing(folder) == QStringList{QStringLiteral("hosts")}, qPrintable(where + u' ' + listing(folder).join(u' ')));
            QVERIFY2(facts(hostsPath).mode == 0644, qPrintable(where));
            ++tried;
        }
        qInfo("%d kill points tried; after each, one start and close put the hosts file back byte for byte", tried);
        QCOMPARE(tried, points);
    }

    void localAddress_data()
    {
        QTest::addColumn<QString>("hostsLine");
        QTest::addColumn<bool>("withInterface");
        QTest::addColumn<QString>("expected");
        QTest::newRow("loopback only: none") << QStringLiteral("127.0.0.1 bramblet-probe") << false << QStringLiteral("none");
        QTest::newRow("name on Debian's 127.0.1.1: the interface")
            << QStringLiteral("127.0.1.1 bramblet-probe") << true << QStringLiteral("10.9.8.7");
        QTest::newRow("name on an address: the lookup's answer")
            << QStringLiteral("10.9.8.8 bramblet-probe") << true << QStringLiteral("10.9.8.8");
    }
    void localAddress()
    {
        QFETCH(QString, hostsLine);
        QFETCH(bool, withInterface);
        QFETCH(QString, expected);
        for (const char *tool : {"unshare", "ip", "mount", "hostname"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
        }
        QTemporaryDir dir;
        const QString hostsFile = dir.filePath(QStringLiteral("hosts"));
        QVERIFY(writeAll(hostsFile, hostsLine.toLatin1() + '\n'));
        // Own network, mount and host-name namespaces: the machine's own stay untouched.
        QString script = QStringLiteral("set -e; hostname bramblet-probe; mount --bind \"$1\" /etc/hosts; ");
        if (withInterface)
            script += QStringLiteral("ip link add v0 type veth peer name v1; ip addr add 10.9.8.7/24 dev v0; "
                                     "ip link set v0 up; ");
        // The namespaces are probed with a trivial command first: only their absence is a skip,
        // a child that then fails is a failure.
        const auto inNamespaces = [&](QProcess &p, const QString &last) {
            p.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("-m"), QStringLiteral("-u"),
                                                QStringLiteral("--propagation"), QStringLiteral("private"),
                                                QStringLiteral("sh"), QStringLiteral("-c"), script + last,
                                                QCoreApplication::applicationFilePath(), hostsFile});
            return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        QProcess probe, p;
        if (!inNamespaces(probe, QStringLiteral("exec true")))
            QSKIP(qPrintable(QStringLiteral("no private namespaces here: ") + QString::fromLocal8Bit(probe.readAllStandardError())));
        QVERIFY2(inNamespaces(p, QStringLiteral("exec \"$0\" --child localip")), p.readAllStandardError().constData());
        const QByteArray address = keyValues(p.readAllStandardOutput()).value("address");
        QCOMPARE(QString::fromLatin1(address), expected);
    }

    // A guard killed during a link (kill -9, out of memory) is told at once; the hosts file
    // comes back now through a new guard when the player agrees, else at the close.
    void guardKilledDuringLink_data()
    {
        QTest::addColumn<bool>("now");
        QTest::newRow("player agrees: back now through a new guard") << true;
        QTest::newRow("player declines: back at the close") << false;
    }
    void guardKilledDuringLink()
    {
        QFETCH(bool, now);
        if (::geteuid() != 0)
            QSKIP("the guard's client starts a guard without pkexec only as root");
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        MainWindowRig rig;
        rig.messages.answer = now;
        TBrambletMainForm *form = linkedThroughGuard(rig, hostsPath);
        QVERIFY2(form, qPrintable(rig.messages.texts().join(u'|')));
        const pid_t guard = guardPid();
        QVERIFY(guard > 0);
        QCOMPARE(::kill(guard, SIGKILL), 0);
        QTRY_COMPARE(rig.messages.questions.size(), 1);
        QCOMPARE(rig.host->balloons.size(), 1);
        QCOMPARE(rig.host->balloons.first().icon, BalloonIcon::Warning);
        QCOMPARE(readAll(hostsPath), now ? kOriginal : redirectedByTestBuild());
        QCOMPARE(rig.messages.boxes.size(), now ? 1 : 0);
        form->close();
        QCOMPARE(readAll(hostsPath), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
        QCOMPARE(rig.messages.boxes.size(), now ? 1 : 0);
    }

    // A restore that takes longer than 10 s (a blocklist on slow media) while the guard lives
    // is waited for, and the window runs meanwhile: only its event loop lets the guard go on.
    void slowRestoreWaitedFor()
    {
        if (::geteuid() != 0)
            QSKIP("the guard's client starts a guard without pkexec only as root");
        QTemporaryDir dir;
        const QString hostsPath = dir.filePath(QStringLiteral("hosts"));
        MainWindowRig rig;
        TBrambletMainForm *form = linkedThroughGuard(rig, hostsPath);
        QVERIFY2(form, qPrintable(rig.messages.texts().join(u'|')));
        const QString slow = dir.filePath(QStringLiteral("run/slow")); // the test build's slow disk
        QVERIFY(writeAll(slow, {}));
        const auto letGo = qScopeGuard([&] { QFile::remove(slow); });
        QElapsedTimer since;
        since.start();
        QTimer release;
        release.setInterval(100);
        QObject::connect(&release, &QTimer::timeout, &release, [&] {
            if (since.elapsed() > 11000)
                QFile::remove(slow);
        });
        release.start();
        form->close();
        QVERIFY2(rig.messages.boxes.isEmpty(), qPrintable(rig.messages.texts().join(u'|')));
        QVERIFY(!QFile::exists(slow));
        QCOMPARE(readAll(hostsPath), kOriginal);
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv);
    QApplication app(argc, argv);
    TestHostsFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostsfile.moc"
