#pragma once

#include "external/VeldrinApi.h"

#include <QString>

#include <cstdint>
#include <memory>

class QLibrary;

namespace bramblet::external {

// The calls into the companion library, behind an interface so tests can record them.
class ICompanionLibrary {
public:
    virtual ~ICompanionLibrary() = default;
    virtual void MessageF(const char *ownAddress, std::uint16_t ownPort, const char *peerAddress,
                          std::uint16_t peerPort) = 0;
    virtual void MessageE(std::uint32_t socket, const unsigned char *record, std::uint16_t length,
                          std::uint32_t *userWord) = 0;
    virtual void ResetPlayer(std::uint32_t socket) = 0;
};

// Lib/libVeldrin.so (Lib\Veldrin.dll) in the program's folder.
QString companionLibraryPath(const QString &programFolder);

// The loaded library. The program does not run without it.
class CompanionLibrary : public ICompanionLibrary {
public:
    // Loads the library and binds its three exports; throws bramblet::Error with a text for
    // the user that names the file and what is wrong with it.
    explicit CompanionLibrary(const QString &path);
    ~CompanionLibrary() override;
    CompanionLibrary(const CompanionLibrary &) = delete;
    CompanionLibrary &operator=(const CompanionLibrary &) = delete;

    void MessageF(const char *ownAddress, std::uint16_t ownPort, const char *peerAddress,
                  std::uint16_t peerPort) override;
    void MessageE(std::uint32_t socket, const unsigned char *record, std::uint16_t length,
                  std::uint32_t *userWord) override;
    void ResetPlayer(std::uint32_t socket) override;

private:
    std::unique_ptr<QLibrary> library_;
    VeldrinMessageF messageF_ = nullptr;
    VeldrinMessageE messageE_ = nullptr;
    VeldrinResetPlayer resetPlayer_ = nullptr;
};

} // namespace bramblet::external
