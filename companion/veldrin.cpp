// Stand-in for the companion library: it records each call, one line per call, and does
// nothing else. Lines: "MessageF<TAB>own=A<TAB>ownPort=N<TAB>peer=A<TAB>peerPort=N",
// "MessageE<TAB>socket=N<TAB>length=N<TAB>userWord=N<TAB>record=HEX" (24 + length bytes),
// "ResetPlayer<TAB>socket=N".
#include "companionlog.h"
#include "external/VeldrinApi.h"

#include <cstring>
#include <string>

#define VELDRIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Addresses arrive in 16-byte buffers; never read past them, even without a terminator.
std::string address(const char *buffer)
{
    if (!buffer)
        return "(null)";
    return companion::escaped(std::string(buffer, strnlen(buffer, 16)));
}

} // namespace

VELDRIN_EXPORT void MessageF(const char *ownAddress, uint16_t ownPort, const char *peerAddress, uint16_t peerPort)
{
    if (!companion::logging())
        return;
    companion::writeLine("MessageF\town=" + address(ownAddress) + "\townPort=" + std::to_string(ownPort) +
                         "\tpeer=" + address(peerAddress) + "\tpeerPort=" + std::to_string(peerPort));
}

// The connection's word counts the records seen on it: the log then shows whether every
// call of one connection gets the same word (1, 2, 3, ...) as the library relies on.
VELDRIN_EXPORT void MessageE(uint32_t socket, const unsigned char *record, uint16_t length, uint32_t *userWord)
{
    const std::string word = userWord ? std::to_string(*userWord) : "(null)";
    if (userWord)
        ++*userWord;
    if (!companion::logging())
        return;
    companion::writeLine("MessageE\tsocket=" + std::to_string(socket) + "\tlength=" + std::to_string(length) +
                         "\tuserWord=" + word + "\trecord=" +
                         (record ? companion::hex(record, 24u + length) : std::string("(null)")));
}

VELDRIN_EXPORT void ResetPlayer(uint32_t socket)
{
    if (!companion::logging())
        return;
    companion::writeLine("ResetPlayer\tsocket=" + std::to_string(socket));
}
