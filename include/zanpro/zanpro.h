/* The host library ZANPRO: clients, gates, values and the log.
 * On Linux it is the shared library libzanpro.so.1; its functions carry the
 * ELF version node ZANPRO_1. A host may ship its own library with the same soname
 * and version node. On Windows it is ZANPRO.dll, whose functions are cdecl and
 * exported undecorated; a host may ship its own ZANPRO.dll with these six. */
#ifndef ZANPRO_ZANPRO_H
#define ZANPRO_ZANPRO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(ZANPRO_BUILDING)
#define ZANPRO_API __declspec(dllexport)
#elif defined(_WIN32)
#define ZANPRO_API __declspec(dllimport)
#elif defined(ZANPRO_BUILDING)
#define ZANPRO_API __attribute__((visibility("default")))
#else
#define ZANPRO_API
#endif

#if defined(__GNUC__)
#define ZANPRO_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ZANPRO_PRINTF(f, a)
#endif

/* Creates a client; stores its id (1..255). 0 on success. */
ZANPRO_API int16_t ZanMkClient(const char* name, int32_t kind, int32_t flags, uint8_t* clientId);
/* Removes a client. 0 on success. */
ZANPRO_API int16_t ZanRmClient(uint32_t clientId);
/* Finds a gate by its address text under an instance number. 0 when found. */
ZANPRO_API int16_t ZanGetGateIdByAddressStr(uint32_t clientId, uint32_t instance,
                                            const char* address, uint32_t* gateId);
/* Stores a number into a gate. 0 when stored. */
ZANPRO_API int16_t ZanPutGateVal(uint32_t clientId, uint32_t gateId, int32_t mode, double value,
                                 int32_t a, int32_t b);
/* Stores a text into a gate. 0 when stored. */
ZANPRO_API int16_t ZanPutGateStr(uint32_t clientId, uint32_t gateId, int32_t mode, const char* text,
                                 int32_t a, int32_t b);
/* Writes one line to the host's log: level 8 trace, 32 error or event. */
ZANPRO_API void err(int32_t level, const char* format, ...) ZANPRO_PRINTF(2, 3);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZANPRO_ZANPRO_H */
