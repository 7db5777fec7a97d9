#pragma once

#include "external/companion.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace bramblet::test {

// Records the calls into the companion library as text, the record bytes in hexadecimal.
class RecordingCompanion : public external::ICompanionLibrary {
public:
    void MessageF(const char *ownAddress, std::uint16_t ownPort, const char *peerAddress,
                  std::uint16_t peerPort) override
    {
        calls << QStringLiteral("MessageF %1 %2 %3 %4")
                     .arg(QString::fromLatin1(ownAddress))
                     .arg(ownPort)
                     .arg(QString::fromLatin1(peerAddress))
                     .arg(peerPort);
    }
    void MessageE(std::uint32_t socket, const unsigned char *record, std::uint16_t length,
                  std::uint32_t *userWord) override
    {
        const QByteArray bytes(reinterpret_cast<const char *>(record), 24 + length);
        calls << QStringLiteral("MessageE %1 %2 %3").arg(socket).arg(length).arg(QString::fromLatin1(bytes.toHex()));
        userWords << userWord;
        sockets << socket;
    }
    void ResetPlayer(std::uint32_t socket) override
    {
        calls << QStringLiteral("ResetPlayer %1").arg(socket);
        sockets << socket;
    }

    QStringList calls;
    QList<std::uint32_t *> userWords;
    QList<std::uint32_t> sockets;
};

} // namespace bramblet::test
