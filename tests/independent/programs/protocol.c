/* Status reads and control writes seen from an independent C host with an
 * independent multiplexer peer: this program plays the multiplexer on the master
 * side of a pseudo-terminal from a script of plain bytes, and checks the exact
 * bytes the driver puts on the line, the gate values and texts the replies leave
 * in the host, the results and the log lines. */
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <roderavo/kor.h>

#include "ind_check.h"
#include "ind_host.h"

#define TRACE 8
#define EVENT 32
#define INSTANCE 4
#define MAX_STEPS 16
#define MAX_FRAME 64

static IndKorMain kor_main;
static DriverContext context;
static int master = -1;
static char port_name[16];

/* ---- the multiplexer peer ------------------------------------------------ */

typedef struct {
    size_t request_size;            /* bytes to take from the line */
    unsigned char reply[MAX_FRAME]; /* then written back */
    size_t reply_size;              /* 0: no answer */
} Step;

typedef struct {
    Step steps[MAX_STEPS];
    size_t count;
    unsigned char got[MAX_STEPS][MAX_FRAME]; /* each step's request as read */
    size_t got_size[MAX_STEPS];
    size_t done;
    unsigned char extra[256]; /* anything after the script */
    size_t extra_size;
    volatile int stop;
} Script;

static long long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Reads up to size bytes; stops at the deadline or when asked to stop and idle. */
static size_t take(Script* script, unsigned char* into, size_t size, int wait_ms) {
    size_t have = 0;
    const long long end = now_ms() + wait_ms;
    while (have < size && now_ms() < end) {
        struct pollfd p;
        ssize_t n;
        p.fd = master;
        p.events = POLLIN;
        p.revents = 0;
        if (poll(&p, 1, 10) <= 0) {
            if (script->stop) break;
            continue;
        }
        n = read(master, into + have, size - have);
        if (n > 0) have += (size_t)n;
    }
    return have;
}

static void* serve(void* arg) {
    Script* script = (Script*)arg;
    size_t i;
    for (i = 0; i < script->count; ++i) {
        Step* step = &script->steps[i];
        script->got_size[i] = take(script, script->got[i], step->request_size, 3000);
        if (script->got_size[i] < step->request_size) return NULL;
        if (step->reply_size > 0 && write(master, step->reply, step->reply_size) < 0) return NULL;
        script->done = i + 1;
    }
    for (;;) {
        const size_t n = take(script, script->extra + script->extra_size,
                              sizeof script->extra - script->extra_size, 50);
        script->extra_size += n;
        if ((script->stop && n == 0) || script->extra_size == sizeof script->extra) break;
    }
    return NULL;
}

static unsigned char checksum(const unsigned char* frame, size_t count) {
    unsigned sum = 0;
    size_t i;
    for (i = 0; i < count; ++i)
        if (frame[i] != 0xFF) sum += frame[i];
    return (unsigned char)((0x100 - (sum & 0xFF)) & 0xFF);
}

static Step step_reply(size_t request_size, const unsigned char* reply, size_t reply_size) {
    Step step;
    memset(&step, 0, sizeof step);
    step.request_size = request_size;
    if (reply_size > 0) memcpy(step.reply, reply, reply_size);
    step.reply_size = reply_size;
    return step;
}

/* A status reply: FF L F0 command source 10 payload checksum. */
static Step status_reply(size_t request_size, unsigned char command, unsigned char source,
                         const unsigned char* payload, size_t payload_size) {
    unsigned char frame[MAX_FRAME];
    frame[0] = 0xFF;
    frame[1] = (unsigned char)(6 + payload_size);
    frame[2] = 0xF0;
    frame[3] = command;
    frame[4] = source;
    frame[5] = 0x10;
    if (payload_size > 0) memcpy(frame + 6, payload, payload_size);
    frame[6 + payload_size] = checksum(frame, 6 + payload_size);
    return step_reply(request_size, frame, 7 + payload_size);
}

static Step ack(size_t request_size, unsigned char source, unsigned char status) {
    unsigned char frame[8] = {0xFF, 0x07, 0xF0, 0x04, 0, 0x10, 0, 0};
    frame[4] = source;
    frame[6] = status;
    frame[7] = checksum(frame, 7);
    return step_reply(request_size, frame, 8);
}

static Script script;
static pthread_t peer;

static void script_start(void) {
    script.stop = 0;
    script.done = 0;
    script.extra_size = 0;
    memset(script.got_size, 0, sizeof script.got_size);
    if (pthread_create(&peer, NULL, serve, &script) != 0) IND_CHECK(!"peer thread");
}

static void script_finish(void) {
    script.stop = 1;
    pthread_join(peer, NULL);
}

/* Checks the request of step i against the expected bytes. */
static void check_request(size_t i, const unsigned char* expected, size_t size) {
    char got[3 * MAX_FRAME + 1], want[3 * MAX_FRAME + 1];
    size_t k;
    got[0] = want[0] = '\0';
    for (k = 0; k < script.got_size[i]; ++k) sprintf(got + 3 * k, "%02X ", script.got[i][k]);
    for (k = 0; k < size; ++k) sprintf(want + 3 * k, "%02X ", expected[k]);
    IND_CHECK_STR(got, want);
}

/* ---- the host's side --------------------------------------------------- */

static int32_t call(uint32_t function, void* params) {
    KorCall record;
    memset(&record, 0, sizeof record);
    record.Context = &context;
    record.FunctionNumber = function;
    record.InstanceNumber = INSTANCE;
    record.Params = params;
    return kor_main(&record);
}

static GateParams gate_params(const char* address, int32_t plc, int32_t access, int32_t kind,
                              void* value) {
    GateParams gate;
    memset(&gate, 0, sizeof gate);
    gate.Address = address;
    gate.plcNum = plc;
    gate.AccessClass = access;
    gate.Recorded6 = -1;
    gate.Recorded7 = 16;
    gate.ValueKind = kind;
    gate.Value = value;
    return gate;
}

static int32_t run(uint32_t function, GateParams* gate) {
    int32_t result;
    ind_log_clear();
    script_start();
    result = call(function, gate);
    script_finish();
    return result;
}

/* The log is exactly the entry line of the function, then the given lines. */
static void check_log(uint32_t function, const IndExpectedLine* lines, size_t count) {
    IndExpectedLine all[16];
    char entry[64];
    size_t i;
    snprintf(entry, sizeof entry, "VERODI: Entered KorMain(), with function %u", function - 1);
    all[0].level = TRACE;
    all[0].text = entry;
    for (i = 0; i < count && i + 1 < 16; ++i) all[i + 1] = lines[i];
    IND_CHECK_LOG(all, count + 1);
}

static const unsigned char kClock[8] = {0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33};

/* ---- reads --------------------------------------------------------------- */

static void check_version_and_clock(void) {
    static const unsigned char ver1[] = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    static const unsigned char tad2[] = {0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86};
    static const unsigned char version[] = "AMUX 20CD V2.10 with a rather long tag";
    char text[80];
    GateParams gate;

    ind_check_context("VER1 read");
    memset(text, '#', sizeof text);
    gate = gate_params("VER1", 1, KOR_ACCESS_READ_ONLY, KOR_VALUE_TEXT, text);
    script.count = 1;
    script.steps[0] = status_reply(7, 0x48, 0x11, (const unsigned char*)"V2.1", 4);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    check_request(0, ver1, sizeof ver1);
    IND_CHECK_STR(text, "V2.1");
    check_log(KOR_FUNC_SINGLE_READ, NULL, 0);

    ind_check_context("VER1 read, version text cut to 29 characters");
    script.steps[0] = status_reply(7, 0x48, 0x11, version, sizeof version - 1);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    IND_CHECK_STR(text, "AMUX 20CD V2.10 with a rather");

    ind_check_context("TAD2 read");
    gate = gate_params("TAD2", 2, KOR_ACCESS_READ_WRITE, KOR_VALUE_TEXT, text);
    script.steps[0] = status_reply(7, 0x07, 0x21, kClock, 8);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    check_request(0, tad2, sizeof tad2);
    IND_CHECK_STR(text, "06.11.2000 08:12:33 hrs");
    check_log(KOR_FUNC_SINGLE_READ, NULL, 0);
}

/* The 20-byte alarm report: length byte 18, one byte more than it says. */
static Step alarm_report(size_t request_size, unsigned char source, unsigned char state) {
    unsigned char frame[20];
    memset(frame, 0, sizeof frame);
    frame[0] = 0xFF;
    frame[1] = 18;
    frame[2] = 0xF0;
    frame[3] = 0x49;
    frame[4] = source;
    frame[5] = 0x10;
    memcpy(frame + 6, kClock, 8);
    frame[17] = state;
    frame[18] = checksum(frame, 18);
    frame[19] = 0x77;
    return step_reply(request_size, frame, 20);
}

static void check_alarm_reports(void) {
    static const unsigned char als005[] = {0xFF, 0x07, 0x01, 0x49, 0x3C, 0x10, 0x05, 0x5E};
    static const unsigned char als4100[] = {0xFF, 0x07, 0x41, 0x49, 0x3C, 0x10, 0x64, 0xBF};
    const uint32_t tas005 = ind_add_gate(INSTANCE, "TAS005");
    const uint32_t tas4100 = ind_add_gate(INSTANCE, "TAS4100");
    KorNumberValue value;
    GateParams gate;

    ind_check_context("ALS005 read, alarm report");
    value.Head = 0;
    value.Number = 999;
    gate = gate_params("ALS005", 0, KOR_ACCESS_READ_ONLY, KOR_VALUE_NUMBER, &value);
    script.count = 1;
    script.steps[0] = alarm_report(8, 0x01, 0x20);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    check_request(0, als005, sizeof als005);
    IND_CHECK_INT(value.Number, 32);
    IND_CHECK_STR(ind_gate_text(tas005), "06.11.2000 08:12:33 hrs Alarm");
    check_log(KOR_FUNC_SINGLE_READ, NULL, 0);

    ind_check_context("ALS005 read, no report");
    script.steps[0] = status_reply(8, 0x49, 0x01, NULL, 0);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    IND_CHECK_INT(value.Number, 0);
    IND_CHECK_INT(ind_gate_stores(tas005), 1);

    ind_check_context("ALS005 read, state 0xFF refused while TAS005 exists");
    value.Number = 5;
    script.steps[0] = alarm_report(8, 0x01, 0xFF);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_REFUSED);
    IND_CHECK_INT(value.Number, 5);
    IND_CHECK_INT(ind_gate_stores(tas005), 1);

    ind_check_context("ALS4100 read: camera 100");
    gate = gate_params("ALS4100", 4, KOR_ACCESS_READ_ONLY, KOR_VALUE_NUMBER, &value);
    script.steps[0] = alarm_report(8, 0x41, 0x2E);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    check_request(0, als4100, sizeof als4100);
    IND_CHECK_INT(value.Number, 0x2E);
    IND_CHECK_STR(ind_gate_text(tas4100), "06.11.2000 08:12:33 hrs Video Loss");
}

static void check_camera_lists(void) {
    static const unsigned char aas1[] = {0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D};
    uint32_t sac[20], svc[20];
    unsigned char states[20];
    char name[16];
    double number;
    KorNumberValue value;
    GateParams gate;
    int i;
    static const IndExpectedLine not_enough[] = {
        {EVENT,
         "VERODI: SingleWrite(), can't supply full report for cameras, plc 1 (not enough "
         "TAGS), plcNum"}};

    for (i = 0; i < 20; ++i) {
        if (i == 2) {
            sac[i] = 0; /* camera 23 has no gate */
            continue;
        }
        snprintf(name, sizeof name, "SAC1%d", 21 + i);
        sac[i] = ind_add_gate(INSTANCE, name);
    }
    memset(states, 0, sizeof states);
    states[3] = 0x20; /* camera 24 */
    states[19] = 0xFE;

    ind_check_context("AAS1 read, SAC123 missing");
    value.Head = 0;
    value.Number = 7;
    gate = gate_params("AAS1", 1, KOR_ACCESS_READ_ONLY, KOR_VALUE_NUMBER, &value);
    script.count = 1;
    script.steps[0] = status_reply(7, 0x50, 0x11, states, 20);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    check_request(0, aas1, sizeof aas1);
    IND_CHECK(ind_gate_value(sac[3], &number) && number == 32.0);
    IND_CHECK(ind_gate_value(sac[19], &number) && number == 254.0);
    IND_CHECK(ind_gate_value(sac[0], &number) && number == 0.0);
    IND_CHECK_INT(value.Number, 7);
    check_log(KOR_FUNC_SINGLE_READ, not_enough, 1);

    ind_check_context("VLS4 read, all twenty gates with SVC4100");
    for (i = 0; i < 20; ++i) {
        if (i == 19)
            snprintf(name, sizeof name, "SVC4100");
        else
            snprintf(name, sizeof name, "SVC4%d", 81 + i);
        svc[i] = ind_add_gate(INSTANCE, name);
    }
    memset(states, 0, sizeof states);
    states[19] = 0x01;
    gate = gate_params("VLS4", 4, KOR_ACCESS_READ_ONLY, KOR_VALUE_NUMBER, &value);
    script.steps[0] = status_reply(7, 0x51, 0x41, states, 20);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_OK);
    IND_CHECK_INT(value.Number, 1);
    IND_CHECK(ind_gate_value(svc[19], &number) && number == 1.0);
    check_log(KOR_FUNC_SINGLE_READ, NULL, 0);

    ind_check_context("VLS4 read, byte 0x02 for camera 85");
    value.Number = 9;
    states[4] = 0x02;
    script.steps[0] = status_reply(7, 0x51, 0x41, states, 20);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_REFUSED);
    IND_CHECK_INT(value.Number, 9);
    IND_CHECK_INT(ind_gate_stores(svc[3]), 2);
    IND_CHECK_INT(ind_gate_stores(svc[4]), 1);
}

static void check_read_failures(void) {
    static const unsigned char ver1[] = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    static const unsigned char long_frame[] = {0xFF, 0x40, 0xF0, 0x48, 0x11, 0x10, 0x00};
    static const IndExpectedLine no_answer[] = {
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {EVENT, "VERODI: Failed to read reply from PLC,GAS:VER1."}};
    static const IndExpectedLine wrong[] = {{EVENT, "VERODI: wrong receive"}};
    static const IndExpectedLine refused[] = {
        {TRACE, "VERODI: Error try to operate SingleRead() on write GAS : KEY1"}};
    char text[64];
    GateParams gate = gate_params("VER1", 1, KOR_ACCESS_READ_ONLY, KOR_VALUE_TEXT, text);
    size_t i;

    ind_check_context("VER1 read, no answer");
    script.count = 5;
    for (i = 0; i < 5; ++i) script.steps[i] = step_reply(7, NULL, 0);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_COMM_FAILURE);
    for (i = 0; i < 5; ++i) check_request(i, ver1, sizeof ver1);
    check_log(KOR_FUNC_SINGLE_READ, no_answer, 6);

    ind_check_context("VER1 read, length byte 0x40 (past the reply buffer)");
    for (i = 0; i < 5; ++i) script.steps[i] = step_reply(7, long_frame, sizeof long_frame);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_REFUSED);
    IND_CHECK_INT(script.done, 5);
    check_log(KOR_FUNC_SINGLE_READ, wrong, 1);

    ind_check_context("VER1 read, answered by multiplexer 2");
    for (i = 0; i < 5; ++i)
        script.steps[i] = status_reply(7, 0x48, 0x21, (const unsigned char*)"x", 1);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_REFUSED);
    check_log(KOR_FUNC_SINGLE_READ, wrong, 1);

    ind_check_context("KEY1 read");
    gate = gate_params("KEY1", 1, KOR_ACCESS_WRITE_ONLY, KOR_VALUE_NUMBER, text);
    script.count = 0;
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_READ, &gate), KOR_REFUSED);
    IND_CHECK_INT(script.extra_size, 0);
    check_log(KOR_FUNC_SINGLE_READ, refused, 1);
}

/* ---- writes -------------------------------------------------------------- */

typedef struct {
    const char* address;
    int32_t plc;
    int32_t access;
    const char* text; /* NULL: the number below */
    uint16_t number;
    unsigned char frames[3][16];
    size_t sizes[3];
    unsigned char ack_from;
} WriteCase;

static const WriteCase kWrites[] = {
    {"KEY1",
     1,
     KOR_ACCESS_WRITE_ONLY,
     NULL,
     53,
     {{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F}},
     {8},
     0x11},
    {"PTZ0",
     0,
     KOR_ACCESS_WRITE_ONLY,
     NULL,
     128,
     {{0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x80, 0x14}},
     {8},
     0x01},
    /* CAA 2: acknowledged by multiplexer 2, the one the frame went to */
    {"CAA",
     0,
     KOR_ACCESS_WRITE_ONLY,
     NULL,
     2,
     {{0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E}},
     {7},
     0x21},
    {"IHK2075",
     2,
     KOR_ACCESS_WRITE_ONLY,
     "(9,13)",
     0,
     {{0xFF, 0x09, 0x21, 0x17, 0x3E, 0x10, 0x4B, 0x09, 0x0D, 0x10}},
     {10},
     0x21},
    {"TAD0",
     0,
     KOR_ACCESS_READ_WRITE,
     "(31,12,2000,23,59,59)",
     0,
     {{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59, 0x63}},
     {15},
     0x01},
    {"JOY3",
     3,
     KOR_ACCESS_WRITE_ONLY,
     "(10,-20,30)",
     0,
     {{0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x0A, 0xEC, 0x1E, 0x4C}},
     {10},
     0x31},
    {"JOY1",
     1,
     KOR_ACCESS_WRITE_ONLY,
     "(-1,0,0)",
     0,
     {{0xFF, 0x09, 0x11, 0x18, 0x3E, 0x10, 0xFF, 0x00, 0x00, 0x80}},
     {10},
     0x11},
    {"INHPAIR4",
     4,
     KOR_ACCESS_WRITE_ONLY,
     "(48,49,50,51,52,53)",
     0,
     {{0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE},
      {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5}},
     {10, 10},
     0x41},
    {"PRESET2",
     2,
     KOR_ACCESS_WRITE_ONLY,
     "(9,13)",
     0,
     {{0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B},
      {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77},
      {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}},
     {8, 8, 8},
     0x21},
};

static void check_writes(void) {
    size_t c, f;
    for (c = 0; c < sizeof kWrites / sizeof kWrites[0]; ++c) {
        const WriteCase* w = &kWrites[c];
        char label[64], text[32];
        KorNumberValue value;
        GateParams gate;
        snprintf(label, sizeof label, "%s written %s", w->address, w->text ? w->text : "number");
        ind_check_context(label);
        value.Head = 0;
        value.Number = w->number;
        if (w->text) snprintf(text, sizeof text, "%s", w->text);
        gate =
            gate_params(w->address, w->plc, w->access, w->text ? KOR_VALUE_TEXT : KOR_VALUE_NUMBER,
                        w->text ? (void*)text : (void*)&value);
        script.count = 0;
        for (f = 0; f < 3 && w->sizes[f] > 0; ++f)
            script.steps[script.count++] = ack(w->sizes[f], w->ack_from, 0);
        IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_OK);
        for (f = 0; f < script.count; ++f) check_request(f, w->frames[f], w->sizes[f]);
        IND_CHECK_INT(script.extra_size, 0);
        check_log(KOR_FUNC_SINGLE_WRITE, NULL, 0);
    }
}

static void check_write_failures(void) {
    static const unsigned char key1[] = {0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F};
    static const IndExpectedLine prepare_key0[] = {
        {EVENT, "VERODI: Failed to prepare write request to PLC,GAS:KEY0."}};
    static const IndExpectedLine prepare_tad0[] = {
        {EVENT, "VERODI: Failed to prepare write request to PLC,GAS:TAD0."}};
    static const IndExpectedLine wrong[] = {{EVENT, "VERODI: wrong receive"}};
    static const IndExpectedLine read_gate[] = {
        {TRACE, "VERODI: Error try to operate SingleWrite() on read GAS: VER1"}};
    static const IndExpectedLine never_answered[] = {
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {TRACE, "VERODI: Failed to read first chars from PLC."},
        {EVENT, "VERODI: Failed to read reply from PLC"}};
    KorNumberValue value;
    char text[64];
    GateParams gate;
    size_t i;

    ind_check_context("KEY0 written 10");
    value.Head = 0;
    value.Number = 10;
    gate = gate_params("KEY0", 0, KOR_ACCESS_WRITE_ONLY, KOR_VALUE_NUMBER, &value);
    script.count = 0;
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_REFUSED);
    IND_CHECK_INT(script.extra_size, 0);
    check_log(KOR_FUNC_SINGLE_WRITE, prepare_key0, 1);

    ind_check_context("TAD0 written a text over 29 characters");
    snprintf(text, sizeof text, "(31,12,2000,23,59,59)         x");
    gate = gate_params("TAD0", 0, KOR_ACCESS_READ_WRITE, KOR_VALUE_TEXT, text);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_REFUSED);
    check_log(KOR_FUNC_SINGLE_WRITE, prepare_tad0, 1);

    ind_check_context("KEY1 written 53, acknowledged with status 1");
    value.Number = 53;
    gate = gate_params("KEY1", 1, KOR_ACCESS_WRITE_ONLY, KOR_VALUE_NUMBER, &value);
    script.count = 5;
    for (i = 0; i < 5; ++i) script.steps[i] = ack(8, 0x11, 0x01);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_REFUSED);
    for (i = 0; i < 5; ++i) check_request(i, key1, sizeof key1);
    check_log(KOR_FUNC_SINGLE_WRITE, wrong, 1);

    ind_check_context("KEY1 written 53, never answered");
    for (i = 0; i < 5; ++i) script.steps[i] = step_reply(8, NULL, 0);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_COMM_FAILURE);
    for (i = 0; i < 5; ++i) check_request(i, key1, sizeof key1);
    check_log(KOR_FUNC_SINGLE_WRITE, never_answered, 6);

    ind_check_context("CAA written 2, acknowledged by multiplexer 0 only");
    value.Number = 2;
    gate = gate_params("CAA", 0, KOR_ACCESS_WRITE_ONLY, KOR_VALUE_NUMBER, &value);
    for (i = 0; i < 5; ++i) script.steps[i] = ack(7, 0x01, 0x00);
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_REFUSED);
    check_log(KOR_FUNC_SINGLE_WRITE, wrong, 1);

    ind_check_context("VER1 written");
    gate = gate_params("VER1", 1, KOR_ACCESS_READ_ONLY, KOR_VALUE_TEXT, text);
    script.count = 0;
    IND_CHECK_INT(run(KOR_FUNC_SINGLE_WRITE, &gate), KOR_REFUSED);
    check_log(KOR_FUNC_SINGLE_WRITE, read_gate, 1);
}

/* ---- setup --------------------------------------------------------------- */

static int open_line(void) {
    return ind_open_pty(&master, port_name);
}

int main(void) {
    InitParams init;
    kor_main = ind_load_driver();
    ind_reset();
    if (!open_line()) {
        fprintf(stderr, "protocol: no pseudo-terminal\n");
        return 2;
    }
    memset(&context, 0, sizeof context);
    memset(&init, 0, sizeof init);
    memcpy(init.PortName, port_name, strlen(port_name)); /* at most 11, checked at open */
    init.OpenRequested = 1;
    init.PollInterval = 10; /* a read time-out of 100 ms */
    init.BaudRate = 9600;
    init.DataBits = 8;
    ind_check_context("Init");
    IND_CHECK_INT(call(KOR_FUNC_INIT, &init), KOR_OK);

    check_version_and_clock();
    check_alarm_reports();
    check_camera_lists();
    check_read_failures();
    check_writes();
    check_write_failures();

    call(KOR_FUNC_EXIT, NULL);
    close(master);
    return ind_check_done("protocol");
}
