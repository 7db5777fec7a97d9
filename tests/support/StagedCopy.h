#pragma once

#include "TempRuntime.h"
#include "platform/processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <chrono>
#include <csignal>
#include <sys/types.h>

namespace bramblet::test {

// Copies a file of the staged program folder (the program, Lib/Ostrel, Lib/libVeldrin.so)
// into `folder`, keeping its mode. A copy of its own gives each test a path that no other
// test's processes run from, so finding processes by path finds only the test's own.
inline bool copyStaged(const QString &relative, const QString &folder)
{
    const QString target = QDir(folder).filePath(relative);
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    return QFile::copy(stageDir() + QLatin1Char('/') + relative, target);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Lines of a log file, the empty line after the last break dropped.
inline QList<QByteArray> logLines(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Ends every process that runs one of a program copy's executables: the program, the local
// server it started, its hosts guard. SIGTERM first (a guard then puts the hosts file back),
// SIGKILL for what is left, each by its own process id. A copy's own paths reach only the
// test's own processes.
inline void endProgramsIn(const QString &programDir)
{
    for (const char *file : {"Bramblet", "Lib/Ostrel", "bramblet-hosts-guard"}) {
        const QString path = QDir(programDir).filePath(QString::fromLatin1(file));
        platform::endProgram(path, std::chrono::seconds(5));
        for (const qint64 pid : platform::processesRunning(path))
            if (pid > 0)
                ::kill(pid_t(pid), SIGKILL);
    }
}

} // namespace bramblet::test
