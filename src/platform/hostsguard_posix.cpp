#include "platform/hostsguard.h"

#include "core/errors.h"
#include "core/guardprotocol.h"
#include "core/hostsfile.h"
#include "platform/eventwait.h"
#include "platform/hostsfile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace bramblet::platform {

namespace proto = guardprotocol;

namespace {

constexpr const char *kGuardName = "bramblet-hosts-guard";
constexpr const char *kInstalledAction = "org.bramblet.hosts-guard";
constexpr const char *kGenericAction = "org.freedesktop.policykit.exec";

constexpr const char *kPkexec = "/usr/bin/pkexec";

// The first answer may wait for the player to type a password.
constexpr int kStartTimeoutMs = 120000;
constexpr int kCommandTimeoutMs = 30000;
// A restore of a hosts file of many megabytes on slow media takes what it takes; the window
// keeps running meanwhile, and only a guard that ended or hangs this long is given up.
constexpr int kRestoreTimeoutMs = 600000;

[[noreturn]] void fail(const QString &text) { throw Error(text.toStdString()); }

// The guard's error answer in the player's words where it is one the player can act on.
QString answerText(const std::string &text)
{
    if (text == proto::kBusyError)
        return QCoreApplication::translate("HostsGuard", "这台电脑上已经有另一个联机在运行（可能是另一个用户或另一个窗口）。请先结束那个联机，再重试。");
    return QString::fromStdString(text);
}

class GuardProcess : public IHostsGuard {
public:
    // An empty `hostsPath`: the system's. A test build of the guard acts on the file "hosts"
    // in the folder it starts in, so it is started in the folder of `hostsPath`.
    GuardProcess(QString guardPath, std::filesystem::path hostsPath)
        : guardPath_(std::move(guardPath)), hostsPath_(std::move(hostsPath))
    {
    }

    ~GuardProcess() override
    {
        // The guard restores when its input ends; it is not ours to kill (it runs as root).
        // By now the close has restored, so it ends at once.
        QObject::disconnect(&process_, nullptr, nullptr, nullptr);
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            process_.waitForFinished(10000);
        }
    }

    std::filesystem::path hostsPath() const override
    {
        return hostsPath_.empty() ? platform::hostsPath() : hostsPath_;
    }

    hosts::BackupState backupState() override
    {
        // Reading is all the player's own user needs to do here.
        return hosts::HostsRedirect(hostsPath(), hostsStyle(), hostsFileOps()).backupState();
    }

    hosts::Restored restoreStale() override
    {
        const proto::Answer first = start();
        if (!first.ok)
            fail(answerText(first.text));
        return restoredBy(first);
    }

    void redirect(const QString &gatewayAddress, const QString &stunAddress) override
    {
        const proto::Answer first = start();
        if (!first.ok)
            fail(answerText(first.text));
        const proto::Answer a = ask(proto::redirectCommand(gatewayAddress.toStdString(), stunAddress.toStdString()),
                                    kCommandTimeoutMs);
        if (!a.ok)
            fail(answerText(a.text));
        linked_ = true;
    }

    hosts::Restored restore() override
    {
        linked_ = false;
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
                fail(answerText(a->text));
            return a ? restoredBy(*a) : hosts::Restored::Nothing;
        }
        if (process_.state() == QProcess::NotRunning) {
            const hosts::BackupState state = backupState();
            if (state == hosts::BackupState::None || state == hosts::BackupState::Foreign)
                return hosts::Restored::Nothing;
            const proto::Answer first = start();
            if (!first.ok)
                fail(answerText(first.text));
        }
        const proto::Answer a = ask(proto::kRestoreCommand, kRestoreTimeoutMs);
        waitUntil([this] { return process_.state() == QProcess::NotRunning; }, kRestoreTimeoutMs);
        if (!a.ok)
            fail(answerText(a.text));
        return restoredBy(a);
    }

private:
    static hosts::Restored restoredBy(const proto::Answer &a)
    {
        if (a.text == proto::kChangesKept)
            return hosts::Restored::ChangesKept;
        if (a.text == proto::kRepaired)
            return hosts::Restored::Repaired;
        return hosts::Restored::Backup;
    }

    // Starts the guard unless it runs; gives its first answer (the stale backup put back).
    proto::Answer start()
    {
        if (process_.state() != QProcess::NotRunning)
            return {true, {}};
        QString program = guardPath_;
        QStringList args;
        if (::geteuid() != 0) {
            // Root runs only what the player cannot have replaced: pkexec by its own path,
            // and a guard that is root's alone.
            program = QString::fromLatin1(kPkexec);
            if (!QFileInfo::exists(program))
                fail(QCoreApplication::translate("HostsGuard", "找不到pkexec，无法修改hosts文件！"));
            args << trustedGuardPath(guardPath_);
        }
        if (!watching_) {
            watching_ = true;
            QObject::connect(&process_, &QProcess::finished, &process_, [this] {
                if (linked_ && !waiting_ && died) {
                    linked_ = false;
                    died();
                }
            });
        }
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        // pkexec refuses a SHELL that /etc/shells does not list; the guard needs none.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
        process_.setProcessEnvironment(env);
        if (!hostsPath_.empty())
            process_.setWorkingDirectory(QString::fromStdString(hostsPath_.parent_path().string()));
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
    void waitUntil(const std::function<bool()> &done, int timeoutMs)
    {
        waiting_ = true;
        loopUntil(done, timeoutMs, 10);
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
        // pkexec says why it did not run the guard: refused, dismissed, no agent to ask.
        const QByteArray errors = process_.readAllStandardError();
        switch (proto::pkexecRefusal(process_.exitCode(), std::string_view(errors.constData(), std::size_t(errors.size())))) {
        case proto::PkexecRefusal::NoAgent:
            fail(QCoreApplication::translate("HostsGuard", "无法修改hosts文件：这个桌面没有运行输入管理员密码的程序（认证代理），所以无法询问密码。"
                    "请启动一个认证代理，或者以root身份运行本程序。"));
        case proto::PkexecRefusal::Dismissed:
            fail(QCoreApplication::translate("HostsGuard", "无法修改hosts文件：密码窗口被关闭了，没有输入密码。需要联机时请再试一次，并输入管理员密码。"));
        case proto::PkexecRefusal::NotAuthorized:
            fail(QCoreApplication::translate("HostsGuard", "无法修改hosts文件：系统拒绝了这个用户修改hosts文件的请求。请让本机管理员授权，或者以root身份运行本程序。"));
        case proto::PkexecRefusal::None:
            break;
        }
        QString why = QString::fromLocal8Bit(errors).trimmed();
        if (why.isEmpty())
            why = QStringLiteral("exit status %1").arg(process_.exitCode());
        fail(QCoreApplication::translate("HostsGuard", "无法修改hosts文件：") + why);
    }

    QString guardPath_;
    std::filesystem::path hostsPath_;
    QProcess process_;
    bool waiting_ = false;
    bool closeRequested_ = false;
    // A redirection is in place and its guard is expected to live.
    bool linked_ = false;
    bool watching_ = false;
};

} // namespace

QString trustedGuardPath(const QString &guardPath)
{
    try {
        return QString::fromStdString(followTrusted(guardPath.toStdString()).string());
    } catch (const std::exception &e) {
        throw Error(QCoreApplication::translate("HostsGuard", "hosts文件守护程序%1所在的位置不受保护（它或它上面的某个文件夹不只属于root），"
                       "本程序不会让它以管理员身份运行。请安装本程序的软件包，或者以root身份运行本程序。")
                        .arg(guardPath)
                        .toStdString() +
                    "\n" + e.what());
    }
}

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
    return std::make_unique<GuardProcess>(hostsGuardPath(programFolder), std::filesystem::path());
}

std::unique_ptr<IHostsGuard> makeTestBuildHostsGuard(const QString &guardPath, const QString &hostsPath)
{
    return std::make_unique<GuardProcess>(guardPath, std::filesystem::path(hostsPath.toStdString()));
}

} // namespace bramblet::platform
