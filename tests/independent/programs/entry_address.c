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
        {0, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function -1", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {KOR_FUNC_LAST + 1, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function 17", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {100, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function 99", TRACE,
         "VERODI: Exited KorMain() invalid function number"},
        {8, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function 7", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {9, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function 8", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {KOR_FUNC_LAST, KOR_NO_OPERATION, "VERODI: Entered KorMain(), with function 16", TRACE,
         "VERODI: Exited KorMain() pointer in KorFunc[] is NULL"},
        {KOR_FUNC_BLOCK_READ, KOR_REFUSED, "VERODI: Entered KorMain(), with function 5", EVENT,
         "VERODI: KOR does not support block read."},
        {KOR_FUNC_BLOCK_WRITE, KOR_REFUSED, "VERODI: Entered KorMain(), with function 9", EVENT,
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
        IND_CHECK_INT(call(KOR_FUNC_BLOCK_PARSE, &block), KOR_REFUSED);
        IND_CHECK_LOG(lines, 2);
    }
}

/* Addresses. */

enum { PASS, SILENT, INVALID };

/* Short names for the table's value kinds and access classes. */
enum {
    NUM = KOR_VALUE_NUMBER,
    TEXT = KOR_VALUE_TEXT,
    COMPANION = KOR_ACCESS_COMPANION,
    WO = KOR_ACCESS_WRITE_ONLY,
    RO = KOR_ACCESS_READ_ONLY,
    RW = KOR_ACCESS_READ_WRITE
};

typedef struct {
    const char* address;
    int32_t value_kind;
    int outcome;
    int32_t plc;          /* when accepted */
    int32_t access_class; /* when accepted */
} ParseCase;

static const ParseCase parse_cases[] = {
    /* The accepted forms, one or more per mnemonic. */
    {"KEY0", NUM, PASS, 0, WO},
    {"key0", NUM, PASS, 0, WO},
    {"KEY4", NUM, PASS, 4, WO},
    {"PTZ0", NUM, PASS, 0, WO},
    {"ptz3", NUM, PASS, 3, WO},
    {"CAA", NUM, PASS, 0, WO},
    {"caa", NUM, PASS, 0, WO},
    {"AAS1", NUM, PASS, 1, RO},
    {"AAS4", NUM, PASS, 4, RO},
    {"VLS0", NUM, PASS, 0, RO},
    {"VLS4", NUM, PASS, 4, RO},
    {"ALS001", NUM, PASS, 0, RO},
    {"ALS005", NUM, PASS, 0, RO},
    {"ALS020", NUM, PASS, 0, RO},
    {"ALS121", NUM, PASS, 1, RO},
    {"ALS140", NUM, PASS, 1, RO},
    {"ALS241", NUM, PASS, 2, RO},
    {"ALS380", NUM, PASS, 3, RO},
    {"ALS360", NUM, SILENT, 0, 0},
    {"ALS481", NUM, PASS, 4, RO},
    {"ALS499", NUM, PASS, 4, RO},
    {"Als499", NUM, PASS, 4, RO},
    {"VER4", TEXT, PASS, 4, RO},
    {"VER2", TEXT, PASS, 2, RO},
    {"JOY0", TEXT, PASS, 0, WO},
    {"TAD1", TEXT, PASS, 1, RW},
    {"tad4", TEXT, PASS, 4, RW},
    {"IHK0070", TEXT, PASS, 0, WO},
    {"IHK2075", TEXT, PASS, 2, WO},
    {"IHK1077", TEXT, PASS, 1, WO},
    {"IHK3079", TEXT, PASS, 3, WO},
    {"IHK4083", TEXT, PASS, 4, WO},
    {"IHK4118", TEXT, PASS, 4, WO},
    {"ihk0070", TEXT, PASS, 0, WO},
    {"INHPAIR3", TEXT, PASS, 3, WO},
    {"inhpair0", TEXT, PASS, 0, WO},
    {"PRESET0", TEXT, PASS, 0, WO},
    {"Preset4", TEXT, PASS, 4, WO},
    {"TAS005", TEXT, PASS, 0, COMPANION},
    {"TAS361", TEXT, PASS, 3, COMPANION},
    {"SAC241", NUM, PASS, 2, COMPANION},
    {"SAC121", NUM, PASS, 1, COMPANION},
    {"SVC020", NUM, PASS, 0, COMPANION},
    {"svc481", NUM, PASS, 4, COMPANION},
    /* Camera 100, the last camera of multiplexer 4. */
    {"ALS4100", NUM, PASS, 4, RO},
    {"als4100", NUM, PASS, 4, RO},
    {"TAS4100", TEXT, PASS, 4, COMPANION},
    {"SAC4100", NUM, PASS, 4, COMPANION},
    {"SVC4100", NUM, PASS, 4, COMPANION},
    /* Rejected without a log line: wrong length, character, camera, code or kind. */
    {"CAA0", NUM, SILENT, 0, 0},
    {"CAA", TEXT, SILENT, 0, 0},
    {"KEY5", NUM, SILENT, 0, 0},
    {"KEYA", NUM, SILENT, 0, 0},
    {"KEY", NUM, SILENT, 0, 0},
    {"KEY00", NUM, SILENT, 0, 0},
    {"KEY0", TEXT, SILENT, 0, 0},
    {"KEY0", 1, SILENT, 0, 0},
    {"KEY0", -1, SILENT, 0, 0},
    {"PTZ0", TEXT, SILENT, 0, 0},
    {"AAS5", NUM, SILENT, 0, 0},
    {"AAS1X", NUM, SILENT, 0, 0},
    {"VLS1", TEXT, SILENT, 0, 0},
    {"ALS000", NUM, SILENT, 0, 0},
    {"ALS021", NUM, SILENT, 0, 0},
    {"ALS101", NUM, SILENT, 0, 0},
    {"ALS12X", NUM, SILENT, 0, 0},
    {"ALS1A1", NUM, SILENT, 0, 0},
    {"ALS521", NUM, SILENT, 0, 0},
    {"ALS480", NUM, SILENT, 0, 0},
    {"ALS400", NUM, SILENT, 0, 0},
    {"ALS0", NUM, SILENT, 0, 0},
    {"ALS005", TEXT, SILENT, 0, 0},
    {"SAC005", TEXT, SILENT, 0, 0},
    {"SVC005", TEXT, SILENT, 0, 0},
    {"TAS005", NUM, SILENT, 0, 0},
    {"TASK", TEXT, SILENT, 0, 0},
    {"VER2", NUM, SILENT, 0, 0},
    {"VER", TEXT, SILENT, 0, 0},
    {"VERSION", TEXT, SILENT, 0, 0},
    {"JOY1", NUM, SILENT, 0, 0},
    {"TAD1", NUM, SILENT, 0, 0},
    {"IHK0071", TEXT, SILENT, 0, 0},
    {"IHK007", TEXT, SILENT, 0, 0},
    {"IHK5070", TEXT, SILENT, 0, 0},
    {"IHKX070", TEXT, SILENT, 0, 0},
    {"IHK0070", NUM, SILENT, 0, 0},
    {"IHK00700", TEXT, SILENT, 0, 0},
    {"INHPAIRX", TEXT, SILENT, 0, 0},
    {"INHPAIR5", TEXT, SILENT, 0, 0},
    {"INHPAIR3", NUM, SILENT, 0, 0},
    {"PRESET5", TEXT, SILENT, 0, 0},
    {"PRESETX", TEXT, SILENT, 0, 0},
    {"PRESET0", NUM, SILENT, 0, 0},
    /* Seven-character camera forms other than camera 100 of multiplexer 4. */
    {"ALS3100", NUM, SILENT, 0, 0},
    {"ALS0100", NUM, SILENT, 0, 0},
    {"ALS4101", NUM, SILENT, 0, 0},
    {"ALS4099", NUM, SILENT, 0, 0},
    {"ALS4010", NUM, SILENT, 0, 0},
    {"ALS41O0", NUM, SILENT, 0, 0},
    {"ALS41000", NUM, SILENT, 0, 0},
    {"ALS1210", NUM, SILENT, 0, 0},
    {"TAS4100", NUM, SILENT, 0, 0},
    {"SAC4100", TEXT, SILENT, 0, 0},
    {"SVC4100", TEXT, SILENT, 0, 0},
    {"AAS4100", NUM, SILENT, 0, 0},
    {"VLS4100", NUM, SILENT, 0, 0},
    {"KEY4100", NUM, SILENT, 0, 0},
    /* Bytes above 0x7F are not folded and match nothing. */
    {"KEY\xB4", NUM, SILENT, 0, 0},
    {"ALS\xB1"
     "21",
     NUM, SILENT, 0, 0},
    {"KEY0\xE9", NUM, SILENT, 0, 0},
    /* Rejected with the log line: no mnemonic found. */
    {"INHPAIR", TEXT, INVALID, 0, 0},
    {"PRESET", TEXT, INVALID, 0, 0},
    {"PRESET12", TEXT, INVALID, 0, 0},
    {"PRESET00", TEXT, INVALID, 0, 0},
    {"INHPAIR33", TEXT, INVALID, 0, 0},
    {"INHPAI", TEXT, INVALID, 0, 0},
    {"XYZ1", NUM, INVALID, 0, 0},
    {"KE", NUM, INVALID, 0, 0},
    {"K", NUM, INVALID, 0, 0},
    {"", NUM, INVALID, 0, 0},
    {" KEY0", NUM, INVALID, 0, 0},
    {"\xCB\xC5\xD9"
     "0",
     NUM, INVALID, 0, 0},
    {"\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9", NUM, INVALID, 0, 0},
    {"KEY{", NUM, SILENT, 0, 0},
    {"{EY0", NUM, INVALID, 0, 0},
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
    IND_CHECK_INT(call(KOR_FUNC_SINGLE_PARSE, &params), outcome == PASS ? KOR_OK : KOR_REFUSED);

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
    check_one_parse(long_address, NUM, INVALID, 0, 0);
    memcpy(long_address, "KEY0", 4);
    ind_check_context("parse KEY0 + 4092 x X");
    check_one_parse(long_address, NUM, SILENT, 0, 0);
    memcpy(long_address, "INHPAIR3", 8);
    ind_check_context("parse INHPAIR3 + 4088 x X");
    check_one_parse(long_address, TEXT, INVALID, 0, 0);
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
