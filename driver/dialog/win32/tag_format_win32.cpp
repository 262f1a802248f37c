// The Tag Format dialog on Win32: the template IDD_TAG_FORMAT of RODERAVO.DLL
// (tag_format.rc), run modally; its dialog procedure hands every event to the
// model and shows the model's lists, plc number and enabled controls.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "dialog/tag_format_dialog.h"
#include "dialog/tag_format_model.h"

namespace roderavo {

namespace {

constexpr const char* kDriverModule = "RODERAVO.DLL";
constexpr const char* kCaption = "Tag Format";
constexpr const char* kMissingValue = "missing value!";
constexpr const char* kMissingValueTitle = "Error";
static_assert(kTagFormatCaption == std::string_view(kCaption));
static_assert(kMissingValueText == std::string_view(kMissingValue));
static_assert(kMissingValueCaption == std::string_view(kMissingValueTitle));

// Process-wide, as the dialog's mode and the result buffers are.
TagFormatModel tagFormatModel;
TagFormatResult tagFormatResult;

using Text = std::array<char, 16>;

Text ToText(std::string_view view) {
    Text text{};
    for (std::size_t i = 0; i < view.size() && i + 1 < text.size(); ++i) text[i] = view[i];
    return text;
}

void ShowList(HWND dialog, TagFormatList list) {
    const int id = ListControl(list);
    SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
    const TagFormatListState& entries = tagFormatModel.List(list);
    for (std::size_t i = 0; i < entries.Count(); ++i) {
        const Text text = ToText(entries.Entry(i));
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.data()));
    }
}

void ShowPlcNumber(HWND dialog) {
    const Text text = ToText(tagFormatModel.PlcText());
    SetWindowTextA(GetDlgItem(dialog, IDC_PLC_NUMBER), text.data());
}

void ShowEnabled(HWND dialog) {
    for (const int id : {IDC_ATTRIBUTES, IDC_SUBCOMMAND_LABEL, IDC_SUBCOMMAND, IDC_CAMERA_LABEL,
                         IDC_CAMERA, IDC_HELP_LIST, IDC_FUNCTION_LIST})
        EnableWindow(GetDlgItem(dialog, id), tagFormatModel.Enabled(id) ? TRUE : FALSE);
}

// The model's index of the entry a list control shows as selected (it may sort
// otherwise than the model): found by its text.
int32_t SelectionOf(HWND dialog, TagFormatList list) {
    const int id = ListControl(list);
    const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return TagFormatListState::kNone;
    Text text{};
    const LRESULT length =
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(text.size()))
        return TagFormatListState::kNone;
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text.data()));
    return tagFormatModel.List(list).IndexOf(text.data());
}

void OnOpen(HWND dialog) {
    tagFormatModel.Open();
    for (const TagFormatList list : kTagFormatLists) ShowList(dialog, list);
    ShowPlcNumber(dialog);
    SendDlgItemMessageA(dialog, IDC_PLC_NUMBER, EM_SETREADONLY, TRUE, 0);
    SendDlgItemMessageA(dialog, IDC_FUNCTION_TAGS, BM_CLICK, 0, 0);
    ShowEnabled(dialog);
}

void OnPlcArrow(HWND dialog, HWND scrollBar, WORD code) {
    if (scrollBar != GetDlgItem(dialog, IDC_PLC_SPIN)) return;
    if (code != SB_LINEUP && code != SB_LINEDOWN) return;
    tagFormatModel.PlcArrowClicked(code == SB_LINEUP ? PlcArrow::Up : PlcArrow::Down);
    ShowList(dialog, TagFormatList::Camera);
    ShowPlcNumber(dialog);
}

void OnOk(HWND dialog) {
    // A list's selection may have been set without a notification.
    for (const TagFormatList list : kTagFormatLists)
        tagFormatModel.SetSelection(list, SelectionOf(dialog, list));
    if (tagFormatModel.OkPressed(tagFormatResult) == OkOutcome::Close)
        EndDialog(dialog, kTagFormatEndOk);
    else
        MessageBoxA(dialog, kMissingValue, kMissingValueTitle, MB_OK);
}

void OnCommand(HWND dialog, WORD id, WORD code) {
    switch (id) {
        case IDOK:
            OnOk(dialog);
            return;
        case IDCANCEL:
            EndDialog(dialog, kTagFormatEndCancel);
            return;
        case IDC_FUNCTION_TAGS:
            tagFormatModel.FunctionTagsClicked();
            break;
        case IDC_HELP_TAGS:
            tagFormatModel.HelpTagsClicked();
            break;
        case IDC_FUNCTION_LIST:
        case IDC_HELP_LIST:
        case IDC_SUBCOMMAND:
        case IDC_CAMERA: {
            if (code != CBN_SELCHANGE) return;
            const TagFormatList list = id == IDC_FUNCTION_LIST ? TagFormatList::Function
                                       : id == IDC_HELP_LIST   ? TagFormatList::Help
                                       : id == IDC_SUBCOMMAND  ? TagFormatList::Subcommand
                                                               : TagFormatList::Camera;
            if (list == TagFormatList::Function || list == TagFormatList::Help)
                tagFormatModel.SelectionChanged(list, SelectionOf(dialog, list));
            else
                tagFormatModel.SetSelection(list, SelectionOf(dialog, list));
            break;
        }
        default:
            return;
    }
    ShowEnabled(dialog);
}

INT_PTR CALLBACK TagFormatProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnOpen(dialog);
            return TRUE;
        case WM_VSCROLL:
            OnPlcArrow(dialog, reinterpret_cast<HWND>(lParam), LOWORD(wParam));
            return FALSE;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

DriverStatus ShowTagFormatDialog(char* buffer) {
    if (buffer == nullptr) return DriverStatus::DialogRefused;
    if (FindWindowA(nullptr, kCaption) != nullptr) return DriverStatus::DialogRefused;
    const HINSTANCE module = GetModuleHandleA(kDriverModule);
    const INT_PTR end =
        DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TAG_FORMAT), nullptr, TagFormatProc, 0);
    if (end != kTagFormatEndOk) return DriverStatus::DialogRefused;
    WriteTagAddress(tagFormatResult, buffer);
    return DriverStatus::Ok;
}

}  // namespace roderavo
