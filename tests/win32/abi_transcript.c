/* The driver's binary interface as a transcript: GetInfo, the entry cases (function
 * numbers out of range, empty slots, the refused block operations) and every
 * address form through SingleParse with each value kind, each with its result,
 * its output words and the log lines the host received. The same program runs on
 * Linux against libroderavo.so and under wine against RODERAVO.DLL; the two
 * transcripts must be identical byte for byte.
 *
 * On Windows it is a foreign host: its ZANPRO.dll is the independent host library
 * (ind_host.c), and it builds every record as raw bytes at the 32-bit offsets,
 * without kor.h. On Linux it uses kor.h's records and loads the driver through
 * ind_load_driver. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ind_host.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <roderavo/kor.h>

#include "ind_check.h"
#endif

typedef int32_t (*KorMainFunction)(void* call);
static KorMainFunction kor_main;

/* Records. GetInfo's answer, as both sides read it: */
typedef struct {
    uint32_t word1, word4, word5, word8;
    uint16_t baud, data_bits, stop_bits, parity;
    const char* name;
    const char* banner;
} Info;

#ifdef _WIN32
/* The 32-bit layouts: every field four bytes wide unless said otherwise. */
enum { CALL_SIZE = 20, CONTEXT_SIZE = 36, PARSE_SIZE = 36, INFO_SIZE = 32 };

static void put32(unsigned char* record, size_t offset, uint32_t value) {
    memcpy(record + offset, &value, 4);
}
static void put_pointer(unsigned char* record, size_t offset, const void* pointer) {
    put32(record, offset, (uint32_t)(uintptr_t)pointer);
}
static uint32_t get32(const unsigned char* record, size_t offset) {
    uint32_t value;
    memcpy(&value, record + offset, 4);
    return value;
}
static uint16_t get16(const unsigned char* record, size_t offset) {
    uint16_t value;
    memcpy(&value, record + offset, 2);
    return value;
}
static const char* get_text(const unsigned char* record, size_t offset) {
    return (const char*)(uintptr_t)get32(record, offset);
}

static int32_t call(uint32_t function, void* params) {
    unsigned char context[CONTEXT_SIZE];
    unsigned char record[CALL_SIZE];
    memset(context, 0, sizeof context);
    memset(record, 0, sizeof record);
    put_pointer(record, 0, context);
    put32(record, 4, function);
    put32(record, 8, 1); /* InstanceNumber */
    put_pointer(record, 16, params);
    return kor_main(record);
}

static int32_t parse(const char* address, int32_t kind, int32_t words[5]) {
    unsigned char record[PARSE_SIZE];
    int32_t result;
    size_t i;
    memset(record, 0x77, sizeof record); /* the parse presets its output words */
    put_pointer(record, 0, address);
    put32(record, 8, (uint32_t)kind);
    result = call(3, record);
    for (i = 0; i < 5; ++i) words[i] = (int32_t)get32(record, 16 + 4 * i);
    return result;
}

static int32_t get_info(Info* info) {
    unsigned char record[INFO_SIZE];
    int32_t result;
    memset(record, 0, sizeof record);
    result = call(14, record);
    info->word1 = get32(record, 0);
    info->name = get_text(record, 4);
    info->banner = get_text(record, 8);
    info->word4 = get32(record, 12);
    info->word5 = get32(record, 16);
    info->baud = get16(record, 20);
    info->data_bits = get16(record, 22);
    info->stop_bits = get16(record, 24);
    info->parity = get16(record, 26);
    info->word8 = get32(record, 28);
    return result;
}

static int32_t block_parse(const char* address) {
    unsigned char record[4];
    put_pointer(record, 0, address);
    return call(4, record);
}

static void load_driver(void) {
    HMODULE driver = LoadLibraryA("RODERAVO.DLL");
    HMODULE host = GetModuleHandleA("ZANPRO.dll");
    FARPROC entry;
    if (driver == NULL) {
        fprintf(stderr, "abi_transcript: RODERAVO.DLL does not load (error %lu)\n",
                (unsigned long)GetLastError());
        exit(2);
    }
    /* The driver must have bound to this host's own ZANPRO.dll. */
    if (host == NULL || GetProcAddress(host, "ind_log_count") == NULL) {
        fprintf(stderr, "abi_transcript: the driver did not bind to the foreign ZANPRO.dll\n");
        exit(2);
    }
    entry = GetProcAddress(driver, "KorMain");
    if (entry == NULL) {
        fprintf(stderr, "abi_transcript: RODERAVO.DLL has no KorMain\n");
        exit(2);
    }
    memcpy(&kor_main, &entry, sizeof kor_main);
    _setmode(_fileno(stdout), _O_BINARY);
}

#else
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

static int32_t parse(const char* address, int32_t kind, int32_t words[5]) {
    ParseParams params;
    int32_t result;
    memset(&params, 0x77, sizeof params);
    params.Address = address;
    params.ValueKind = kind;
    result = call(3, &params);
    words[0] = params.plcNum;
    words[1] = params.AccessClass;
    words[2] = params.Reserved1;
    words[3] = params.Reserved2;
    words[4] = params.Reserved3;
    return result;
}

static int32_t get_info(Info* info) {
    DriverInfo record;
    int32_t result;
    memset(&record, 0, sizeof record);
    result = call(14, &record);
    info->word1 = record.Word1;
    info->name = record.DriverName;
    info->banner = record.InfoBanner;
    info->word4 = record.Word4;
    info->word5 = record.Word5;
    info->baud = record.BaudRate;
    info->data_bits = record.DataBits;
    info->stop_bits = record.StopBits;
    info->parity = record.Parity;
    info->word8 = record.Word8;
    return result;
}

static int32_t block_parse(const char* address) {
    BlockParseParams params;
    params.Address = address;
    return call(4, &params);
}

static void load_driver(void) {
    IndKorMain entry = ind_load_driver();
    memcpy(&kor_main, &entry, sizeof kor_main);
}
#endif

/* The transcript. */

/* A text with every byte outside printable ASCII as \xNN. */
static void put_text(const char* text) {
    const unsigned char* c;
    if (text == NULL) {
        fputs("(null)", stdout);
        return;
    }
    putchar('"');
    for (c = (const unsigned char*)text; *c != 0; ++c) {
        if (*c >= 0x20 && *c < 0x7F && *c != '\\' && *c != '"')
            putchar(*c);
        else
            printf("\\x%02X", *c);
    }
    putchar('"');
}

static void put_log(void) {
    size_t i;
    for (i = 0; i < ind_log_count(); ++i) {
        printf("    [%d] ", (int)ind_log_level(i));
        put_text(ind_log_text(i));
        putchar('\n');
    }
    ind_log_clear();
}

static void transcribe_info(void) {
    Info info;
    const int32_t result = get_info(&info);
    printf("GetInfo -> %d: words %u %u %u %u, line %u %u %u %u, name ", (int)result,
           (unsigned)info.word1, (unsigned)info.word4, (unsigned)info.word5, (unsigned)info.word8,
           info.baud, info.data_bits, info.stop_bits, info.parity);
    put_text(info.name);
    fputs(", banner ", stdout);
    put_text(info.banner);
    putchar('\n');
    put_log();
}

static void transcribe_entry(void) {
    static const uint32_t functions[] = {0, 6, 8, 9, 10, 17, 18, 100, 0x80000000u, 0xFFFFFFFFu};
    size_t i;
    int32_t junk = 12345;
    for (i = 0; i < sizeof functions / sizeof functions[0]; ++i) {
        printf("function %u -> %d\n", (unsigned)functions[i], (int)call(functions[i], &junk));
        put_log();
    }
    printf("BlockParse ALS121 -> %d\n", (int)block_parse("ALS121"));
    put_log();
}

/* The address forms: every command word with every shape of tail the grammar
 * knows (multiplexer digit, camera, camera 100, subcommand code) and wrong ones. */
static void transcribe_parse(void) {
    static const char* const words[] = {"KEY", "PTZ", "ALS", "CAA", "AAS",     "VLS",
                                        "VER", "IHK", "TAD", "JOY", "INHPAIR", "PRESET",
                                        "TAS", "SAC", "SVC", "XYZ", "KE",      ""};
    static const char* const tails[] = {"",     "0",    "4",    "5",    "X",    "00",  "005",
                                        "020",  "021",  "121",  "140",  "499",  "481", "4100",
                                        "3100", "0070", "2075", "4118", "0071", "12",  "1210"};
    static const int32_t kinds[] = {0, 7, 1, -1};
    size_t w, t, k;
    char address[32];
    for (w = 0; w < sizeof words / sizeof words[0]; ++w) {
        for (t = 0; t < sizeof tails / sizeof tails[0]; ++t) {
            snprintf(address, sizeof address, "%s%s", words[w], tails[t]);
            for (k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
                int32_t out[5];
                const int32_t result = parse(address, kinds[k], out);
                printf("parse \"%s\" kind %d -> %d: %d %d %d %d %d\n", address, (int)kinds[k],
                       (int)result, (int)out[0], (int)out[1], (int)out[2], (int)out[3],
                       (int)out[4]);
                put_log();
            }
        }
    }
    {
        /* Case folding and bytes above 0x7F. */
        static const char* const odd[] = {"key1",
                                          "Als121",
                                          "tas4100",
                                          "ihk0070",
                                          "KEY\xB4",
                                          "\xCB\xC5\xD9"
                                          "0",
                                          " KEY0",
                                          "KEY{",
                                          "{EY0"};
        for (w = 0; w < sizeof odd / sizeof odd[0]; ++w) {
            int32_t out[5];
            const int32_t result = parse(odd[w], 0, out);
            fputs("parse ", stdout);
            put_text(odd[w]);
            printf(" kind 0 -> %d: %d %d %d %d %d\n", (int)result, (int)out[0], (int)out[1],
                   (int)out[2], (int)out[3], (int)out[4]);
            put_log();
        }
    }
}

int main(void) {
    load_driver();
    ind_reset();
    transcribe_info();
    transcribe_entry();
    transcribe_parse();
    printf("clients %u\n", (unsigned)ind_client_count());
    return 0;
}
