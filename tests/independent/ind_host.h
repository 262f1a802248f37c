/* The independent test host: a second, separate implementation of the host
 * library libzanpro.so.1 (version node ZANPRO_1), written in plain C, that keeps
 * everything the driver hands it so a C test program can check it byte for byte.
 *
 * Besides the six host functions it exports a small API for the test programs
 * under the version node IND_HOST_1. Gate addresses match case-insensitively
 * (ASCII letters only); gates are found by the low 8 bits of their instance
 * number, as the driver passes them. */
#ifndef IND_HOST_H
#define IND_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IND_MAX_CLIENTS 256 /* ids 1..255 */
#define IND_MAX_GATES 1024
#define IND_MAX_LOG 8192
#define IND_MAX_TEXT 512 /* longer log lines and texts are cut, ind_log_cut() counts them */

/* Forgets every client, gate, log line and armed failure. */
void ind_reset(void);

/* Gates. ind_add_gate returns the gate id (1..), or 0 when the table is full.
 * Registering the same instance and address again returns the same id. */
uint32_t ind_add_gate(uint32_t instance, const char* address);
/* 1 and *value set when the gate holds a number, else 0. */
int ind_gate_value(uint32_t gate_id, double* value);
/* The gate's text, or NULL when none was stored. */
const char* ind_gate_text(uint32_t gate_id);
/* Number of stores (numbers and texts) the gate received. */
uint32_t ind_gate_stores(uint32_t gate_id);

/* Clients: the name of client id, or NULL. */
const char* ind_client_name(uint32_t client_id);
size_t ind_client_count(void);
/* The next ZanMkClient call fails with the given result (non-zero), once. */
void ind_fail_next_mkclient(int16_t result);

/* The log: every err line, printf-formatted, with its level. */
size_t ind_log_count(void);
int32_t ind_log_level(size_t index);    /* -1 past the end */
const char* ind_log_text(size_t index); /* NULL past the end */
void ind_log_clear(void);
size_t ind_log_cut(void); /* lines cut or dropped for size */
/* When on, every line is also written to stderr as "[level] text". */
void ind_log_echo(int on);

#ifdef __cplusplus
}
#endif

#endif /* IND_HOST_H */
