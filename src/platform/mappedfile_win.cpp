#include "platform/mappedfile.h"

#include <QFile>
#include <QFileInfo>

namespace bramblet::platform {

MappedFile::MappedFile(const QString &path)
{
    // Devices and pipes have names of their own here and are no regular files.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
    auto *file = new QFile(path);
    uchar *p = nullptr;
    if (file->open(QIODevice::ReadOnly) && file->size() > 0)
        p = file->map(0, file->size());
    if (!p) {
        delete file;
        return;
    }
    data_ = p;
    size_ = static_cast<std::size_t>(file->size());
    handle_ = file;
}

MappedFile::~MappedFile()
{
    delete static_cast<QFile *>(handle_);
}

} // namespace bramblet::platform
