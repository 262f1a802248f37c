/* The host side of the reference host library as C functions, for hosts in C
 * (or any language that calls C): register the gates a driver fills, read back
 * their values and texts, and read the log. libzanpro.so.1 and ZANPRO.dll export
 * them alike. The project's own C++ API (zanpro/host.h) offers the same; on
 * Windows it is built over these in the host's program (the zanpro_host library).
 * Texts are copied into the caller's buffer, cut to its size; the result is the
 * whole text's length plus one, or 0 when there is no text. */
#ifndef ZANPRO_ZANPRO_HOST_H
#define ZANPRO_ZANPRO_HOST_H

#include <stddef.h>
#include <stdint.h>

#include <zanpro/zanpro.h>

#ifdef __cplusplus
extern "C" {
#endif

ZANPRO_API uint32_t ZanHostAddGate(uint32_t instance, const char* address);
/* 1 and *gateId set when found, else 0. */
ZANPRO_API int ZanHostFindGate(uint32_t instance, const char* address, uint32_t* gateId);
ZANPRO_API int ZanHostRemoveGate(uint32_t gateId);
/* 1 and *value set when the gate holds a number, else 0. */
ZANPRO_API int ZanHostGateValue(uint32_t gateId, double* value);
ZANPRO_API size_t ZanHostGateText(uint32_t gateId, char* buffer, size_t size);
ZANPRO_API uint32_t ZanHostGateStores(uint32_t gateId);
ZANPRO_API uint64_t ZanHostGateLookups(void);

ZANPRO_API size_t ZanHostClientName(uint32_t clientId, char* buffer, size_t size);

/* One log line; text is zero-terminated and valid for the call only. */
typedef void (*ZanHostLineFunction)(int32_t level, const char* text, size_t length, void* context);
/* Calls visit for every kept line, in order; take clears them afterwards. */
ZANPRO_API void ZanHostVisitLog(ZanHostLineFunction visit, void* context, int take);
ZANPRO_API void ZanHostClearLog(void);
/* How many lines the kept log holds (the last ones). */
ZANPRO_API void ZanHostSetLogCapacity(size_t lines);
ZANPRO_API size_t ZanHostLogCapacity(void);
/* A null sink restores the default (stderr). */
ZANPRO_API void ZanHostSetLogSink(ZanHostLineFunction sink, void* context);
ZANPRO_API void ZanHostShowTraces(int show);
ZANPRO_API void ZanHostKeepLog(int keep);
ZANPRO_API void ZanHostReset(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZANPRO_ZANPRO_HOST_H */
