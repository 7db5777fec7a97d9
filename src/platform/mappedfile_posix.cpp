#include "platform/mappedfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace bramblet::platform {

MappedFile::MappedFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return;
    // Non-blocking, so that a FIFO without a writer or a device cannot hold the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
        && static_cast<unsigned long long>(st.st_size) <= std::numeric_limits<std::size_t>::max()) {
        const auto size = static_cast<std::size_t>(st.st_size);
        void *p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            data_ = static_cast<const std::uint8_t *>(p);
            size_ = size;
            handle_ = p;
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile()
{
    if (handle_)
        ::munmap(handle_, size_);
}

} // namespace bramblet::platform
