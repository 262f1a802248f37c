/* The independent host library: clients, gates, stores and the log, all in
 * fixed tables so a test can look at everything afterwards. */
#include "ind_host.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <zanpro/zanpro.h>

#ifdef _WIN32
/* ZANPRO.dll of a foreign Windows host (tests/win32). */
#define IND_EXPORT __declspec(dllexport)
#else
#define IND_EXPORT __attribute__((visibility("default")))
#endif

typedef struct {
    int used;
    char name[64];
} IndClient;

typedef struct {
    uint32_t instance;
    char address[64];
    int has_value;
    double value;
    int has_text;
    char text[IND_MAX_TEXT];
    uint32_t stores;
} IndGate;

typedef struct {
    int32_t level;
    char text[IND_MAX_TEXT];
} IndLine;

static IndClient clients[IND_MAX_CLIENTS];
static IndGate gates[IND_MAX_GATES];
static size_t gate_count;
static IndLine lines[IND_MAX_LOG];
static size_t line_count;
static size_t lines_cut;
static int16_t fail_next_mkclient;
static int echo;

static int same_address(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = toupper((unsigned char)*a);
        const int cb = toupper((unsigned char)*b);
        if (ca != cb) return 0;
        if (ca == 0) return 1;
    }
}

static IndGate* gate_by_id(uint32_t id) {
    if (id == 0 || id > gate_count) return NULL;
    return &gates[id - 1];
}

static int client_exists(uint32_t id) {
    return id > 0 && id < IND_MAX_CLIENTS && clients[id].used;
}

static void copy_text(char* to, size_t size, const char* from) {
    const size_t n = strlen(from);
    if (n >= size) ++lines_cut;
    snprintf(to, size, "%s", from);
}

IND_EXPORT void ind_reset(void) {
    memset(clients, 0, sizeof clients);
    memset(gates, 0, sizeof gates);
    gate_count = 0;
    memset(lines, 0, sizeof lines);
    line_count = 0;
    lines_cut = 0;
    fail_next_mkclient = 0;
}

IND_EXPORT uint32_t ind_add_gate(uint32_t instance, const char* address) {
    size_t i;
    if (address == NULL || strlen(address) >= sizeof gates[0].address) return 0;
    for (i = 0; i < gate_count; ++i)
        if (gates[i].instance == instance && same_address(gates[i].address, address))
            return (uint32_t)(i + 1);
    if (gate_count == IND_MAX_GATES) return 0;
    memset(&gates[gate_count], 0, sizeof gates[0]);
    gates[gate_count].instance = instance;
    snprintf(gates[gate_count].address, sizeof gates[0].address, "%s", address);
    ++gate_count;
    return (uint32_t)gate_count;
}

IND_EXPORT int ind_gate_value(uint32_t gate_id, double* value) {
    const IndGate* g = gate_by_id(gate_id);
    if (g == NULL || !g->has_value) return 0;
    if (value != NULL) *value = g->value;
    return 1;
}

IND_EXPORT const char* ind_gate_text(uint32_t gate_id) {
    const IndGate* g = gate_by_id(gate_id);
    return (g == NULL || !g->has_text) ? NULL : g->text;
}

IND_EXPORT uint32_t ind_gate_stores(uint32_t gate_id) {
    const IndGate* g = gate_by_id(gate_id);
    return g == NULL ? 0 : g->stores;
}

IND_EXPORT const char* ind_client_name(uint32_t client_id) {
    return client_exists(client_id) ? clients[client_id].name : NULL;
}

IND_EXPORT size_t ind_client_count(void) {
    size_t n = 0, i;
    for (i = 1; i < IND_MAX_CLIENTS; ++i) n += clients[i].used ? 1u : 0u;
    return n;
}

IND_EXPORT void ind_fail_next_mkclient(int16_t result) {
    fail_next_mkclient = result;
}

IND_EXPORT size_t ind_log_count(void) {
    return line_count;
}

IND_EXPORT int32_t ind_log_level(size_t index) {
    return index < line_count ? lines[index].level : -1;
}

IND_EXPORT const char* ind_log_text(size_t index) {
    return index < line_count ? lines[index].text : NULL;
}

IND_EXPORT void ind_log_clear(void) {
    line_count = 0;
}

IND_EXPORT size_t ind_log_cut(void) {
    return lines_cut;
}

IND_EXPORT void ind_log_echo(int on) {
    echo = on;
}

/* The host library's six functions. */

IND_EXPORT int16_t ZanMkClient(const char* name, int32_t kind, int32_t flags, uint8_t* clientId) {
    uint32_t id, free_id = 0;
    (void)kind;
    (void)flags;
    if (fail_next_mkclient != 0) {
        const int16_t result = fail_next_mkclient;
        fail_next_mkclient = 0;
        return result;
    }
    if (name == NULL || clientId == NULL || strlen(name) >= sizeof clients[0].name) return 1;
    for (id = 1; id < IND_MAX_CLIENTS; ++id) {
        if (clients[id].used && strcmp(clients[id].name, name) == 0) return 2;
        if (!clients[id].used && free_id == 0) free_id = id;
    }
    if (free_id == 0) return 3;
    clients[free_id].used = 1;
    snprintf(clients[free_id].name, sizeof clients[0].name, "%s", name);
    *clientId = (uint8_t)free_id;
    return 0;
}

IND_EXPORT int16_t ZanRmClient(uint32_t clientId) {
    if (!client_exists(clientId)) return 1;
    memset(&clients[clientId], 0, sizeof clients[0]);
    return 0;
}

IND_EXPORT int16_t ZanGetGateIdByAddressStr(uint32_t clientId, uint32_t instance,
                                            const char* address, uint32_t* gateId) {
    size_t i;
    if (address == NULL || gateId == NULL) return 1;
    if (!client_exists(clientId)) return 2;
    for (i = 0; i < gate_count; ++i) {
        if ((gates[i].instance & 0xFFu) == (instance & 0xFFu) &&
            same_address(gates[i].address, address)) {
            *gateId = (uint32_t)(i + 1);
            return 0;
        }
    }
    return 3;
}

IND_EXPORT int16_t ZanPutGateVal(uint32_t clientId, uint32_t gateId, int32_t mode, double value,
                                 int32_t a, int32_t b) {
    IndGate* g = gate_by_id(gateId);
    (void)mode;
    (void)a;
    (void)b;
    if (!client_exists(clientId) || g == NULL) return 1;
    g->has_value = 1;
    g->value = value;
    ++g->stores;
    return 0;
}

IND_EXPORT int16_t ZanPutGateStr(uint32_t clientId, uint32_t gateId, int32_t mode, const char* text,
                                 int32_t a, int32_t b) {
    IndGate* g = gate_by_id(gateId);
    (void)mode;
    (void)a;
    (void)b;
    if (!client_exists(clientId) || g == NULL || text == NULL) return 1;
    g->has_text = 1;
    copy_text(g->text, sizeof g->text, text);
    ++g->stores;
    return 0;
}

IND_EXPORT void err(int32_t level, const char* format, ...) {
    char text[IND_MAX_TEXT];
    va_list args;
    int n;
    if (format == NULL) return;
    va_start(args, format);
    n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    if (n >= (int)sizeof text) ++lines_cut;
    if (echo) fprintf(stderr, "[%d] %s\n", (int)level, text);
    if (line_count == IND_MAX_LOG) {
        ++lines_cut;
        return;
    }
    lines[line_count].level = level;
    memcpy(lines[line_count].text, text, sizeof text);
    ++line_count;
}
