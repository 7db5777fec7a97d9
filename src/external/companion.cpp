#include "external/companion.h"

#include "core/errors.h"
#include "platform/components.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace bramblet::external {

QString companionLibraryPath(const QString &programFolder)
{
    return QDir::toNativeSeparators(programFolder + platform::companionLibraryRelativePath());
}

namespace {

[[noreturn]] void refuse(const QString &path, const QString &reason)
{
    throw Error(QCoreApplication::translate("CompanionLibrary", "无法加载组件库 %1：%2").arg(path, reason).toStdString());
}

template <class T>
T bind(QLibrary &library, const QString &path, const char *name)
{
    const QFunctionPointer f = library.resolve(name);
    if (!f)
        refuse(path, QCoreApplication::translate("CompanionLibrary", "缺少导出函数 %1").arg(QString::fromLatin1(name)));
    return reinterpret_cast<T>(f);
}

} // namespace

CompanionLibrary::CompanionLibrary(const QString &path) : library_(std::make_unique<QLibrary>(path))
{
    if (!QFileInfo(path).isFile())
        refuse(path, QCoreApplication::translate("CompanionLibrary", "文件不存在"));
    // Everything is bound now, so a library that cannot serve a link never starts one.
    library_->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library_->load())
        refuse(path, library_->errorString());
    messageF_ = bind<VeldrinMessageF>(*library_, path, "MessageF");
    messageE_ = bind<VeldrinMessageE>(*library_, path, "MessageE");
    resetPlayer_ = bind<VeldrinResetPlayer>(*library_, path, "ResetPlayer");
}

CompanionLibrary::~CompanionLibrary() = default;

void CompanionLibrary::MessageF(const char *ownAddress, std::uint16_t ownPort, const char *peerAddress,
                                std::uint16_t peerPort)
{
    messageF_(ownAddress, ownPort, peerAddress, peerPort);
}

void CompanionLibrary::MessageE(std::uint32_t socket, const unsigned char *record, std::uint16_t length,
                                std::uint32_t *userWord)
{
    messageE_(socket, record, length, userWord);
}

void CompanionLibrary::ResetPlayer(std::uint32_t socket) { resetPlayer_(socket); }

} // namespace bramblet::external
