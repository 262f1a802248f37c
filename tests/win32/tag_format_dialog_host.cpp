// A foreign Win32 host of the Tag Format dialog: it loads RODERAVO.DLL from its
// own folder, calls KorMain with function 16 on one thread and drives the dialog
// from another by control ids, as a user would: picks (CB_SETCURSEL and the
// CBN_SELCHANGE notification), clicks (BM_CLICK), the plc arrows (WM_VSCROLL),
// OK, Cancel and Esc, and the "missing value!" box. Every message has a time
// limit, so a dialog that hangs fails the test instead of stopping it; OK, Cancel
// and Esc are posted (OK may run the box's own loop).
//
//   tag_format_dialog_host [SCREENSHOT.bmp]   runs every case; exit code 0 when all pass
//   tag_format_dialog_host --no-display       only: the dialog cannot be created, 53
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dialog/tag_format_ids.h"
#include "roderavo/kor.h"

namespace {

using KorMainFn = int32_t (*)(KorCall*);
KorMainFn korMain = nullptr;
int failures = 0;
std::string scenario;

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++failures;
    std::printf("FAIL [%s] %s\n", scenario.c_str(), what.c_str());
    std::fflush(stdout);
}

template <typename T>
void CheckEq(const T& got, const T& want, const std::string& what) {
    if (got == want) return;
    Check(false, what + ": got " + std::to_string(got) + ", want " + std::to_string(want));
}
void CheckEq(const std::string& got, const std::string& want, const std::string& what) {
    Check(got == want, what + ": got \"" + got + "\", want \"" + want + "\"");
}

LONG WINAPI Crashed(EXCEPTION_POINTERS* info) {
    std::printf("CRASH: exception 0x%08lx\n", info->ExceptionRecord->ExceptionCode);
    std::fflush(stdout);
    ExitProcess(3);
}

bool WaitFor(const std::function<bool()>& probe, DWORD milliseconds = 10000) {
    const DWORD start = GetTickCount();
    while (!probe()) {
        if (GetTickCount() - start > milliseconds) return false;
        Sleep(5);
    }
    return true;
}

LRESULT Query(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) ==
        0) {
        Check(false, "no answer to message " + std::to_string(message));
        return -1;
    }
    return static_cast<LRESULT>(result);
}

std::string WindowText(HWND window) {
    char text[128] = {};
    Query(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// One run of function 16 on its own thread.
struct DialogCall {
    char buffer[16];
    int32_t result = -1;
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(void* self) {
        auto* call = static_cast<DialogCall*>(self);
        TagFormatParams params{call->buffer};
        KorCall kor{nullptr, KOR_FUNC_TAG_FORMAT_DIALOG, 0, 0, &params};
        call->result = korMain(&kor);
        return 0;
    }
    void Start() {
        std::memset(buffer, '#', sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    bool Finished(DWORD milliseconds = 10000) {
        return WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
    }
    ~DialogCall() {
        if (thread != nullptr) CloseHandle(thread);
    }
};

HWND dialog = nullptr;

HWND Item(int id) {
    return GetDlgItem(dialog, id);
}

HWND OpenDialog(DialogCall& call) {
    call.Start();
    dialog = nullptr;
    WaitFor([] {
        dialog = FindWindowA(nullptr, "Tag Format");
        return dialog != nullptr && IsWindowVisible(dialog);
    });
    Check(dialog != nullptr, "the dialog opens");
    return dialog;
}

int ListId(const std::string& list) {
    if (list == "fn") return IDC_FUNCTION_LIST;
    if (list == "help") return IDC_HELP_LIST;
    if (list == "sub") return IDC_SUBCOMMAND;
    return IDC_CAMERA;
}

std::vector<std::string> ListEntries(int id) {
    std::vector<std::string> entries;
    const LRESULT count = Query(Item(id), CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        char text[32] = {};
        Query(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

// A pick as the user makes it: the selection, then the notification.
void Pick(int id, const std::string& text) {
    const LRESULT index = Query(Item(id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(text.c_str()));
    Check(index >= 0, "entry " + text + " in list " + std::to_string(id));
    Query(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index));
    Query(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
}

// The script words of the model's tests: up, down, F, H, fn=KEY, help=SAC, sub=075, cam=27.
void Play(const std::string& script) {
    std::size_t at = 0;
    while (at < script.size()) {
        std::size_t end = script.find(' ', at);
        if (end == std::string::npos) end = script.size();
        const std::string word = script.substr(at, end - at);
        at = end + 1;
        if (word.empty()) continue;
        if (word == "up" || word == "down")
            Query(dialog, WM_VSCROLL, word == "up" ? SB_LINEUP : SB_LINEDOWN,
                  reinterpret_cast<LPARAM>(Item(IDC_PLC_SPIN)));
        else if (word == "F" || word == "H")
            Query(Item(word == "F" ? IDC_FUNCTION_TAGS : IDC_HELP_TAGS), BM_CLICK);
        else
            Pick(ListId(word.substr(0, word.find('='))), word.substr(word.find('=') + 1));
    }
}

// The "missing value!" box the dialog owns, or nullptr.
HWND MissingValueBox() {
    HWND box = FindWindowA(nullptr, "Error");
    return box != nullptr && GetWindow(box, GW_OWNER) == dialog ? box : nullptr;
}

bool BoxSays(HWND box, const std::string& text) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        if (WindowText(child) == text) return true;
    return false;
}

// OK; "" when the "missing value!" box came (it is closed again), else the address.
std::string PressOk(DialogCall& call) {
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND box = nullptr;
    bool ended = false;
    WaitFor([&] {
        ended = call.Finished(0);
        box = ended ? nullptr : MissingValueBox();
        return ended || box != nullptr;
    });
    if (box != nullptr) {
        Check(BoxSays(box, "missing value!"), "the box says \"missing value!\"");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        Check(WaitFor([] { return MissingValueBox() == nullptr; }), "the box closes");
        Check(IsWindow(dialog) != FALSE, "the dialog stays open after the box");
        return "";
    }
    Check(ended, "the dialog ends or shows the box");
    CheckEq(call.result, 0, "result after OK");
    return call.buffer;
}

void CloseWith(DialogCall& call, UINT message, WPARAM key) {
    if (message == WM_KEYDOWN) {
        SetForegroundWindow(dialog);
        PostMessageA(Item(IDC_PLC_NUMBER), WM_KEYDOWN, key, 0);
    } else {
        PostMessageA(dialog, WM_COMMAND, key, 0);
    }
    Check(call.Finished(), "the dialog ends");
}

// Enabled ones of: a attributes box, s subcommand pair, c camera pair, h help list,
// f function list (the pairs must agree).
std::string EnabledControls() {
    std::string enabled;
    if (IsWindowEnabled(Item(IDC_ATTRIBUTES))) enabled += 'a';
    const bool sub = IsWindowEnabled(Item(IDC_SUBCOMMAND)) != FALSE;
    Check(sub == (IsWindowEnabled(Item(IDC_SUBCOMMAND_LABEL)) != FALSE), "subcommand pair");
    if (sub) enabled += 's';
    const bool cam = IsWindowEnabled(Item(IDC_CAMERA)) != FALSE;
    Check(cam == (IsWindowEnabled(Item(IDC_CAMERA_LABEL)) != FALSE), "camera pair");
    if (cam) enabled += 'c';
    if (IsWindowEnabled(Item(IDC_HELP_LIST))) enabled += 'h';
    if (IsWindowEnabled(Item(IDC_FUNCTION_LIST))) enabled += 'f';
    return enabled;
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string all;
    for (const std::string& entry : entries) all += (all.empty() ? "" : " ") + entry;
    return all;
}

std::string Cameras(int first) {
    std::string all;
    for (int n = first; n < first + 20; ++n) all += (all.empty() ? "" : " ") + std::to_string(n);
    return all;
}

void SaveScreenshot(HWND window, const char* path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD row = static_cast<DWORD>((width * 3 + 3) & ~3);
    std::vector<char> pixels(row * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    if (FILE* out = std::fopen(path, "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&header, sizeof header, 1, out);
        std::fwrite(pixels.data(), 1, pixels.size(), out);
        std::fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

void TheOpenDialog(const char* screenshot) {
    scenario = "open";
    DialogCall call;
    if (OpenDialog(call) == nullptr) return;
    const struct {
        int id;
        const char* className;
    } controls[] = {
        {IDOK, "Button"},
        {IDCANCEL, "Button"},
        {IDC_PLC_NUMBER, "Edit"},
        {IDC_PLC_SPIN, "ScrollBar"},
        {IDC_FUNCTION_TAGS, "Button"},
        {IDC_HELP_TAGS, "Button"},
        {IDC_ATTRIBUTES, "Button"},
        {IDC_SUBCOMMAND, "ComboBox"},
        {IDC_SUBCOMMAND_LABEL, "Static"},
        {IDC_CAMERA_LABEL, "Static"},
        {IDC_HELP_LIST, "ComboBox"},
        {IDC_FUNCTION_LIST, "ComboBox"},
        {IDC_CAMERA, "ComboBox"},
    };
    for (const auto& control : controls) {
        char name[32] = {};
        GetClassNameA(Item(control.id), name, sizeof name);
        Check(lstrcmpiA(name, control.className) == 0,
              "control " + std::to_string(control.id) + " is a " + control.className);
    }
    CheckEq(WindowText(Item(IDC_FUNCTION_TAGS)), std::string("Function Tags"), "radio text");
    CheckEq(WindowText(Item(IDC_ATTRIBUTES)), std::string("Additional attributes"), "box text");
    CheckEq(WindowText(Item(IDC_PLC_NUMBER)), std::string("0"), "plc number");
    Check((GetWindowLongA(Item(IDC_PLC_NUMBER), GWL_STYLE) & ES_READONLY) != 0,
          "the plc number is read-only");
    CheckEq(Query(Item(IDC_FUNCTION_TAGS), BM_GETCHECK), LRESULT{BST_CHECKED},
            "Function Tags checked");
    CheckEq(Query(Item(IDC_HELP_TAGS), BM_GETCHECK), LRESULT{BST_UNCHECKED}, "Help Tags unchecked");
    CheckEq(Joined(ListEntries(IDC_FUNCTION_LIST)),
            std::string("AAS ALS CAA IHK INHPAIR JOY KEY PRESET PTZ TAD VER VLS"), "function list");
    CheckEq(Joined(ListEntries(IDC_HELP_LIST)), std::string("SAC SVC TAS"), "help list");
    CheckEq(Joined(ListEntries(IDC_SUBCOMMAND)), std::string("070 075 077 079 083 118"),
            "subcommand list");
    CheckEq(Joined(ListEntries(IDC_CAMERA)), Cameras(1), "camera list");
    CheckEq(EnabledControls(), std::string("f"), "enabled at opening");
    if (screenshot != nullptr) {
        Play("up up fn=ALS cam=45");
        SaveScreenshot(dialog, screenshot);
    }

    // A second call while the dialog is open: 53 at once, the buffer untouched.
    DialogCall second;
    second.Start();
    Check(second.Finished(3000), "a second call returns at once");
    CheckEq(second.result, 53, "a second call");
    CheckEq(std::string(second.buffer), std::string(15, '#'), "the second call's buffer");

    scenario = "arrows";
    Play("down down down");
    CheckEq(WindowText(Item(IDC_PLC_NUMBER)), std::string("0"), "lower arrow at 0");
    Play("up up up up up");
    CheckEq(WindowText(Item(IDC_PLC_NUMBER)), std::string("4"), "upper arrow at 4");
    CheckEq(Joined(ListEntries(IDC_CAMERA)), Cameras(81), "cameras of plc 4");
    Pick(IDC_CAMERA, "90");
    Play("up");
    CheckEq(Query(Item(IDC_CAMERA), CB_GETCURSEL), LRESULT{CB_ERR}, "the arrow clears the camera");
    // Other scroll codes and bars are ignored.
    Query(dialog, WM_VSCROLL, SB_PAGEDOWN, reinterpret_cast<LPARAM>(Item(IDC_PLC_SPIN)));
    Query(dialog, WM_VSCROLL, SB_LINEDOWN, 0);
    CheckEq(WindowText(Item(IDC_PLC_NUMBER)), std::string("4"), "ignored scroll messages");
    CloseWith(call, WM_COMMAND, IDCANCEL);
    CheckEq(call.result, 53, "Cancel");
    CheckEq(std::string(call.buffer), std::string(15, '#'), "Cancel leaves the buffer");
}

void EnableRules() {
    const struct {
        const char* script;
        const char* enabled;
    } cases[] = {
        {"fn=ALS", "acf"},     {"fn=IHK", "asf"},
        {"fn=KEY", "f"},       {"H", "h"},
        {"H help=SAC", "ach"}, {"H help=TAS F", "f"},
        {"H fn=IHK", "ash"},   {"fn=IHK H help=SVC F", "asf"},
    };
    for (const auto& c : cases) {
        scenario = c.script;
        DialogCall call;
        if (OpenDialog(call) == nullptr) return;
        Play(c.script);
        CheckEq(EnabledControls(), std::string(c.enabled), "enabled controls");
        CloseWith(call, WM_COMMAND, IDCANCEL);
    }
}

void Addresses() {
    const struct {
        const char* script;
        const char* address;  // "": "missing value!"
    } cases[] = {
        {"up up up fn=KEY", "KEY3"},
        {"fn=ALS cam=5", "ALS005"},
        {"up H help=SAC cam=27", "SAC127"},
        {"up up fn=IHK sub=075", "IHK2075"},
        {"fn=INHPAIR", "INHPAIR0"},
        {"H help=TAS cam=7", "TAS007"},
        {"up up up up fn=CAA", "CAA"},
        {"up up up up fn=ALS cam=100", "ALS4100"},
        {"up up up up H help=TAS cam=100", "TAS4100"},
        {"up up up up H help=SAC cam=100", "SAC4100"},
        {"up up up up H help=SVC cam=100", "SVC4100"},
        {"up cam=25 fn=PRESET", "PRESET1"},
        {"", ""},
        {"H help=SAC F", ""},
        {"fn=ALS cam=5 up", ""},
        {"fn=IHK", ""},
    };
    for (const auto& c : cases) {
        scenario = c.script;
        DialogCall call;
        if (OpenDialog(call) == nullptr) return;
        Play(c.script);
        CheckEq(PressOk(call), std::string(c.address), "address");
        if (c.address[0] == '\0') CloseWith(call, WM_KEYDOWN, VK_ESCAPE);
    }
    // After "missing value!" the dialog goes on: a camera, then OK.
    scenario = "missing, then chosen";
    DialogCall call;
    if (OpenDialog(call) == nullptr) return;
    Play("fn=ALS");
    CheckEq(PressOk(call), std::string(""), "missing camera");
    Play("cam=12");
    CheckEq(PressOk(call), std::string("ALS012"), "address after the box");
}

void Esc() {
    scenario = "Esc";
    DialogCall call;
    if (OpenDialog(call) == nullptr) return;
    Play("fn=KEY");
    CloseWith(call, WM_KEYDOWN, VK_ESCAPE);
    CheckEq(call.result, 53, "Esc");
    CheckEq(std::string(call.buffer), std::string(15, '#'), "Esc leaves the buffer");
}

}  // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(Crashed);
    HMODULE driver = LoadLibraryA("RODERAVO.DLL");
    if (driver == nullptr) {
        std::printf("FAIL: RODERAVO.DLL does not load\n");
        return 1;
    }
    korMain =
        reinterpret_cast<KorMainFn>(reinterpret_cast<void*>(GetProcAddress(driver, "KorMain")));
    if (korMain == nullptr) {
        std::printf("FAIL: RODERAVO.DLL has no KorMain\n");
        return 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "--no-display") == 0) {
        scenario = "no display";
        DialogCall call;
        call.Start();
        Check(call.Finished(), "returns");
        CheckEq(call.result, 53, "without a display");
        CheckEq(std::string(call.buffer), std::string(15, '#'), "the buffer");
    } else {
        TheOpenDialog(argc > 1 ? argv[1] : nullptr);
        EnableRules();
        Addresses();
        Esc();
    }
    std::printf("%s: %d failure(s)\n", failures == 0 ? "PASS" : "FAIL", failures);
    return failures == 0 ? 0 : 1;
}
