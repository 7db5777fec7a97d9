// The hosts guard alone, as a real process on a hosts file of the test's own: every way its
// pipe or its life can end puts the hosts file back, and bad input on its pipe changes nothing.
#include "core/errors.h"
#include "core/guardprotocol.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace bramblet;

namespace {

const QByteArray kOriginal = "127.0.0.1\tlocalhost\n10.0.0.9  printer # no final break";
const QString kGuard = QStringLiteral(BRAMBLET_GUARD_TEST_EXE);

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList listing(const QString &dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

bool redirected(const QByteArray &hosts)
{
    return hosts.contains(QByteArray("192.0.2.1  ") + hosts::kGatewayHostName) &&
           hosts.contains(QByteArray("198.51.100.7  ") + hosts::kStunHostName);
}

// The caller that gets killed: this executable with --caller starts the guard on pipes of
// its own, asks for a redirection, says the guard's process number and waits to be killed.
int runCaller(const char *folder)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return 3;
    const pid_t guard = ::fork();
    if (guard == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        if (::chdir(folder) == 0)
            ::execl(BRAMBLET_GUARD_TEST_EXE, BRAMBLET_GUARD_TEST_EXE, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    const char command[] = "redirect 192.0.2.1 198.51.100.7\n";
    if (::write(in[1], command, sizeof command - 1) != ssize_t(sizeof command - 1))
        return 4;
    int answers = 0;
    char ch;
    while (answers < 2 && ::read(out[0], &ch, 1) == 1)
        answers += ch == '\n';
    std::printf("%d\n", int(guard));
    std::fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(bramblet::guardprotocol::PkexecRefusal)

class TestHostsGuard : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString hostsPath() const { return dir.filePath(QStringLiteral("hosts")); }

    // The next answer line of the guard, without its break; empty when none came in time.
    static QByteArray answer(QProcess &guard)
    {
        QElapsedTimer t;
        t.start();
        while (!guard.canReadLine() && t.elapsed() < 15000) {
            if (!guard.waitForReadyRead(500) && guard.state() == QProcess::NotRunning)
                break;
        }
        return guard.canReadLine() ? guard.readLine().chopped(1) : QByteArray();
    }

    void startGuard(QProcess &guard, const QStringList &args = {})
    {
        guard.setWorkingDirectory(dir.path());
        guard.setProcessChannelMode(QProcess::SeparateChannels);
        guard.start(kGuard, args);
        QVERIFY(guard.waitForStarted(10000));
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        for (const QString &f : listing(dir.path()))
            QFile::remove(dir.filePath(f));
        QVERIFY(writeFile(hostsPath(), kOriginal));
    }

    void everyEndRestores_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("restore command: answered, then ended") << QStringLiteral("restore");
        QTest::newRow("end of input: the window closed its pipe") << QStringLiteral("eof");
        QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
        QTest::newRow("SIGINT") << QStringLiteral("SIGINT");
        QTest::newRow("SIGHUP") << QStringLiteral("SIGHUP");
        QTest::newRow("SIGQUIT") << QStringLiteral("SIGQUIT");
        QTest::newRow("a second redirection, then end of input") << QStringLiteral("twice");
    }
    void everyEndRestores()
    {
        QFETCH(QString, end);
        QProcess guard;
        startGuard(guard);
        QCOMPARE(answer(guard), QByteArray("ok"));
        guard.write("redirect 192.0.2.1 198.51.100.7\n");
        QCOMPARE(answer(guard), QByteArray("ok"));
        QVERIFY2(redirected(readFile(hostsPath())), readFile(hostsPath()).constData());
        QCOMPARE(readFile(hostsPath() + QStringLiteral(".bak")), kOriginal);

        if (end == QStringLiteral("restore")) {
            guard.write("restore\n");
            QCOMPARE(answer(guard), QByteArray("ok"));
        } else if (end == QStringLiteral("eof") || end == QStringLiteral("twice")) {
            if (end == QStringLiteral("twice")) {
                guard.write("redirect 192.0.2.9 198.51.100.7\n");
                QCOMPARE(answer(guard), QByteArray("ok"));
                QCOMPARE(readFile(hostsPath() + QStringLiteral(".bak")), kOriginal);
            }
            guard.closeWriteChannel();
        } else {
            const int number = end == QStringLiteral("SIGTERM") ? SIGTERM
                               : end == QStringLiteral("SIGINT") ? SIGINT
                               : end == QStringLiteral("SIGQUIT") ? SIGQUIT
                                                                  : SIGHUP;
            QCOMPARE(::kill(pid_t(guard.processId()), number), 0);
        }
        QVERIFY(guard.waitForFinished(15000));
        QCOMPARE(guard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(guard.exitCode(), 0);
        QCOMPARE(readFile(hostsPath()), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
    }

    // SIGKILL of the main window: the guard sees the end of its input and restores.
    void killedCallerRestores()
    {
        QProcess caller;
        caller.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--caller"), dir.path()});
        QVERIFY(caller.waitForStarted(10000));
        QVERIFY(caller.waitForReadyRead(15000));
        const pid_t guardPid = pid_t(caller.readLine().trimmed().toInt());
        QVERIFY(guardPid > 0);
        QVERIFY2(redirected(readFile(hostsPath())), readFile(hostsPath()).constData());
        caller.kill();
        QVERIFY(caller.waitForFinished(10000));
        // The orphaned guard is not ours to wait for; the file tells.
        QTRY_COMPARE_WITH_TIMEOUT(listing(dir.path()), QStringList{QStringLiteral("hosts")}, 10000);
        QCOMPARE(readFile(hostsPath()), kOriginal);
    }

    // A killed guard's backup is put back by the next guard before it takes any command.
    void staleBackupRestoredAtStart()
    {
        hosts::HostsRedirect(hostsPath().toStdString(), platform::hostsStyle(), platform::hostsFileOps())
            .setGameIp("192.0.2.1", "198.51.100.7");
        QProcess guard;
        startGuard(guard);
        QCOMPARE(answer(guard), QByteArray("ok"));
        QCOMPARE(readFile(hostsPath()), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
        guard.closeWriteChannel();
        QVERIFY(guard.waitForFinished(15000));
    }

    void badInputChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("unknown command") << QByteArray("hello\n") << QByteArray("error Unknown command");
        QTest::newRow("one address") << QByteArray("redirect 192.0.2.1\n") << QByteArray("error A redirection");
        QTest::newRow("a path for an address") << QByteArray("redirect /etc/passwd 192.0.2.1\n") << QByteArray("error Not an IPv4");
        QTest::newRow("a second hosts line smuggled in")
            << QByteArray("redirect 192.0.2.1 6.6.6.6 evil.example\n") << QByteArray("error Not an IPv4");
        QTest::newRow("leading zero") << QByteArray("redirect 192.0.2.01 6.6.6.6\n") << QByteArray("error Not an IPv4");
        QTest::newRow("carriage return") << QByteArray("redirect 192.0.2.1 6.6.6.6\r\n") << QByteArray("error Not an IPv4");
        QTest::newRow("NUL byte") << QByteArray("redirect 192.0.2.1\0 6.6.6.6\n", 28) << QByteArray("error Not an IPv4");
        QTest::newRow("endless line: one answer")
            << QByteArray(100000, 'x') + "\n" << QByteArray("error Line too long");
    }
    void badInputChangesNothing()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QProcess guard;
        startGuard(guard);
        QCOMPARE(answer(guard), QByteArray("ok"));
        guard.write(input);
        const QByteArray said = answer(guard);
        QVERIFY2(said.startsWith(expected), said.constData());
        QCOMPARE(readFile(hostsPath()), kOriginal);
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
        // Still serving: the next good command is the next answer.
        guard.write("redirect 192.0.2.1 198.51.100.7\n");
        QCOMPARE(answer(guard), QByteArray("ok"));
        QVERIFY(redirected(readFile(hostsPath())));
        guard.write("restore\n");
        QCOMPARE(answer(guard), QByteArray("ok"));
        QVERIFY(guard.waitForFinished(15000));
        QCOMPARE(readFile(hostsPath()), kOriginal);
    }

    // A second guard on the machine ends the first one's link in nothing.
    void oneGuardAtATime()
    {
        QProcess first, second;
        startGuard(first);
        QCOMPARE(answer(first), QByteArray("ok"));
        first.write("redirect 192.0.2.1 198.51.100.7\n");
        QCOMPARE(answer(first), QByteArray("ok"));
        const QByteArray during = readFile(hostsPath());
        startGuard(second);
        QCOMPARE(answer(second), QByteArray("error ") + guardprotocol::kBusyError);
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(readFile(hostsPath()), during);
        first.closeWriteChannel();
        QVERIFY(first.waitForFinished(15000));
        QCOMPARE(readFile(hostsPath()), kOriginal);
    }

    // A caller that stopped reading its answers does not keep the guard from restoring.
    void callerThatStopsReading()
    {
        QTemporaryDir side;
        const QByteArray fifo = QFile::encodeName(side.filePath(QStringLiteral("answers")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        const int neverRead = ::open(fifo.constData(), O_RDWR | O_CLOEXEC);
        const auto closeFifo = qScopeGuard([neverRead] { ::close(neverRead); });
        QProcess guard;
        guard.setStandardOutputFile(QString::fromLocal8Bit(fifo));
        startGuard(guard);
        // Far more answers than the pipe holds.
        guard.write("redirect 192.0.2.1 198.51.100.7\n" + QByteArray("x\n").repeated(8000));
        guard.closeWriteChannel();
        QVERIFY(guard.waitForFinished(30000));
        QCOMPARE(readFile(hostsPath()), kOriginal);
    }

    // What the replaced file carried beyond its bytes, and a file that cannot be replaced.
    void fileTheGuardMeets_data()
    {
        QTest::addColumn<bool>("immutable");
        QTest::newRow("extended attributes stay with the hosts file") << false;
        QTest::newRow("immutable: refused before anything is written") << true;
    }
    void fileTheGuardMeets()
    {
        QFETCH(bool, immutable);
        const QByteArray path = QFile::encodeName(hostsPath());
        hosts::HostsRedirect redirect(hostsPath().toStdString(), platform::hostsStyle(), platform::hostsFileOps());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        int flags = 0;
        const bool flagged = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags |= FS_IMMUTABLE_FL) != 0;
        if (immutable ? !flagged || ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0 : ::fsetxattr(fd, "user.t", "kept", 4, 0) != 0)
            QSKIP("this file system cannot mark files so");
        std::string error;
        try {
            redirect.setGameIp("192.0.2.1", "198.51.100.7");
            QCOMPARE(redirect.restore(), hosts::Restored::Backup);
        } catch (const Error &e) {
            error = e.what();
        }
        flags &= ~FS_IMMUTABLE_FL;
        QVERIFY(!immutable || ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
        char value[8] = {};
        QVERIFY2(immutable ? error.find("immutable") != std::string::npos
                           : ::getxattr(path.constData(), "user.t", value, sizeof value) == 4, error.c_str());
        QCOMPARE(listing(dir.path()), QStringList{QStringLiteral("hosts")});
    }

    // Root follows and runs only what no other user could have replaced.
    void trustedPaths_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileOwner");
        QTest::addColumn<bool>("throughTheirLink");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("root's folders, root's file") << 0755 << 0 << false << true;
        QTest::newRow("a folder others may write") << 0775 << 0 << false << false;
        QTest::newRow("a file another user owns") << 0755 << 1000 << false << false;
        QTest::newRow("a link in a folder another user owns") << 0755 << 0 << true << false;
        QTest::newRow("root's sticky folder, root's file") << 01777 << 0 << false << true;
    }
    void trustedPaths()
    {
        QFETCH(int, folderMode);
        QFETCH(int, fileOwner);
        QFETCH(bool, throughTheirLink);
        QFETCH(bool, trusted);
        if (::geteuid() != 0)
            QSKIP("needs root to give files to other users");
        QTemporaryDir top;
        const QByteArray folder = QFile::encodeName(top.filePath(QStringLiteral("f"))), theirs = folder + "-theirs";
        QByteArray file = folder + "/guard";
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0 && ::mkdir(folder.constData(), 0) == 0 &&
                ::chmod(folder.constData(), mode_t(folderMode)) == 0 && writeFile(QString::fromLocal8Bit(file), "x") &&
                ::chown(file.constData(), uid_t(fileOwner), gid_t(fileOwner)) == 0);
        if (throughTheirLink) {
            QVERIFY(::mkdir(theirs.constData(), 0755) == 0 && ::chown(theirs.constData(), 1000, 1000) == 0 &&
                    ::symlink(file.constData(), (theirs + "/link").constData()) == 0);
            file = theirs + "/link";
        }
        if (trusted)
            QCOMPARE(platform::followTrusted(file.toStdString()), file.toStdString());
        else
            QVERIFY_THROWS_EXCEPTION(Error, platform::followTrusted(file.toStdString()));
    }

    void pkexecAnswers_data()
    {
        using R = guardprotocol::PkexecRefusal;
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<R>("refusal");
        const QByteArray prefix = "Error executing command as another user: ";
        QTest::newRow("no authentication agent") << 127 << prefix + "No authentication agent found.\n" << R::NoAgent;
        QTest::newRow("password dialog dismissed") << 126 << prefix + "Request dismissed\n" << R::Dismissed;
        QTest::newRow("not authorised") << 127 << prefix + "Not authorized\n\nThis incident has been reported.\n"
                                        << R::NotAuthorized;
        QTest::newRow("the guard's own failure is no refusal") << 1 << QByteArray() << R::None;
    }
    void pkexecAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, errors);
        QFETCH(guardprotocol::PkexecRefusal, refusal);
        QCOMPARE(guardprotocol::pkexecRefusal(status, errors.toStdString()), refusal);
    }

    void argumentsRefused()
    {
        QProcess guard;
        startGuard(guard, {dir.filePath(QStringLiteral("elsewhere"))});
        QVERIFY(guard.waitForFinished(15000));
        QCOMPARE(guard.exitCode(), 2);
        QVERIFY(guard.readAllStandardOutput().startsWith("error "));
        QCOMPARE(readFile(hostsPath()), kOriginal);
    }

    // The system's own text reaches the caller, and the guard goes on.
    void failureAnswersWithTheSystemsText()
    {
        QVERIFY(QFile::remove(hostsPath()));
        QVERIFY(QDir().mkdir(hostsPath()));
        QProcess guard;
        startGuard(guard);
        // Its look for a stale backup already meets the directory.
        QVERIFY(answer(guard).startsWith("error "));
        guard.write("redirect 192.0.2.1 198.51.100.7\n");
        const QByteArray said = answer(guard);
        QVERIFY2(said.startsWith("error ") && said.contains("Is a directory"), said.constData());
        QCOMPARE(listing(dir.path()), QStringList());
        guard.write("restore\n");
        QVERIFY(!answer(guard).isEmpty());
        QVERIFY(guard.waitForFinished(15000));
        QVERIFY(QDir().rmdir(hostsPath()));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--caller") == 0)
        return runCaller(argv[2]);
    QCoreApplication app(argc, argv);
    TestHostsGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostsguard.moc"
