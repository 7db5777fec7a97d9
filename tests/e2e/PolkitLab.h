#pragma once

// A machine of its own for the real polkit (polkitlab.sh): a system bus and polkitd in the
// private /etc of a program copy installed for every user, with test users and a rule
// added. The program runs as those users in namespace plA (10.78.0.1); plB (10.78.0.2) holds
// the peer.

#include "harness.h"

#include <sys/types.h>

namespace bramblet::e2e {

class PolkitLab {
public:
    struct User {
        QString name;
        uid_t uid;
    };

    ~PolkitLab() { end(); }

    ProgramCopy copy;

    // Empty once the users, the rule and `hosts` are in the private /etc and polkit answers.
    QString start(const QList<User> &users, const QString &rule, const QByteArray &hosts)
    {
        QString why = copy.prepare(hosts, true);
        if (!why.isEmpty())
            return why;
        const QString etc = copy.etcDir();
        QByteArray passwd, group, shadow;
        for (const User &u : users) {
            passwd += QStringLiteral("%1:x:%2:%2::/nonexistent:/bin/sh\n").arg(u.name).arg(u.uid).toUtf8();
            group += QStringLiteral("%1:x:%2:\n").arg(u.name).arg(u.uid).toUtf8();
            shadow += QStringLiteral("%1:!:19000::::::\n").arg(u.name).toUtf8();
        }
        if (!QDir().mkpath(etc + QStringLiteral("/polkit-1/rules.d")) ||
            !writeAll(etc + QStringLiteral("/passwd"), readAll(QStringLiteral("/etc/passwd")) + passwd) ||
            !writeAll(etc + QStringLiteral("/group"), readAll(QStringLiteral("/etc/group")) + group) ||
            !writeAll(etc + QStringLiteral("/shadow"), readAll(QStringLiteral("/etc/shadow")) + shadow) ||
            !writeAll(etc + QStringLiteral("/polkit-1/rules.d/10-bramblet-test.rules"), rule.toUtf8()) ||
            sh(QStringLiteral("chmod 0644 '%1/passwd' '%1/group'; chown root:shadow '%1/shadow'; chmod 0640 '%1/shadow'").arg(etc))
                    .exitCode != 0)
            return QStringLiteral("cannot prepare the lab machine's /etc");
        machine_.setProcessChannelMode(QProcess::SeparateChannels);
        startWithPrivateEtc(machine_, copy.root(), {QStringLiteral("/bin/sh"), QStringLiteral(BRAMBLET_POLKITLAB), copy.root()});
        if (!machine_.waitForStarted(10000) || answer(60000) != QStringLiteral("ready"))
            return QStringLiteral("the lab machine did not come up: ") + QString::fromLocal8Bit(machine_.readAllStandardError());
        return {};
    }

    // One command to the lab machine and its answer, empty when none came.
    QString ask(const QString &line, int timeoutMs = 15000)
    {
        machine_.write((line + QLatin1Char('\n')).toUtf8());
        return answer(timeoutMs);
    }

    // The files of `user`'s run of the program.
    ProgramSession session(const User &user) const { return {copy.root() + QLatin1Char('/') + user.name}; }

    // The program as `user` in plA on `display`, with its session's environment and `extraEnv`;
    // its process id, or 0.
    qint64 startProgram(const User &user, const QString &display, const QStringList &extraEnv = {})
    {
        const ProgramSession s = session(user);
        const QString env = s.home + QStringLiteral("/env");
        if (!s.make() || !writeAll(env, (s.environment(display) + extraEnv).join(QLatin1Char(' ')).toUtf8()) ||
            sh(QStringLiteral("chown -R %1:%1 '%2'").arg(user.uid).arg(s.home)).exitCode != 0)
            return 0;
        return pidOf(ask(QStringLiteral("gui %1 plA %2 %3/Bramblet %4").arg(user.name, display, copy.programDir(), env)));
    }

    // A connect dialog as CLIENT in plB, meeting the program; its output in `outFile`.
    bool startPeer(const QString &helper, const QString &outFile)
    {
        return pidOf(ask(QStringLiteral("peer plB 10.78.0.1 %1 %2").arg(helper, outFile))) > 0;
    }

    // Ends the machine (and with it all it started), then whatever the program started.
    void end()
    {
        machine_.closeWriteChannel();
        if (!machine_.waitForFinished(20000))
            endProcess(machine_, 5000);
        copy.stop();
    }

private:
    QString answer(int timeoutMs)
    {
        if (!waitFor([&] { machine_.waitForReadyRead(50); return machine_.canReadLine() || machine_.state() == QProcess::NotRunning; },
                     timeoutMs))
            return {};
        return QString::fromUtf8(machine_.readLine()).trimmed();
    }
    static qint64 pidOf(const QString &answer)
    {
        return answer.startsWith(QStringLiteral("pid ")) ? answer.mid(4).toLongLong() : 0;
    }

    QProcess machine_;
};

} // namespace bramblet::e2e
