#include "platform/hostsguard.h"

#include "core/errors.h"
#include "core/guardprotocol.h"
#include "core/hostsfile.h"
#include "platform/eventwait.h"
#include "platform/hostsfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace bramblet::platform {

namespace proto = guardprotocol;

namespace {

constexpr const char *kGuardName = "bramblet-hosts-guard";
constexpr const char *kInstalledAction = "org.bramblet.hosts-guard";
constexpr const char *kGenericAction = "org.freedesktop.policykit.exec";

// The first answer may wait for the player to type a password.
constexpr int kStartTimeoutMs = 120000;
constexpr int kCommandTimeoutMs = 30000;
// The close waits this long for the hosts file to be put back.
constexpr int kRestoreTimeoutMs = 10000;

[[noreturn]] void fail(const QString &text) { throw Error(text.toStdString()); }

class GuardProcess : public IHostsGuard {
public:
    explicit GuardProcess(QString guardPath) : guardPath_(std::move(guardPath)) {}

    ~GuardProcess() override
    {
        // The guard restores when its input ends; it is not ours to kill (it runs as root).
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            process_.waitForFinished(kRestoreTimeoutMs);
        }
    }

    std::filesystem::path hostsPath() const override { return platform::hostsPath(); }

    hosts::BackupState backupState() override
    {
        // Reading is all the player's own user needs to do here.
        return hosts::HostsRedirect(hostsPath(), hostsStyle(), hostsFileOps()).backupState();
    }

    void restoreStale() override
    {
        const proto::Answer first = start();
        if (!first.ok)
            fail(QString::fromStdString(first.text));
    }

    void redirect(const QString &gatewayAddress, const QString &stunAddress) override
    {
        start();
        const proto::Answer a = ask(proto::redirectCommand(gatewayAddress.toStdString(), stunAddress.toStdString()),
                                    kCommandTimeoutMs);
        if (!a.ok)
            fail(QString::fromStdString(a.text));
    }

    void restore() override
    {
        if (waiting_) {
            // The close came while an answer is awaited (a password prompt, say): the end
            // of its input makes the guard restore, and its last line says how that went.
            closeRequested_ = true;
            process_.closeWriteChannel();
            waitUntil([this] { return process_.state() == QProcess::NotRunning; }, kRestoreTimeoutMs);
            QByteArray last;
            while (process_.canReadLine())
                last = process_.readLine().chopped(1);
            const auto a = proto::parseAnswer(std::string_view(last.constData(), std::size_t(last.size())));
            if (a && !a->ok)
                fail(QString::fromStdString(a->text));
            return;
        }
        if (process_.state() == QProcess::NotRunning) {
            if (backupState() != hosts::BackupState::Ours)
                return;
            start();
        }
        const proto::Answer a = ask(proto::kRestoreCommand, kRestoreTimeoutMs);
        waitUntil([this] { return process_.state() == QProcess::NotRunning; }, kRestoreTimeoutMs);
        if (!a.ok)
            fail(QString::fromStdString(a.text));
    }

private:
    // Starts the guard unless it runs; gives its first answer (the stale backup put back).
    proto::Answer start()
    {
        if (process_.state() != QProcess::NotRunning)
            return {true, {}};
        QString program = guardPath_;
        QStringList args;
        if (::geteuid() != 0) {
            program = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
            if (program.isEmpty())
                fail(QCoreApplication::translate("HostsGuard", "找不到pkexec，无法修改hosts文件！"));
            args << guardPath_;
        }
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        // pkexec refuses a SHELL that /etc/shells does not list; the guard needs none.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
        process_.setProcessEnvironment(env);
        process_.start(program, args);
        if (!process_.waitForStarted(kCommandTimeoutMs))
            fail(QCoreApplication::translate("HostsGuard", "无法启动hosts文件守护程序：") + process_.errorString());
        return answer(kStartTimeoutMs);
    }

    proto::Answer ask(const std::string &command, int timeoutMs)
    {
        process_.write(command.data(), qint64(command.size()));
        return answer(timeoutMs);
    }

    // Runs the event loop until `done` or the time is up; the window keeps painting meanwhile.
    template <class F>
    void waitUntil(F done, int timeoutMs)
    {
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (done() || timer_.hasExpired(timeoutMs))
                loop.quit();
        });
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, [&] {
            if (done())
                loop.quit();
        });
        QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
        timer_.start();
        if (done())
            return;
        tick.start(50);
        waiting_ = true;
        loop.exec();
        waiting_ = false;
    }

    proto::Answer answer(int timeoutMs)
    {
        const auto line = [this] { return process_.canReadLine(); };
        waitUntil([&] { return line() || process_.state() == QProcess::NotRunning; }, timeoutMs);
        if (closeRequested_)
            return {true, {}}; // the close has restored meanwhile

        if (process_.canReadLine()) {
            const QByteArray text = process_.readLine().chopped(1);
            if (const auto a = proto::parseAnswer(std::string_view(text.constData(), std::size_t(text.size()))))
                return *a;
            fail(QCoreApplication::translate("HostsGuard", "hosts文件守护程序的应答无法识别：") + QString::fromUtf8(text));
        }
        if (process_.state() != QProcess::NotRunning)
            fail(QCoreApplication::translate("HostsGuard", "hosts文件守护程序没有应答"));
        // pkexec says why it did not run the guard: refused, dismissed, not found.
        QString why = QString::fromLocal8Bit(process_.readAllStandardError()).trimmed();
        if (why.isEmpty())
            why = QStringLiteral("exit status %1").arg(process_.exitCode());
        fail(QCoreApplication::translate("HostsGuard", "无法修改hosts文件：") + why);
    }

    QString guardPath_;
    QProcess process_;
    QElapsedTimer timer_;
    bool waiting_ = false;
    bool closeRequested_ = false;
};

} // namespace

QString hostsGuardPath(const QString &programFolder) { return programFolder + QString::fromLatin1(kGuardName); }

QString hostsGuardAction(const QString &guardPath)
{
    const QString pkaction = QStandardPaths::findExecutable(QStringLiteral("pkaction"));
    if (!pkaction.isEmpty()) {
        const auto outcome = runProcess(pkaction, {QStringLiteral("--verbose"), QStringLiteral("--action-id"),
                                                   QString::fromLatin1(kInstalledAction)},
                                        10000);
        if (outcome && outcome->exitCode == 0) {
            const QString text = QString::fromLocal8Bit(outcome->output);
            for (const QString &line : text.split(QLatin1Char('\n'))) {
                const QString trimmed = line.trimmed();
                if (trimmed.startsWith(QStringLiteral("annotation:")) &&
                    trimmed.contains(QStringLiteral("org.freedesktop.policykit.exec.path")) &&
                    trimmed.endsWith(QStringLiteral("-> ") + guardPath))
                    return QString::fromLatin1(kInstalledAction);
            }
        }
    }
    return QString::fromLatin1(kGenericAction);
}

std::unique_ptr<IHostsGuard> makeHostsGuard(const QString &programFolder)
{
    return std::make_unique<GuardProcess>(hostsGuardPath(programFolder));
}

} // namespace bramblet::platform
