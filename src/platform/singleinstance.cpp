#include "platform/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace bramblet::platform {

SingleInstance::SingleInstance(const QString &name, const QString &folder) : name_(name), folder_(folder) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const { return QDir(folder_).filePath(name_ + QStringLiteral(".lock")); }

QString SingleInstance::socketPath() const { return QDir(folder_).filePath(name_); }

bool SingleInstance::anotherCopyAnswers() const
{
    QLocalSocket probe;
    probe.connectToServer(socketPath());
    const bool answered = probe.waitForConnected(500);
    probe.abort();
    return answered;
}

bool SingleInstance::acquire()
{
    // A live copy always answers on its socket, even while its window is hidden.
    if (anotherCopyAnswers())
        return false;
    lock_ = std::make_unique<QLockFile>(lockPath());
    // A lock left by a killed copy names a dead process and is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left behind belongs to a dead copy.
    QLocalServer::removeServer(socketPath());
    server_->listen(socketPath());
    return true;
}

} // namespace bramblet::platform
