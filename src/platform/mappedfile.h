#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

namespace bramblet::platform {

// A regular file's bytes, mapped read-only: only the pages that are looked at are ever
// read, however large the file. Anything else (missing, a directory, a FIFO, a device) gives
// no bytes, and opening never waits for a writer or a device.
class MappedFile {
public:
    explicit MappedFile(const QString &path);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    std::span<const std::uint8_t> bytes() const { return { data_, size_ }; }

private:
    const std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    void *handle_ = nullptr; // what the system needs to release the mapping
};

} // namespace bramblet::platform
