/* The driver instance lifecycle seen from an independent C host: Init, WarmStart,
 * ClosePort, OpenPort, SetPort, Exit and GetInfo through KorMain on
 * pseudo-terminals this program creates, with their results, log lines and
 * DriverContext fields. The read time-out of an open port is measured from the
 * line: a status read that gets no answer sends its request again after the
 * time-out and a 50 ms pause, so the gap between the first two requests on the
 * device side is the time-out plus about 50 ms. */
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <roderavo/kor.h>

#include "ind_check.h"
#include "ind_host.h"

#define TRACE 8
#define EVENT 32

static IndKorMain kor_main;

/* A pseudo-terminal: the driver opens the slave by name ("pts/N"), this program
 * plays the device on the master. */
typedef struct {
    int master;
    char name[16];
} Pty;

static int pty_open(Pty* pty) {
    return ind_open_pty(&pty->master, pty->name);
}

static void pty_close(Pty* pty) {
    if (pty->master >= 0) close(pty->master);
    pty->master = -1;
}

/* 1 when nobody holds the slave side for exclusive use. */
static int pty_free(const Pty* pty) {
    char path[32];
    int fd, locked;
    snprintf(path, sizeof path, "/dev/%s", pty->name);
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 0;
    locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return locked;
}

static int32_t call(DriverContext* context, uint32_t function, int32_t instance, void* params) {
    KorCall record;
    memset(&record, 0, sizeof record);
    record.Context = context;
    record.FunctionNumber = function;
    record.InstanceNumber = instance;
    record.Params = params;
    return kor_main(&record);
}

static long long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Waits up to timeout_ms until count bytes wait at the port's descriptor. */
static int wait_queued(int fd, int count, long long timeout_ms) {
    const long long start = now_ms();
    int waiting = 0;
    while (ioctl(fd, FIONREAD, &waiting) == 0 && waiting < count) {
        if (now_ms() - start > timeout_ms) return 0;
        poll(NULL, 0, 1);
    }
    return waiting >= count;
}

/* The device side of a time-out measurement. */
typedef struct {
    Pty* pty;
    long long first, second; /* arrival of the first two requests, -1 when none */
} Watch;

static void* watch_requests(void* arg) {
    Watch* watch = (Watch*)arg;
    const long long start = now_ms();
    unsigned char chunk[256];
    watch->first = watch->second = -1;
    while (now_ms() - start < 5000) {
        struct pollfd p;
        p.fd = watch->pty->master;
        p.events = POLLIN;
        p.revents = 0;
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(watch->pty->master, chunk, sizeof chunk) <= 0) break;
        if (watch->first < 0) {
            watch->first = now_ms();
        } else if (now_ms() - watch->first > 30) {
            watch->second = now_ms();
            break;
        }
    }
    /* The device vanishes: the read's remaining attempts fail at once. */
    pty_close(watch->pty);
    return NULL;
}

/* Checks that the port's read time-out is about expected_ms; the pty is gone after. */
static void check_read_timeout(DriverContext* context, Pty* pty, long long expected_ms) {
    Watch watch;
    pthread_t thread;
    GateParams gate;
    char text[64];
    long long gap;
    memset(&gate, 0, sizeof gate);
    memset(text, 0, sizeof text);
    gate.Address = "VER0";
    gate.AccessClass = KOR_ACCESS_READ_ONLY;
    gate.ValueKind = KOR_VALUE_TEXT;
    gate.Value = text;
    watch.pty = pty;
    if (pthread_create(&thread, NULL, watch_requests, &watch) != 0) {
        IND_CHECK(!"watcher thread");
        return;
    }
    call(context, KOR_FUNC_SINGLE_READ, 1, &gate);
    pthread_join(thread, NULL);
    gap = watch.second - watch.first;
    printf("%s: requests %lld ms apart\n", ind_check_current_context(), gap);
    if (watch.first < 0 || watch.second < 0) {
        ind_check_fail(__FILE__, __LINE__, ind_check_current_context(),
                       "no second request within 5 s (time-out expected %lld ms)", expected_ms);
    } else if (gap < expected_ms - 20 || gap > expected_ms + 50 + 600) {
        ind_check_fail(__FILE__, __LINE__, ind_check_current_context(),
                       "requests %lld ms apart, expected the %lld ms time-out + 50 ms", gap,
                       expected_ms);
    }
    ind_log_clear();
}

static void put_name(char field[12], const char* name) {
    const size_t length = strlen(name);
    memset(field, 0, 12);
    memcpy(field, name, length < 11 ? length : 11);
}

static InitParams init_params(const char* port, int32_t poll_interval, uint32_t open) {
    InitParams params;
    memset(&params, 0, sizeof params);
    put_name(params.PortName, port);
    params.OpenRequested = open;
    params.PollInterval = poll_interval;
    params.BaudRate = 9600;
    params.DataBits = 8;
    params.StopBits = 0;
    params.Parity = 0;
    return params;
}

static SetPortParams set_port_params(const char* port, int32_t poll_interval) {
    SetPortParams params;
    memset(&params, 0, sizeof params);
    put_name(params.PortName, port);
    params.PollInterval = poll_interval;
    params.BaudRate = 19200;
    params.DataBits = 7;
    params.StopBits = 2;
    params.Parity = 2;
    return params;
}

/* A fresh pseudo-terminal and an Init on it; the context is zeroed but for PortFlag.
 * 0 (with a failed check) when no pseudo-terminal could be had. */
static int init_on_new_pty(Pty* pty, DriverContext* context, int32_t instance,
                           int32_t poll_interval, uint32_t port_flag) {
    InitParams params;
    if (!pty_open(pty)) {
        IND_CHECK(!"openpty");
        return 0;
    }
    memset(context, 0, sizeof *context);
    context->PortFlag = port_flag;
    params = init_params(pty->name, poll_interval, 1);
    IND_CHECK_INT(call(context, KOR_FUNC_INIT, instance, &params), KOR_OK);
    return 1;
}

static void check_trace_only(uint32_t function) {
    char text[64];
    IndExpectedLine line[1];
    snprintf(text, sizeof text, "VERODI: Entered KorMain(), with function %u", function - 1);
    line[0].level = TRACE;
    line[0].text = text;
    IND_CHECK_LOG(line, 1);
    ind_log_clear();
}

static void check_trace_and(uint32_t function, const char* event) {
    char text[64];
    IndExpectedLine lines[2];
    snprintf(text, sizeof text, "VERODI: Entered KorMain(), with function %u", function - 1);
    lines[0].level = TRACE;
    lines[0].text = text;
    lines[1].level = EVENT;
    lines[1].text = event;
    IND_CHECK_LOG(lines, 2);
    ind_log_clear();
}

/* The banner as described: 379 code page 437 characters. */
static void check_banner(const char* banner) {
    static const char title[] =
        " \xDB\xDB\xDB\xDB\xDB\xB2\xB2\xB2\xB2\xB2\xB2\xB1\xB1\xB1\xB1\xB1"
        "\xB1\xB0\xB0\xB0\xB0\xB0\xB0  K O R ZUR  \xB0\xB0\xB0\xB0\xB1\xB1"
        "\xB1\xB1\xB1\xB1\xB2\xB2\xB2\xB2\xB2\xB2\xDB\xDB\xDB\xDB\xDB  ";
    char expected[6][64];
    size_t i;
    const unsigned char* fifth;
    IND_CHECK(banner != NULL);
    if (banner == NULL) return;
    IND_CHECK_INT(strlen(banner), 379);
    if (strlen(banner) != 379) return;
    IND_CHECK_INT(banner[0], '\n');
    memset(expected, 0, sizeof expected);
    expected[0][0] = (char)0xDA;
    memset(expected[0] + 1, 0xC4, 60);
    expected[0][61] = (char)0xBF;
    snprintf(expected[1], sizeof expected[1], "\xB3%s\xB3", title);
    snprintf(expected[2], sizeof expected[2], "\xB3%12s%s%11s\xB3", "",
             "Amux 20CD Multiplexer, Vision System.", "");
    snprintf(expected[3], sizeof expected[3], "\xB3%8s%s%8s\xB3", "",
             "ADPRO Inter-Equipment Communication protocol", "");
    expected[5][0] = (char)0xC0;
    memset(expected[5] + 1, 0xC4, 60);
    expected[5][61] = (char)0xD9;
    for (i = 0; i < 6; ++i) {
        const char* line = banner + 1 + 63 * i;
        IND_CHECK_INT(line[62], '\n');
        if (i == 4) continue;
        IND_CHECK_INT(strlen(expected[i]), 62);
        if (memcmp(line, expected[i], 62) != 0)
            ind_check_fail(__FILE__, __LINE__, "GetInfo", "banner line %zu differs", i + 1);
    }
    fifth = (const unsigned char*)banner + 1 + 63 * 4;
    IND_CHECK_INT(fifth[0], 0xB3);
    IND_CHECK_INT(fifth[61], 0xB3);
    for (i = 1; i <= 60; ++i) IND_CHECK(fifth[i] >= 0x20 && fifth[i] < 0x7F);
}

static void check_get_info(void) {
    DriverInfo first, second;
    ind_check_context("GetInfo before Init");
    memset(&first, 0, sizeof first);
    memset(&second, 0x5A, sizeof second);
    IND_CHECK_INT(call(NULL, KOR_FUNC_GET_INFO, 0, &first), KOR_OK);
    check_trace_only(KOR_FUNC_GET_INFO);
    IND_CHECK_INT(first.Word1, 70);
    IND_CHECK_STR(first.DriverName, "Amux");
    IND_CHECK_INT(first.Word4, 35);
    IND_CHECK_INT(first.Word5, 4);
    IND_CHECK_INT(first.BaudRate, 9600);
    IND_CHECK_INT(first.DataBits, 8);
    IND_CHECK_INT(first.StopBits, 0);
    IND_CHECK_INT(first.Parity, 0);
    IND_CHECK_INT(first.Word8, 32);
    check_banner(first.InfoBanner);
    IND_CHECK_INT(call(NULL, KOR_FUNC_GET_INFO, 3, &second), KOR_OK);
    IND_CHECK(second.DriverName == first.DriverName);
    IND_CHECK(second.InfoBanner == first.InfoBanner);
    IND_CHECK_INT(second.Word1, 70);
    IND_CHECK_INT(second.Word8, 32);
    IND_CHECK_INT(ind_client_count(), 0);
    ind_log_clear();
}

/* Init on a port, WarmStart, SetPort to the same port, the read time-out, ClosePort
 * and Exit. */
static void check_ready_instance(void) {
    DriverContext context;
    SetPortParams same;
    Pty pty;
    KorPortHandle handle;
    ind_check_context("Init instance 7, PollInterval 50");
    if (!init_on_new_pty(&pty, &context, 7, 50, 9)) return;
    check_trace_and(KOR_FUNC_INIT, "VERODI: ZUR Driver loaded successfully");
    IND_CHECK_STR(ind_client_name(context.ClientId), "VERODI No_07");
    IND_CHECK_INT(ind_client_count(), 1);
    IND_CHECK(context.PortHandle != 0);
    IND_CHECK_INT(context.PortFlag, 0);
    IND_CHECK_INT(context.PollInterval, 100);
    IND_CHECK_STR(context.Settings.PortName, pty.name);
    IND_CHECK_INT(context.Settings.BaudRate, 9600);
    IND_CHECK_INT(context.Settings.DataBits, 8);
    IND_CHECK_INT(context.Settings.StopBits, 0);
    IND_CHECK_INT(context.Settings.Parity, 0);
    IND_CHECK_INT(context.Settings.ControlFlags, 8);
    IND_CHECK(!pty_free(&pty));

    ind_check_context("WarmStart with a port");
    IND_CHECK(write(pty.master, "junk", 4) == 4);
    /* A pseudo-terminal hands bytes on a moment later: wait until the port has them,
     * or a late "junk" would meet the next read instead of this WarmStart. */
    IND_CHECK(wait_queued((int)context.PortHandle, 4, 2000));
    IND_CHECK_INT(call(&context, KOR_FUNC_WARM_START, 7, NULL), KOR_OK);
    check_trace_and(KOR_FUNC_WARM_START, "VERODI: Warm Start.");

    ind_check_context("SetPort with the same port name");
    handle = context.PortHandle;
    same = set_port_params(pty.name, 0);
    IND_CHECK_INT(call(&context, KOR_FUNC_SET_PORT, 7, &same), KOR_COMM_FAILURE);
    check_trace_only(KOR_FUNC_SET_PORT);
    IND_CHECK(context.PortHandle == handle);
    IND_CHECK_INT(context.PollInterval, 100);
    IND_CHECK_INT(context.Settings.BaudRate, 19200);
    IND_CHECK_INT(context.Settings.DataBits, 7);
    IND_CHECK_INT(context.Settings.StopBits, 2);
    IND_CHECK_INT(context.Settings.Parity, 2);
    IND_CHECK_INT(context.Settings.ControlFlags, 8);
    IND_CHECK_INT(ind_client_count(), 1);

    ind_check_context("read time-out after Init with PollInterval 50");
    check_read_timeout(&context, &pty, 500);

    ind_check_context("ClosePort with a port");
    IND_CHECK_INT(call(&context, KOR_FUNC_CLOSE_PORT, 7, NULL), KOR_OK);
    check_trace_only(KOR_FUNC_CLOSE_PORT);
    IND_CHECK_INT(context.PortHandle, 0);
    IND_CHECK_INT(context.PortFlag, 1);
    IND_CHECK_INT(ind_client_count(), 0);

    ind_check_context("Exit after ClosePort");
    IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 7, NULL), KOR_OK);
    check_trace_only(KOR_FUNC_EXIT);
    IND_CHECK_INT(context.PortFlag, 1);
}

/* The mended poll interval: 0 and below keep the 1000 ms of the open. */
static void check_poll_intervals(void) {
    static const struct {
        int32_t poll_interval;
        long long timeout_ms;
        int32_t stored;
    } cases[] = {{10, 100, 100}, {0, 1000, 100}, {-3, 1000, 100}};
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        DriverContext context;
        Pty pty;
        char label[64];
        snprintf(label, sizeof label, "Init with PollInterval %d", (int)cases[i].poll_interval);
        ind_check_context(label);
        if (!init_on_new_pty(&pty, &context, 3, cases[i].poll_interval, 0)) return;
        check_trace_and(KOR_FUNC_INIT, "VERODI: ZUR Driver loaded successfully");
        IND_CHECK_STR(ind_client_name(context.ClientId), "VERODI No_03");
        IND_CHECK_INT(context.PollInterval, cases[i].stored);
        check_read_timeout(&context, &pty, cases[i].timeout_ms);
        IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 3, NULL), KOR_OK);
        check_trace_only(KOR_FUNC_EXIT);
        IND_CHECK_INT(ind_client_count(), 0);
    }
}

/* ClosePort, then OpenPort: the same settings, the opening time-out, no client. */
static void check_reopen(void) {
    DriverContext context;
    Pty pty;
    KorPortHandle first;
    ind_check_context("OpenPort after ClosePort");
    if (!init_on_new_pty(&pty, &context, 12, 250, 0)) return;
    IND_CHECK_INT(context.PollInterval, 250);
    IND_CHECK_INT(call(&context, KOR_FUNC_CLOSE_PORT, 12, NULL), KOR_OK);
    IND_CHECK(pty_free(&pty));
    ind_log_clear();
    context.PortFlag = 0;
    IND_CHECK_INT(call(&context, KOR_FUNC_OPEN_PORT, 12, NULL), KOR_OK);
    check_trace_only(KOR_FUNC_OPEN_PORT);
    IND_CHECK(context.PortHandle != 0);
    IND_CHECK_INT(context.PortFlag, 1);
    IND_CHECK_INT(context.PollInterval, 250);
    IND_CHECK_INT(ind_client_count(), 0);

    ind_check_context("OpenPort while the port is open");
    first = context.PortHandle;
    context.PortFlag = 0;
    IND_CHECK_INT(call(&context, KOR_FUNC_OPEN_PORT, 12, NULL), KOR_COMM_FAILURE);
    check_trace_only(KOR_FUNC_OPEN_PORT);
    IND_CHECK(context.PortHandle == first);
    IND_CHECK_INT(context.PortFlag, 0);

    ind_check_context("read time-out after OpenPort");
    check_read_timeout(&context, &pty, 1000);
    IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 12, NULL), KOR_OK);
    ind_log_clear();
}

/* SetPort to another port: the old one closed, the client removed, the new one open. */
static void check_set_port(void) {
    DriverContext context;
    SetPortParams set;
    Pty old_pty, new_pty;
    ind_check_context("SetPort with a new port name");
    if (!pty_open(&new_pty)) {
        IND_CHECK(!"openpty");
        return;
    }
    if (!init_on_new_pty(&old_pty, &context, 5, 50, 0)) return;
    ind_log_clear();
    set = set_port_params(new_pty.name, 20);
    IND_CHECK_INT(call(&context, KOR_FUNC_SET_PORT, 5, &set), KOR_OK);
    check_trace_only(KOR_FUNC_SET_PORT);
    IND_CHECK(context.PortHandle != 0);
    IND_CHECK_INT(context.PortFlag, 1);
    IND_CHECK_INT(context.PollInterval, 20);
    IND_CHECK_STR(context.Settings.PortName, new_pty.name);
    IND_CHECK_INT(context.Settings.BaudRate, 19200);
    IND_CHECK_INT(context.Settings.ControlFlags, 8);
    IND_CHECK_INT(ind_client_count(), 0);
    IND_CHECK(pty_free(&old_pty));
    IND_CHECK(!pty_free(&new_pty));

    ind_check_context("read time-out after SetPort");
    check_read_timeout(&context, &new_pty, 1000);
    IND_CHECK_INT(call(&context, KOR_FUNC_CLOSE_PORT, 5, NULL), KOR_OK);

    ind_check_context("SetPort to a port that does not open, PollInterval 0");
    ind_log_clear();
    set = set_port_params("ttyNoSuch", 0);
    IND_CHECK_INT(call(&context, KOR_FUNC_SET_PORT, 5, &set), KOR_COMM_FAILURE);
    check_trace_only(KOR_FUNC_SET_PORT);
    IND_CHECK_INT(context.PortHandle, 0);
    IND_CHECK_INT(context.PollInterval, 20);
    pty_close(&old_pty);
}

/* Init that fails or opens nothing; close and flush failures. */
static void check_failures(void) {
    DriverContext context;
    InitParams params;
    Pty pty;

    ind_check_context("Init refused by the host library");
    memset(&context, 0, sizeof context);
    context.PortFlag = 77;
    params = init_params("ttyNoSuch", 50, 1);
    ind_fail_next_mkclient(3);
    IND_CHECK_INT(call(&context, KOR_FUNC_INIT, 7, &params), KOR_REFUSED);
    check_trace_only(KOR_FUNC_INIT);
    IND_CHECK_INT(context.PortFlag, 77);
    IND_CHECK_INT(ind_client_count(), 0);

    ind_check_context("Init with a port that does not open");
    context.PollInterval = 5;
    IND_CHECK_INT(call(&context, KOR_FUNC_INIT, 7, &params), KOR_COMM_FAILURE);
    check_trace_and(KOR_FUNC_INIT, "VERODI: Fail to open COMM port ttyNoSuch");
    IND_CHECK_STR(ind_client_name(context.ClientId), "VERODI No_07");
    IND_CHECK_INT(context.PortHandle, 0);
    IND_CHECK_INT(context.PortFlag, 1);
    IND_CHECK_INT(context.PollInterval, 5);
    IND_CHECK_INT(context.Settings.PortName[0], 0);

    ind_check_context("ClosePort without a port");
    context.PortFlag = 4;
    IND_CHECK_INT(call(&context, KOR_FUNC_CLOSE_PORT, 7, NULL), KOR_OK);
    check_trace_only(KOR_FUNC_CLOSE_PORT);
    IND_CHECK_INT(context.PortFlag, 4);
    IND_CHECK_INT(ind_client_count(), 0);

    ind_check_context("Init without a port");
    memset(&context, 0, sizeof context);
    context.PollInterval = 1234;
    params = init_params("ttyNoSuch", 50, 0);
    IND_CHECK_INT(call(&context, KOR_FUNC_INIT, 8, &params), KOR_OK);
    check_trace_only(KOR_FUNC_INIT);
    IND_CHECK_STR(ind_client_name(context.ClientId), "VERODI No_08");
    IND_CHECK_INT(context.PortHandle, 0);
    IND_CHECK_INT(context.PortFlag, 0);
    IND_CHECK_INT(context.PollInterval, 1234);

    ind_check_context("WarmStart without a port");
    IND_CHECK_INT(call(&context, KOR_FUNC_WARM_START, 8, NULL), KOR_OK);
    check_trace_and(KOR_FUNC_WARM_START, "VERODI: Warm Start.");

    ind_check_context("ClosePort and Exit when the close fails");
    context.PortHandle = 4242; /* no port the driver has open */
    IND_CHECK_INT(call(&context, KOR_FUNC_CLOSE_PORT, 8, NULL), KOR_COMM_FAILURE);
    check_trace_only(KOR_FUNC_CLOSE_PORT);
    IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 8, NULL), KOR_COMM_FAILURE);
    check_trace_and(KOR_FUNC_EXIT, "VERODI:Fail to close comm.");
    IND_CHECK_INT(context.PortHandle, 4242);
    IND_CHECK_INT(ind_client_count(), 1);
    context.PortHandle = 0;
    IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 8, NULL), KOR_OK);
    ind_log_clear();

    ind_check_context("WarmStart when the device has vanished");
    if (!init_on_new_pty(&pty, &context, 9, 50, 0)) return;
    ind_log_clear();
    pty_close(&pty);
    IND_CHECK_INT(call(&context, KOR_FUNC_WARM_START, 9, NULL), KOR_COMM_FAILURE);
    check_trace_and(KOR_FUNC_WARM_START, "VERODI: Fail to flush comm port.");
    IND_CHECK_INT(call(&context, KOR_FUNC_EXIT, 9, NULL), KOR_OK);
    ind_log_clear();
}

int main(void) {
    kor_main = ind_load_driver();
    ind_reset();
    check_get_info();
    check_ready_instance();
    check_poll_intervals();
    check_reopen();
    check_set_port();
    check_failures();
    return ind_check_done("lifecycle");
}
