/* The driver seen from an independent C host: every KorMain entry case and every
 * address form, accepted and rejected, with its result, output words and log
 * lines, byte for byte. */
#include <stdio.h>
#include <string.h>

#include <roderavo/kor.h>

#include "ind_check.h"
#include "ind_host.h"

#define TRACE 8
#define EVENT 32
#define HOST_MARK 0xA5A5A5A5u

static IndKorMain kor_main;

static int32_t call(uint32_t function, void* params) {
    DriverContext context;
    KorCall record;
    memset(&context, 0, sizeof context);
    memset(&record, 0, sizeof record);
    record.Context = &context;
    record.FunctionNumber = function;
    record.InstanceNumber = 1;
    record.Params = params;
    return kor_main(&record);
}

/* Entry point and operation table. */

typedef struct {
    uint32_t function;
    int32_t result;
    const char* entry_line;
    int32_t second_level;
    const char* second_line;
} EntryCase;

static void check_entry(void) {
    static const EntryCase cases[] = {
        {0, 2, "VERODI: Entered KorMain(), with function -1", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {18, 2, "VERODI: Entered KorMain(), with function 17", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {100, 2, "VERODI: Entered KorMain(), with function 99", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {8, 2, "VERODI: Entered KorMain(), with function 7", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {9, 2, "VERODI: Entered KorMain(), with function 8", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {17, 2, "VERODI: Entered KorMain(), with function 16", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {6, 1, "VERODI: Entered KorMain(), with function 5", EVENT,
         "VERODI: KOR does not support block read."},
        {10, 1, "VERODI: Entered KorMain(), with function 9", EVENT,
         "VERODI: Block Write not supported!"},
    };
    size_t i;
    int32_t junk = 12345; /* Params of the block reads and writes is not read */
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char label[64];
        IndExpectedLine lines[2];
        snprintf(label, sizeof label, "function %u", (unsigned)cases[i].function);
        ind_check_context(label);
        ind_log_clear();
        IND_CHECK_INT(call(cases[i].function, &junk), cases[i].result);
        lines[0].level = TRACE;
        lines[0].text = cases[i].entry_line;
        lines[1].level = cases[i].second_level;
        lines[1].text = cases[i].second_line;
        IND_CHECK_LOG(lines, 2);
    }

    {
        BlockParseParams block;
        const IndExpectedLine lines[] = {
            {TRACE, "VERODI: Entered KorMain(), with function 3"},
            {EVENT, "VERODI: Block Parse failed Tag 'ALS121', No block Support"}};
        ind_check_context("function 4");
        block.Address = "ALS121";
        ind_log_clear();
        IND_CHECK_INT(call(4, &block), 1);
        IND_CHECK_LOG(lines, 2);
    }
}

/* Addresses. */

enum { PASS, SILENT, INVALID };

typedef struct {
    const char* address;
    int32_t value_kind;
    int outcome;
    int32_t plc;          /* when accepted */
    int32_t access_class; /* when accepted */
} ParseCase;

static const ParseCase parse_cases[] = {
    /* The accepted forms, one or more per mnemonic. */
    {"KEY0", 0, PASS, 0, 1},
    {"key0", 0, PASS, 0, 1},
    {"KEY4", 0, PASS, 4, 1},
    {"PTZ0", 0, PASS, 0, 1},
    {"ptz3", 0, PASS, 3, 1},
    {"CAA", 0, PASS, 0, 1},
    {"caa", 0, PASS, 0, 1},
    {"AAS1", 0, PASS, 1, 2},
    {"AAS4", 0, PASS, 4, 2},
    {"VLS0", 0, PASS, 0, 2},
    {"VLS4", 0, PASS, 4, 2},
    {"ALS001", 0, PASS, 0, 2},
    {"ALS005", 0, PASS, 0, 2},
    {"ALS020", 0, PASS, 0, 2},
    {"ALS121", 0, PASS, 1, 2},
    {"ALS140", 0, PASS, 1, 2},
    {"ALS241", 0, PASS, 2, 2},
    {"ALS380", 0, PASS, 3, 2},
    {"ALS360", 0, SILENT, 0, 0},
    {"ALS481", 0, PASS, 4, 2},
    {"ALS499", 0, PASS, 4, 2},
    {"Als499", 0, PASS, 4, 2},
    {"VER4", 7, PASS, 4, 2},
    {"VER2", 7, PASS, 2, 2},
    {"JOY0", 7, PASS, 0, 1},
    {"TAD1", 7, PASS, 1, 3},
    {"tad4", 7, PASS, 4, 3},
    {"IHK0070", 7, PASS, 0, 1},
    {"IHK2075", 7, PASS, 2, 1},
    {"IHK1077", 7, PASS, 1, 1},
    {"IHK3079", 7, PASS, 3, 1},
    {"IHK4083", 7, PASS, 4, 1},
    {"IHK4118", 7, PASS, 4, 1},
    {"ihk0070", 7, PASS, 0, 1},
    {"INHPAIR3", 7, PASS, 3, 1},
    {"inhpair0", 7, PASS, 0, 1},
    {"PRESET0", 7, PASS, 0, 1},
    {"Preset4", 7, PASS, 4, 1},
    {"TAS005", 7, PASS, 0, 0},
    {"TAS361", 7, PASS, 3, 0},
    {"SAC241", 0, PASS, 2, 0},
    {"SAC121", 0, PASS, 1, 0},
    {"SVC020", 0, PASS, 0, 0},
    {"svc481", 0, PASS, 4, 0},
    /* Camera 100, the last camera of multiplexer 4. */
    {"ALS4100", 0, PASS, 4, 2},
    {"als4100", 0, PASS, 4, 2},
    {"TAS4100", 7, PASS, 4, 0},
    {"SAC4100", 0, PASS, 4, 0},
    {"SVC4100", 0, PASS, 4, 0},
    /* Rejected without a log line: wrong length, character, camera, code or kind. */
    {"CAA0", 0, SILENT, 0, 0},
    {"CAA", 7, SILENT, 0, 0},
    {"KEY5", 0, SILENT, 0, 0},
    {"KEYA", 0, SILENT, 0, 0},
    {"KEY", 0, SILENT, 0, 0},
    {"KEY00", 0, SILENT, 0, 0},
    {"KEY0", 7, SILENT, 0, 0},
    {"KEY0", 1, SILENT, 0, 0},
    {"KEY0", -1, SILENT, 0, 0},
    {"PTZ0", 7, SILENT, 0, 0},
    {"AAS5", 0, SILENT, 0, 0},
    {"AAS1X", 0, SILENT, 0, 0},
    {"VLS1", 7, SILENT, 0, 0},
    {"ALS000", 0, SILENT, 0, 0},
    {"ALS021", 0, SILENT, 0, 0},
    {"ALS101", 0, SILENT, 0, 0},
    {"ALS12X", 0, SILENT, 0, 0},
    {"ALS1A1", 0, SILENT, 0, 0},
    {"ALS521", 0, SILENT, 0, 0},
    {"ALS480", 0, SILENT, 0, 0},
    {"ALS400", 0, SILENT, 0, 0},
    {"ALS0", 0, SILENT, 0, 0},
    {"ALS005", 7, SILENT, 0, 0},
    {"SAC005", 7, SILENT, 0, 0},
    {"SVC005", 7, SILENT, 0, 0},
    {"TAS005", 0, SILENT, 0, 0},
    {"TASK", 7, SILENT, 0, 0},
    {"VER2", 0, SILENT, 0, 0},
    {"VER", 7, SILENT, 0, 0},
    {"VERSION", 7, SILENT, 0, 0},
    {"JOY1", 0, SILENT, 0, 0},
    {"TAD1", 0, SILENT, 0, 0},
    {"IHK0071", 7, SILENT, 0, 0},
    {"IHK007", 7, SILENT, 0, 0},
    {"IHK5070", 7, SILENT, 0, 0},
    {"IHKX070", 7, SILENT, 0, 0},
    {"IHK0070", 0, SILENT, 0, 0},
    {"IHK00700", 7, SILENT, 0, 0},
    {"INHPAIRX", 7, SILENT, 0, 0},
    {"INHPAIR5", 7, SILENT, 0, 0},
    {"INHPAIR3", 0, SILENT, 0, 0},
    {"PRESET5", 7, SILENT, 0, 0},
    {"PRESETX", 7, SILENT, 0, 0},
    {"PRESET0", 0, SILENT, 0, 0},
    /* Seven-character camera forms other than camera 100 of multiplexer 4. */
    {"ALS3100", 0, SILENT, 0, 0},
    {"ALS0100", 0, SILENT, 0, 0},
    {"ALS4101", 0, SILENT, 0, 0},
    {"ALS4099", 0, SILENT, 0, 0},
    {"ALS4010", 0, SILENT, 0, 0},
    {"ALS41O0", 0, SILENT, 0, 0},
    {"ALS41000", 0, SILENT, 0, 0},
    {"ALS1210", 0, SILENT, 0, 0},
    {"TAS4100", 0, SILENT, 0, 0},
    {"SAC4100", 7, SILENT, 0, 0},
    {"SVC4100", 7, SILENT, 0, 0},
    {"AAS4100", 0, SILENT, 0, 0},
    {"VLS4100", 0, SILENT, 0, 0},
    {"KEY4100", 0, SILENT, 0, 0},
    /* Bytes above 0x7F are not folded and match nothing. */
    {"KEY\xB4", 0, SILENT, 0, 0},
    {"ALS\xB1"
     "21",
     0, SILENT, 0, 0},
    {"KEY0\xE9", 0, SILENT, 0, 0},
    /* Rejected with the log line: no mnemonic found. */
    {"INHPAIR", 7, INVALID, 0, 0},
    {"PRESET", 7, INVALID, 0, 0},
    {"PRESET12", 7, INVALID, 0, 0},
    {"PRESET00", 7, INVALID, 0, 0},
    {"INHPAIR33", 7, INVALID, 0, 0},
    {"INHPAI", 7, INVALID, 0, 0},
    {"XYZ1", 0, INVALID, 0, 0},
    {"KE", 0, INVALID, 0, 0},
    {"K", 0, INVALID, 0, 0},
    {"", 0, INVALID, 0, 0},
    {" KEY0", 0, INVALID, 0, 0},
    {"\xCB\xC5\xD9"
     "0",
     0, INVALID, 0, 0},
    {"\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9", 0, INVALID, 0, 0},
    {"KEY{", 0, SILENT, 0, 0},
    {"{EY0", 0, INVALID, 0, 0},
};

static void check_one_parse(const char* address, int32_t value_kind, int outcome, int32_t plc,
                            int32_t access_class) {
    static char message[1024];
    ParseParams params;
    IndExpectedLine lines[2];
    size_t line_count = 1;
    char before[8192];
    const size_t length = strlen(address);

    snprintf(before, sizeof before, "%s", address);
    params.Address = address;
    params.HostField2 = HOST_MARK;
    params.ValueKind = value_kind;
    params.HostField4 = HOST_MARK;
    /* Garbage in the output words: the parse presets them. */
    params.plcNum = 77;
    params.AccessClass = 77;
    params.Reserved1 = 77;
    params.Reserved2 = 77;
    params.Reserved3 = 77;

    ind_log_clear();
    IND_CHECK_INT(call(3, &params), outcome == PASS ? 0 : 1);

    lines[0].level = TRACE;
    lines[0].text = "VERODI: Entered KorMain(), with function 2";
    if (outcome == PASS) {
        snprintf(message, sizeof message, "VERODI: GAS %s pass the Parse function.", address);
        lines[1].level = TRACE;
        lines[1].text = message;
        line_count = 2;
    } else if (outcome == INVALID) {
        lines[1].level = EVENT;
        lines[1].text = "VERODI: invalid chars in address";
        line_count = 2;
    }
    IND_CHECK_LOG(lines, line_count);

    IND_CHECK_INT(params.plcNum, outcome == PASS ? plc : 0);
    IND_CHECK_INT(params.AccessClass, outcome == PASS ? access_class : 0);
    IND_CHECK_INT(params.Reserved1, 0);
    IND_CHECK_INT(params.Reserved2, -1);
    IND_CHECK_INT(params.Reserved3, 16);
    IND_CHECK_INT(params.HostField2, HOST_MARK);
    IND_CHECK_INT(params.HostField4, HOST_MARK);
    IND_CHECK_INT(params.ValueKind, value_kind);
    IND_CHECK(params.Address == address);
    IND_CHECK(length < sizeof before && memcmp(before, address, length + 1) == 0);
}

static void check_parse(void) {
    static char long_address[4097];
    size_t i;
    for (i = 0; i < sizeof parse_cases / sizeof parse_cases[0]; ++i) {
        const ParseCase* c = &parse_cases[i];
        char label[64];
        snprintf(label, sizeof label, "parse \"%s\" kind %d", c->address, (int)c->value_kind);
        ind_check_context(label);
        check_one_parse(c->address, c->value_kind, c->outcome, c->plc, c->access_class);
        /* The same answer every time. */
        check_one_parse(c->address, c->value_kind, c->outcome, c->plc, c->access_class);
    }

    /* Long addresses: no form is longer than eight characters. */
    memset(long_address, 'X', sizeof long_address - 1);
    ind_check_context("parse 4096 x X");
    check_one_parse(long_address, 0, INVALID, 0, 0);
    memcpy(long_address, "KEY0", 4);
    ind_check_context("parse KEY0 + 4092 x X");
    check_one_parse(long_address, 0, SILENT, 0, 0);
    memcpy(long_address, "INHPAIR3", 8);
    ind_check_context("parse INHPAIR3 + 4088 x X");
    check_one_parse(long_address, 7, INVALID, 0, 0);
}

int main(void) {
    kor_main = ind_load_driver();
    ind_reset();
    check_entry();
    check_parse();
    {
        /* No client is needed to parse, and none was made. */
        ind_check_context("clients");
        IND_CHECK_INT(ind_client_count(), 0);
        IND_CHECK_INT(ind_log_cut(), 0);
    }
    return ind_check_done("entry_address");
}
