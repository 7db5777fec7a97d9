#pragma once

#include <QString>

#include <memory>

class QLockFile;
class QLocalServer;

namespace bramblet::platform {

// One running copy per user and desktop. The first copy holds a lock and listens on a local
// socket, both named after the main window class; a later copy finds either and gives way.
class SingleInstance {
public:
    explicit SingleInstance(const QString &name, const QString &folder);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this is the only copy. A false result has changed nothing on disk.
    bool acquire();

    QString lockPath() const;
    QString socketPath() const;

private:
    bool anotherCopyAnswers() const;

    QString name_;
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace bramblet::platform
