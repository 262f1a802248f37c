/* The records that the host and the roderavo driver exchange through KorMain.
 *
 * Every record is a plain C struct with fixed-width fields in the order the host
 * expects. On 32-bit targets the layout is the host's binary interface and every
 * offset is checked below; on 64-bit Linux the pointer fields take their natural
 * size and alignment and nothing else changes. */
#ifndef RODERAVO_KOR_H
#define RODERAVO_KOR_H
#define RODERAVO_TREE_KOR_H 1 /* the tree's own copy, as the layer probes ask */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The function numbers of KorCall.FunctionNumber. 8, 9 and 17 are empty slots;
 * they and every number outside 1..17 are refused with KOR_NO_OPERATION. */
enum KorFunction {
    KOR_FUNC_INIT = 1,
    KOR_FUNC_WARM_START = 2,
    KOR_FUNC_SINGLE_PARSE = 3,
    KOR_FUNC_BLOCK_PARSE = 4,
    KOR_FUNC_SINGLE_READ = 5,
    KOR_FUNC_BLOCK_READ = 6,
    KOR_FUNC_SINGLE_WRITE = 7,
    KOR_FUNC_BLOCK_WRITE = 10,
    KOR_FUNC_EXIT = 11,
    KOR_FUNC_CLOSE_PORT = 12,
    KOR_FUNC_OPEN_PORT = 13,
    KOR_FUNC_GET_INFO = 14,
    KOR_FUNC_SET_PORT = 15,
    KOR_FUNC_TAG_FORMAT_DIALOG = 16,
    KOR_FUNC_LAST = 17 /* the highest number the table has a slot for */
};

/* What KorMain returns. After KOR_COMM_FAILURE the thread's last error (errno,
 * GetLastError) holds the system's error of the port call that failed, or 0 when
 * none failed (no answer in time). */
enum KorResult {
    KOR_OK = 0,
    KOR_REFUSED = 1,        /* refused, rejected, or an unusable reply */
    KOR_COMM_FAILURE = 2,   /* the line failed */
    KOR_NO_OPERATION = 2,   /* no such operation: the same code as a line failure */
    KOR_DIALOG_REFUSED = 53 /* the dialog is busy or was not closed with OK */
};

/* GateParams.ValueKind and ParseParams.ValueKind. */
enum KorValueKind { KOR_VALUE_NUMBER = 0, KOR_VALUE_TEXT = 7 };

/* GateParams.AccessClass, as SingleParse records it. */
enum KorAccessClass {
    KOR_ACCESS_COMPANION = 0, /* filled while another gate is read */
    KOR_ACCESS_WRITE_ONLY = 1,
    KOR_ACCESS_READ_ONLY = 2,
    KOR_ACCESS_READ_WRITE = 3
};

/* The open serial port of an instance. Zero means "no port". On Win32 this is the
 * communications HANDLE, on POSIX the port's descriptor (never 0). */
#ifdef _WIN32
typedef void* KorPortHandle;
#else
typedef uint32_t KorPortHandle;
#endif

/* Port name and line parameters (22 bytes). */
typedef struct PortSettings {
    char PortName[12];     /* zero-terminated, at most 11 characters */
    uint16_t BaudRate;     /* bits per second */
    uint16_t DataBits;     /* low 8 bits used */
    uint16_t StopBits;     /* 0 one, 1 one and a half, 2 two */
    uint16_t Parity;       /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
    uint16_t ControlFlags; /* DTR/RTS control bits */
} PortSettings;

/* Per-instance state, owned by the host, one per serial line. */
typedef struct DriverContext {
    int32_t PollInterval;
    KorPortHandle PortHandle;
    uint32_t PortFlag;
    PortSettings Settings;
    uint8_t ClientId;
} DriverContext;

/* The call record of every KorMain call. */
typedef struct KorCall {
    DriverContext* Context;
    uint32_t FunctionNumber; /* 1..17 */
    int32_t InstanceNumber;
    uint32_t Reserved;
    void* Params;
} KorCall;

/* Parameter block of SingleRead (5) and SingleWrite (7). */
typedef struct GateParams {
    const char* Address; /* the gate's address text (GAS) */
    uint32_t HostField2;
    int32_t plcNum;      /* multiplexer number recorded by SingleParse */
    int32_t AccessClass; /* 0 companion, 1 write only, 2 read only, 3 read and write */
    int32_t Recorded5;
    int32_t Recorded6;
    int32_t Recorded7;
    int32_t ValueKind; /* 0 number, 7 text */
    uint32_t HostField9;
    uint32_t HostField10;
    void* Value; /* text buffer, or a KorNumberValue for number gates */
} GateParams;

/* The value record of a number gate: bytes 2-3 hold the number. */
typedef struct KorNumberValue {
    uint16_t Head;
    uint16_t Number;
} KorNumberValue;

/* Parameter block of SingleParse (3). */
typedef struct ParseParams {
    const char* Address;
    uint32_t HostField2;
    int32_t ValueKind;
    uint32_t HostField4;
    int32_t plcNum;      /* out */
    int32_t AccessClass; /* out */
    int32_t Reserved1;   /* out: always 0 */
    int32_t Reserved2;   /* out: always -1 */
    int32_t Reserved3;   /* out: always 16 */
} ParseParams;

/* Parameter block of Init (1), 28 bytes. */
typedef struct InitParams {
    char PortName[12];
    uint32_t OpenRequested;
    int32_t PollInterval; /* units of 10 ms */
    uint16_t BaudRate;
    uint16_t DataBits;
    uint16_t StopBits;
    uint16_t Parity;
} InitParams;

/* Parameter block of SetPort (15), 24 bytes. */
typedef struct SetPortParams {
    char PortName[12];
    int32_t PollInterval; /* 0 keeps the current one */
    uint16_t BaudRate;
    uint16_t DataBits;
    uint16_t StopBits;
    uint16_t Parity;
} SetPortParams;

/* The record GetInfo (14) fills. */
typedef struct DriverInfo {
    uint32_t Word1;
    const char* DriverName;
    const char* InfoBanner;
    uint32_t Word4;
    uint32_t Word5;
    uint16_t BaudRate;
    uint16_t DataBits;
    uint16_t StopBits;
    uint16_t Parity;
    uint32_t Word8;
} DriverInfo;

/* Parameter block of TagFormatDialog (16). */
typedef struct TagFormatParams {
    char* Buffer; /* receives the composed address, at least 9 bytes */
} TagFormatParams;

/* Parameter block of BlockParse (4). */
typedef struct BlockParseParams {
    const char* Address;
} BlockParseParams;

#if defined(_WIN32)
#define KOR_EXPORT __declspec(dllexport)
#define KOR_CALL __cdecl
#else
#define KOR_EXPORT __attribute__((visibility("default")))
#define KOR_CALL
#endif

/* The driver's only export. On 32-bit Windows it is cdecl (the caller removes the
 * argument) and exported undecorated, as "KorMain", from RODERAVO.DLL; elsewhere it
 * is a plain C function. The host calls it on one thread, one operation at a time;
 * it returns a KorResult. */
KOR_EXPORT int32_t KOR_CALL KorMain(KorCall* call);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout checks, for C++11 and C11 compilers alike. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#include <cstddef>
#define KOR_LAYOUT_ASSERT(condition, message) static_assert(condition, message)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#include <stddef.h>
#define KOR_LAYOUT_ASSERT(condition, message) _Static_assert(condition, message)
#endif

#ifdef KOR_LAYOUT_ASSERT
KOR_LAYOUT_ASSERT(sizeof(PortSettings) == 22, "PortSettings is 22 bytes");
KOR_LAYOUT_ASSERT(offsetof(DriverContext, PollInterval) == 0, "DriverContext layout");
KOR_LAYOUT_ASSERT(offsetof(DriverContext, PortHandle) == 4, "DriverContext layout");
KOR_LAYOUT_ASSERT(offsetof(DriverContext, PortFlag) == 8, "DriverContext layout");
KOR_LAYOUT_ASSERT(offsetof(DriverContext, Settings) == 12, "DriverContext layout");
KOR_LAYOUT_ASSERT(offsetof(DriverContext, ClientId) == 34, "DriverContext layout");
KOR_LAYOUT_ASSERT(sizeof(InitParams) == 28, "InitParams is 28 bytes");
KOR_LAYOUT_ASSERT(offsetof(InitParams, OpenRequested) == 12, "InitParams layout");
KOR_LAYOUT_ASSERT(offsetof(InitParams, PollInterval) == 16, "InitParams layout");
KOR_LAYOUT_ASSERT(offsetof(InitParams, BaudRate) == 20, "InitParams layout");
KOR_LAYOUT_ASSERT(offsetof(InitParams, Parity) == 26, "InitParams layout");
KOR_LAYOUT_ASSERT(sizeof(SetPortParams) == 24, "SetPortParams is 24 bytes");
KOR_LAYOUT_ASSERT(offsetof(SetPortParams, PollInterval) == 12, "SetPortParams layout");
KOR_LAYOUT_ASSERT(offsetof(SetPortParams, BaudRate) == 16, "SetPortParams layout");
KOR_LAYOUT_ASSERT(offsetof(SetPortParams, Parity) == 22, "SetPortParams layout");
KOR_LAYOUT_ASSERT(offsetof(KorNumberValue, Number) == 2, "number at bytes 2-3");
#if defined(_WIN32) || (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4)
KOR_LAYOUT_ASSERT(offsetof(KorCall, FunctionNumber) == 4, "KorCall layout");
KOR_LAYOUT_ASSERT(offsetof(KorCall, InstanceNumber) == 8, "KorCall layout");
KOR_LAYOUT_ASSERT(offsetof(KorCall, Reserved) == 12, "KorCall layout");
KOR_LAYOUT_ASSERT(offsetof(KorCall, Params) == 16, "KorCall layout");
KOR_LAYOUT_ASSERT(sizeof(KorCall) == 20, "KorCall is five words");
KOR_LAYOUT_ASSERT(offsetof(GateParams, HostField2) == 4, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, plcNum) == 8, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, AccessClass) == 12, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, Recorded5) == 16, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, Recorded7) == 24, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, ValueKind) == 28, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, HostField9) == 32, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, HostField10) == 36, "GateParams layout");
KOR_LAYOUT_ASSERT(offsetof(GateParams, Value) == 40, "GateParams layout");
KOR_LAYOUT_ASSERT(sizeof(GateParams) == 44, "GateParams is eleven words");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, HostField2) == 4, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, ValueKind) == 8, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, HostField4) == 12, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, plcNum) == 16, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, AccessClass) == 20, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, Reserved1) == 24, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, Reserved2) == 28, "ParseParams layout");
KOR_LAYOUT_ASSERT(offsetof(ParseParams, Reserved3) == 32, "ParseParams layout");
KOR_LAYOUT_ASSERT(sizeof(ParseParams) == 36, "ParseParams is nine words");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, DriverName) == 4, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, InfoBanner) == 8, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, Word4) == 12, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, Word5) == 16, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, BaudRate) == 20, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, Parity) == 26, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(DriverInfo, Word8) == 28, "DriverInfo layout");
KOR_LAYOUT_ASSERT(offsetof(TagFormatParams, Buffer) == 0, "TagFormatParams layout");
#endif
#undef KOR_LAYOUT_ASSERT
#endif

#endif /* RODERAVO_KOR_H */
