#include "ind_check.h"

#include <dlfcn.h>
#include <link.h>
#include <pty.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "ind_host.h"

static unsigned failures;
static unsigned checks_failed_reported;
static const char* current_context = "";

void ind_check_context(const char* context) {
    current_context = context ? context : "";
}
const char* ind_check_current_context(void) {
    return current_context;
}
unsigned ind_check_failures(void) {
    return failures;
}

void ind_check_fail(const char* file, int line, const char* context, const char* fmt, ...) {
    va_list args;
    ++failures;
    if (++checks_failed_reported > 200) return;
    fprintf(stderr, "%s:%d: [%s] ", file, line, context);
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
}

void ind_check_str(const char* file, int line, const char* what, const char* actual,
                   const char* expected) {
    if (actual == NULL && expected == NULL) return;
    if (actual == NULL || expected == NULL || strcmp(actual, expected) != 0)
        ind_check_fail(file, line, current_context, "%s is \"%s\", expected \"%s\"", what,
                       actual ? actual : "(null)", expected ? expected : "(null)");
}

void ind_check_log(const char* file, int line, const IndExpectedLine* expected, size_t count) {
    size_t i;
    const size_t have = ind_log_count();
    if (have != count) {
        ind_check_fail(file, line, current_context, "log has %zu lines, expected %zu", have, count);
        for (i = 0; i < have; ++i)
            fprintf(stderr, "    got [%d] \"%s\"\n", (int)ind_log_level(i), ind_log_text(i));
        for (i = 0; i < count; ++i)
            fprintf(stderr, "    want [%d] \"%s\"\n", (int)expected[i].level, expected[i].text);
        return;
    }
    for (i = 0; i < count; ++i) {
        if (ind_log_level(i) != expected[i].level || strcmp(ind_log_text(i), expected[i].text))
            ind_check_fail(
                file, line, current_context, "log line %zu is [%d] \"%s\", expected [%d] \"%s\"", i,
                (int)ind_log_level(i), ind_log_text(i), (int)expected[i].level, expected[i].text);
    }
}

int ind_check_done(const char* program) {
    if (failures == 0) {
        printf("%s: all checks passed\n", program);
        return 0;
    }
    fprintf(stderr, "%s: %u check(s) failed\n", program, failures);
    return 1;
}

/* The loader. */

typedef struct {
    const char* own_path; /* this host library's file */
    unsigned zanpro_objects;
    unsigned foreign_zanpro_objects;
} LoadedScan;

static const char* base_name(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static int same_file(const char* a, const char* b) {
    char ra[4096], rb[4096];
    if (realpath(a, ra) == NULL || realpath(b, rb) == NULL) return 0;
    return strcmp(ra, rb) == 0;
}

static int scan_object(struct dl_phdr_info* info, size_t size, void* data) {
    LoadedScan* scan = (LoadedScan*)data;
    (void)size;
    if (info->dlpi_name == NULL || strncmp(base_name(info->dlpi_name), "libzanpro.so", 12) != 0)
        return 0;
    ++scan->zanpro_objects;
    if (!same_file(info->dlpi_name, scan->own_path)) {
        ++scan->foreign_zanpro_objects;
        fprintf(stderr, "another host library is loaded: %s\n", info->dlpi_name);
    }
    return 0;
}

static void die(const char* what, const char* detail) {
    fprintf(stderr, "ind_load_driver: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    exit(2);
}

IndKorMain ind_load_driver(void) {
    const char* path = getenv("RODERAVO_DRIVER");
    void* handle;
    void* symbol;
    Dl_info own, bound;
    LoadedScan scan;
    IndKorMain kor_main;
#ifdef RODERAVO_DRIVER_PATH
    if (path == NULL || *path == '\0') path = RODERAVO_DRIVER_PATH;
#endif
    if (path == NULL) die("no driver path", "set RODERAVO_DRIVER");
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) die("dlopen failed", dlerror());

    symbol = dlsym(handle, "KorMain");
    if (symbol == NULL) die("no KorMain", dlerror());
    memcpy(&kor_main, &symbol, sizeof kor_main);

    /* Where the driver's err binds: the ZANPRO_1 definition in its scope. */
    {
        size_t (*own_function)(void) = &ind_log_count;
        void* own_address;
        memcpy(&own_address, &own_function, sizeof own_address);
        if (dladdr(own_address, &own) == 0 || own.dli_fname == NULL)
            die("dladdr of the host library failed", NULL);
    }
    symbol = dlvsym(handle, "err", "ZANPRO_1");
    if (symbol == NULL) die("the driver's scope has no err@ZANPRO_1", dlerror());
    if (dladdr(symbol, &bound) == 0 || bound.dli_fname == NULL)
        die("dladdr of the driver's err failed", NULL);
    if (!same_file(bound.dli_fname, own.dli_fname)) die("the driver's err is in", bound.dli_fname);
    {
        /* The same library, opened by its own file name, must hold that very err. */
        void* own_handle = dlopen(own.dli_fname, RTLD_NOW | RTLD_NOLOAD);
        if (own_handle == NULL) die("the host library cannot be reopened", dlerror());
        if (dlsym(own_handle, "err") != symbol)
            die("the driver's err is not this library's err", NULL);
        dlclose(own_handle);
    }

    scan.own_path = own.dli_fname;
    scan.zanpro_objects = 0;
    scan.foreign_zanpro_objects = 0;
    dl_iterate_phdr(scan_object, &scan);
    if (scan.zanpro_objects != 1 || scan.foreign_zanpro_objects != 0)
        die("more than this one libzanpro.so.1 is loaded", NULL);
    return kor_main;
}

int ind_open_pty(int* master, char name[12]) {
    int slave = -1;
    struct termios line;
    const char* path;
    if (openpty(master, &slave, NULL, NULL, NULL) != 0) return 0;
    tcgetattr(slave, &line);
    cfmakeraw(&line);
    tcsetattr(slave, TCSANOW, &line);
    path = ttyname(slave);
    if (path == NULL || strncmp(path, "/dev/", 5) != 0 || strlen(path + 5) > 11) {
        close(slave);
        close(*master);
        return 0;
    }
    snprintf(name, 12, "%s", path + 5);
    close(slave);
    return 1;
}
