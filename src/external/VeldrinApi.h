/* The companion library's three exports, shared by the binding and our stand-in. Plain C:
   the library may be written in any language. Addresses are zero-terminated dotted quads
   in 16-byte buffers; every buffer belongs to the caller and lives only during the call. */
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define VELDRIN_CALL __stdcall
#else
#define VELDRIN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A link's two ends: this side's address and UDP port, then the peer's. */
typedef void(VELDRIN_CALL *VeldrinMessageF)(const char *ownAddress, uint16_t ownPort, const char *peerAddress,
                                            uint16_t peerPort);
/* One player record, unscrambled, header included (24 + length bytes), and the connection's
   own 32-bit word, which the library may read and change for as long as the connection lives. */
typedef void(VELDRIN_CALL *VeldrinMessageE)(uint32_t socket, const unsigned char *record, uint16_t length,
                                            uint32_t *userWord);
/* The player on that connection is gone. */
typedef void(VELDRIN_CALL *VeldrinResetPlayer)(uint32_t socket);

#ifdef __cplusplus
}
#endif
