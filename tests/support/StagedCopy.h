#pragma once

#include "TempRuntime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

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

} // namespace bramblet::test
