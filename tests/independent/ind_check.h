/* A tiny assertion helper for the independent C test programs, and the loader
 * that binds the driver to the independent host library. */
#ifndef IND_CHECK_H
#define IND_CHECK_H

#include <stddef.h>
#include <stdint.h>

#include <roderavo/kor.h>

#ifdef __cplusplus
extern "C" {
#endif

void ind_check_fail(const char* file, int line, const char* context, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
/* Exit status for main: 0 when every check passed. Prints a summary. */
int ind_check_done(const char* program);
/* A label printed with every failure until changed (e.g. the case being run). */
void ind_check_context(const char* context);
const char* ind_check_current_context(void);
unsigned ind_check_failures(void);

#define IND_CHECK(cond)                                                                            \
    do {                                                                                           \
        if (!(cond)) ind_check_fail(__FILE__, __LINE__, ind_check_current_context(), "%s", #cond); \
    } while (0)

#define IND_CHECK_INT(actual, expected)                                               \
    do {                                                                              \
        const long long ind_a_ = (long long)(actual), ind_e_ = (long long)(expected); \
        if (ind_a_ != ind_e_)                                                         \
            ind_check_fail(__FILE__, __LINE__, ind_check_current_context(),           \
                           "%s is %lld, expected %lld", #actual, ind_a_, ind_e_);     \
    } while (0)

#define IND_CHECK_STR(actual, expected) \
    ind_check_str(__FILE__, __LINE__, #actual, (actual), (expected))
void ind_check_str(const char* file, int line, const char* what, const char* actual,
                   const char* expected);

/* One expected log line. */
typedef struct {
    int32_t level;
    const char* text;
} IndExpectedLine;

/* Checks that the independent host's log holds exactly these lines, in order,
 * byte for byte. */
#define IND_CHECK_LOG(expected, count) ind_check_log(__FILE__, __LINE__, (expected), (count))
void ind_check_log(const char* file, int line, const IndExpectedLine* expected, size_t count);

/* Loads the driver with dlopen (the path built in, or $RODERAVO_DRIVER), checks that
 * its host-library calls bind to this independent libzanpro.so.1 and to no other,
 * and returns its KorMain. Exits the program with status 2 when any of that fails. */
typedef int32_t (*IndKorMain)(KorCall* call);
IndKorMain ind_load_driver(void);

/* Opens a pseudo-terminal in raw mode for the driver: stores the master side and
 * the slave's name as the driver takes it ("pts/N"), and closes the slave so the
 * driver holds the only slave descriptor. 1 on success, 0 otherwise. */
int ind_open_pty(int* master, char name[12]);

#ifdef __cplusplus
}
#endif

#endif /* IND_CHECK_H */
