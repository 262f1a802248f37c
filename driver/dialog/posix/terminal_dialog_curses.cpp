// The Tag Format dialog as a terminal user interface (curses), over the model. The
// same controls as the Win32 dialog, laid out in character cells and drawn in plain
// ASCII (the host's locale is left alone, and line-drawing sets are not honoured by
// every UTF-8 terminal in the C locale). The keys:
//   Tab, Right / Shift-Tab, Left   next / previous control (disabled ones skipped)
//   Up, Down                       on the plc number: its arrows; on a list: the
//                                  previous / next entry; elsewhere: move
//   Home, End, PgUp, PgDn, a key   on a list: first, last, 5 up, 5 down, the next
//                                  entry that starts with the key
//   Space (or F4)                  click a radio button or a button, open a list
//   Enter                          OK (Cancel when Cancel has the focus)
//   Esc, Ctrl-C                    Cancel (close an open list); an escape sequence
//                                  the terminal's description does not name is ignored
#include <curses.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <type_traits>

#include "dialog/posix/terminal_dialog.h"
#include "dialog/tag_format_model.h"

namespace roderavo {

namespace {

// The dialog's box, in character cells.
constexpr int kWidth = 64;
constexpr int kHeight = 18;

constexpr int kKeyEscape = 27;
constexpr int kKeyWaitMs = 250;       // a wait for a key, so that a resize is seen
constexpr int kLongestSequence = 16;  // bytes of an escape sequence read past its start
constexpr int kKeyCtrlC = 3;
constexpr int kPageStep = 5;
constexpr int kDropRows = 8;  // entries an open list shows at once

// The controls that take the focus, in the order Tab visits them.
enum class Focus : uint8_t {
    Plc,
    FunctionTags,
    FunctionList,
    HelpTags,
    HelpList,
    Subcommand,
    Camera,
    Ok,
    Cancel
};
constexpr std::array<Focus, 9> kFocusOrder = {
    Focus::Plc,        Focus::FunctionTags, Focus::FunctionList, Focus::HelpTags, Focus::HelpList,
    Focus::Subcommand, Focus::Camera,       Focus::Ok,           Focus::Cancel};

int32_t ControlOf(Focus focus) {
    constexpr std::array<int32_t, 9> kControls = {
        IDC_PLC_NUMBER, IDC_FUNCTION_TAGS, IDC_FUNCTION_LIST,
        IDC_HELP_TAGS,  IDC_HELP_LIST,     IDC_SUBCOMMAND,
        IDC_CAMERA,     1 /* OK */,        2 /* Cancel */};
    return kControls[static_cast<std::size_t>(focus)];
}

// Where a list's field stands and how many characters of text it shows.
struct ListPlace {
    Focus focus;
    TagFormatList list;
    int x;
    int y;
    int width;
};
constexpr std::array<ListPlace, 4> kListPlaces = {{
    {Focus::FunctionList, TagFormatList::Function, 7, 5, 8},
    {Focus::HelpList, TagFormatList::Help, 7, 9, 8},
    {Focus::Subcommand, TagFormatList::Subcommand, 49, 7, 4},
    {Focus::Camera, TagFormatList::Camera, 49, 10, 4},
}};

const ListPlace* PlaceOf(Focus focus) {
    for (const ListPlace& place : kListPlaces)
        if (place.focus == focus) return &place;
    return nullptr;
}

char Fold(int key) {
    return static_cast<char>(key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key);
}

class TerminalDialog {
  public:
    int32_t Run(TagFormatResult& result);

  private:
    enum class Step : uint8_t { Stay, EndOk, EndCancel };

    Step OnKey(int key, TagFormatResult& result);
    void OnDroppedKey(int key);
    Step Press(Focus focus, TagFormatResult& result);
    void MoveFocus(int step);
    void KeepFocus();
    bool Enabled(Focus focus) const { return model_.Enabled(ControlOf(focus)); }
    // The entry a key moves to from `from` (kNone: no selection) in a list.
    static int32_t Target(const TagFormatListState& list, int32_t from, int key);

    void Draw();
    void DrawControls() const;
    void DrawList(const ListPlace& place) const;
    void DrawDropped() const;
    void DrawMissingValue() const;
    void Text(int y, int x, std::string_view text, attr_t attributes = A_NORMAL) const;
    void Box(int y, int x, int height, int width, std::string_view title) const;
    attr_t Look(Focus focus) const;

    TagFormatModel model_;
    Focus focus_ = Focus::FunctionList;
    bool dropped_ = false;  // the focused list is open
    int32_t highlight_ = 0;
    bool missingValue_ = false;
    int top_ = 0;
    int left_ = 0;
};

// Reads a key. An escape sequence that the terminal's description does not know as
// a key (End as ESC [ 4 ~ on some terminals, the higher F-keys, a pasted bracket)
// comes as Esc with the rest of its bytes right behind it: the whole sequence is
// read and given as ERR, so that only an Esc on its own is taken as Esc (Cancel).
int ReadKey() {
    const int key = getch();
    if (key != kKeyEscape) return key;
    timeout(0);
    int next = getch();
    const bool alone = next == ERR;
    if (next == '[' || next == 'O') {
        // CSI (ESC [) and SS3 (ESC O) end with a byte from @ to ~.
        for (int taken = 0; taken < kLongestSequence; ++taken) {
            next = getch();
            if (next == ERR || (next >= '@' && next <= '~')) break;
        }
    }
    timeout(kKeyWaitMs);
    return alone ? key : ERR;
}

int32_t TerminalDialog::Run(TagFormatResult& result) {
    model_.Open();
    for (;;) {
        Draw();
        const int key = ReadKey();
        if (key == ERR || key == KEY_RESIZE) continue;
        if (LINES < kHeight || COLS < kWidth) {
            if (key == kKeyEscape || key == kKeyCtrlC) return kTagFormatEndCancel;
            continue;
        }
        if (missingValue_) {
            if (key == '\r' || key == '\n' || key == KEY_ENTER || key == ' ' || key == kKeyEscape)
                missingValue_ = false;
            continue;
        }
        if (dropped_) {
            OnDroppedKey(key);
            continue;
        }
        switch (OnKey(key, result)) {
            case Step::EndOk:
                return kTagFormatEndOk;
            case Step::EndCancel:
                return kTagFormatEndCancel;
            case Step::Stay:
                break;
        }
        KeepFocus();
    }
}

TerminalDialog::Step TerminalDialog::OnKey(int key, TagFormatResult& result) {
    const ListPlace* place = PlaceOf(focus_);
    switch (key) {
        case kKeyEscape:
        case kKeyCtrlC:
            return Step::EndCancel;
        case '\r':
        case '\n':
        case KEY_ENTER:
            return Press(focus_ == Focus::Cancel ? Focus::Cancel : Focus::Ok, result);
        case '\t':
        case KEY_RIGHT:
            MoveFocus(1);
            return Step::Stay;
        case KEY_BTAB:
        case KEY_LEFT:
            MoveFocus(-1);
            return Step::Stay;
        case ' ':
        case KEY_F(4):
            return Press(focus_, result);
        default:
            break;
    }
    if (focus_ == Focus::Plc) {
        if (key == KEY_UP || key == '+') model_.PlcArrowClicked(PlcArrow::Up);
        if (key == KEY_DOWN || key == '-') model_.PlcArrowClicked(PlcArrow::Down);
        return Step::Stay;
    }
    if (place != nullptr) {
        const TagFormatListState& list = model_.List(place->list);
        const int32_t target = Target(list, list.Selected(), key);
        if (target != list.Selected()) model_.SelectionChanged(place->list, target);
        return Step::Stay;
    }
    if (key == KEY_UP) MoveFocus(-1);
    if (key == KEY_DOWN) MoveFocus(1);
    return Step::Stay;
}

TerminalDialog::Step TerminalDialog::Press(Focus focus, TagFormatResult& result) {
    switch (focus) {
        case Focus::FunctionTags:
            model_.FunctionTagsClicked();
            break;
        case Focus::HelpTags:
            model_.HelpTagsClicked();
            break;
        case Focus::Ok:
            if (model_.OkPressed(result) == OkOutcome::Close) return Step::EndOk;
            missingValue_ = true;
            break;
        case Focus::Cancel:
            return Step::EndCancel;
        default:
            if (const ListPlace* place = PlaceOf(focus)) {
                dropped_ = true;
                highlight_ = model_.List(place->list).Selected();
                if (highlight_ == TagFormatListState::kNone) highlight_ = 0;
            }
            break;
    }
    return Step::Stay;
}

void TerminalDialog::OnDroppedKey(int key) {
    const ListPlace* place = PlaceOf(focus_);
    if (place == nullptr) {
        dropped_ = false;
        return;
    }
    switch (key) {
        case '\r':
        case '\n':
        case KEY_ENTER:
        case ' ':
            if (highlight_ != model_.List(place->list).Selected())
                model_.SelectionChanged(place->list, highlight_);
            dropped_ = false;
            return;
        case kKeyEscape:
        case kKeyCtrlC:
        case '\t':
        case KEY_BTAB:
            dropped_ = false;
            return;
        default:
            highlight_ = Target(model_.List(place->list), highlight_, key);
            if (highlight_ == TagFormatListState::kNone) highlight_ = 0;
            return;
    }
}

int32_t TerminalDialog::Target(const TagFormatListState& list, int32_t from, int key) {
    const auto count = static_cast<int32_t>(list.Count());
    if (count == 0) return from;
    const auto clamp = [count](int32_t index) {
        return index < 0 ? 0 : (index >= count ? count - 1 : index);
    };
    const bool none = from == TagFormatListState::kNone;
    switch (key) {
        case KEY_UP:
            return none ? 0 : clamp(from - 1);
        case KEY_DOWN:
            return none ? 0 : clamp(from + 1);
        case KEY_PPAGE:
            return none ? 0 : clamp(from - kPageStep);
        case KEY_NPAGE:
            return none ? 0 : clamp(from + kPageStep);
        case KEY_HOME:
            return 0;
        case KEY_END:
            return count - 1;
        default:
            break;
    }
    if (key <= ' ' || key > '~') return from;
    for (int32_t step = 1; step <= count; ++step) {
        const int32_t index = ((none ? -1 : from) + step + count) % count;
        const std::string_view entry = list.Entry(static_cast<std::size_t>(index));
        if (!entry.empty() && entry.front() == Fold(key)) return index;
    }
    return from;
}

void TerminalDialog::MoveFocus(int step) {
    const std::size_t count = kFocusOrder.size();
    std::size_t at = 0;
    while (kFocusOrder[at] != focus_) ++at;
    for (std::size_t tried = 0; tried < count; ++tried) {
        at = step > 0 ? (at + 1) % count : (at + count - 1) % count;
        if (Enabled(kFocusOrder[at])) break;
    }
    focus_ = kFocusOrder[at];
}

void TerminalDialog::KeepFocus() {
    if (!Enabled(focus_)) MoveFocus(1);
}

void TerminalDialog::Text(int y, int x, std::string_view text, attr_t attributes) const {
    attrset(attributes);
    mvaddnstr(top_ + y, left_ + x, text.data(), static_cast<int>(text.size()));
    attrset(A_NORMAL);
}

void TerminalDialog::Box(int y, int x, int height, int width, std::string_view title) const {
    for (int row = y; row < y + height; ++row) mvhline(top_ + row, left_ + x, ' ', width);
    mvhline(top_ + y, left_ + x + 1, '-', width - 2);
    mvhline(top_ + y + height - 1, left_ + x + 1, '-', width - 2);
    mvvline(top_ + y + 1, left_ + x, '|', height - 2);
    mvvline(top_ + y + 1, left_ + x + width - 1, '|', height - 2);
    mvaddch(top_ + y, left_ + x, '+');
    mvaddch(top_ + y, left_ + x + width - 1, '+');
    mvaddch(top_ + y + height - 1, left_ + x, '+');
    mvaddch(top_ + y + height - 1, left_ + x + width - 1, '+');
    if (!title.empty()) {
        const int at = x + (width - static_cast<int>(title.size()) - 2) / 2;
        Text(y, at, " ");
        Text(y, at + 1, title, A_BOLD);
        Text(y, at + 1 + static_cast<int>(title.size()), " ");
    }
}

attr_t TerminalDialog::Look(Focus focus) const {
    if (!Enabled(focus)) return A_DIM;
    return focus == focus_ && !dropped_ && !missingValue_ ? A_REVERSE : A_NORMAL;
}

void TerminalDialog::Draw() {
    erase();
    if (LINES < kHeight || COLS < kWidth) {
        mvprintw(0, 0, "The terminal is too small for the Tag Format dialog.");
        mvprintw(1, 0, "It needs %d columns and %d lines. Enlarge it, or press Esc to cancel.",
                 kWidth, kHeight);
        refresh();
        return;
    }
    top_ = (LINES - kHeight) / 2;
    left_ = (COLS - kWidth) / 2;
    Box(0, 0, kHeight, kWidth, kTagFormatCaption);
    DrawControls();
    if (dropped_) DrawDropped();
    if (missingValue_) DrawMissingValue();
    refresh();
}

void TerminalDialog::DrawControls() const {
    Text(2, 3, "Plc number");
    Text(2, 15, "[");
    Text(2, 16, model_.PlcText(), Look(Focus::Plc));
    Text(2, 17, "]");
    Text(2, 19, "^v");

    const bool functionTags = model_.Mode() == TagFormatMode::FunctionTags;
    Text(4, 3, functionTags ? "(*)" : "( )");
    Text(4, 7, "Function Tags", Look(Focus::FunctionTags));
    Text(8, 3, functionTags ? "( )" : "(*)");
    Text(8, 7, "Help Tags", Look(Focus::HelpTags));

    const attr_t box = model_.Enabled(IDC_ATTRIBUTES) ? A_NORMAL : A_DIM;
    attrset(box);
    Box(5, 30, 8, 32, "");
    Text(5, 32, " Additional attributes ", box);
    Text(7, 33, "SubCommand", model_.Enabled(IDC_SUBCOMMAND_LABEL) ? A_NORMAL : A_DIM);
    Text(10, 33, "Camera number", model_.Enabled(IDC_CAMERA_LABEL) ? A_NORMAL : A_DIM);
    for (const ListPlace& place : kListPlaces) DrawList(place);

    Text(14, 16, "[   OK   ]", Look(Focus::Ok));
    Text(14, 36, "[ Cancel ]", Look(Focus::Cancel));
    Text(16, 3, "Tab move  Up/Down change  Space list  Enter OK  Esc Cancel", A_DIM);
}

void TerminalDialog::DrawList(const ListPlace& place) const {
    std::array<char, 16> field{};
    const std::string_view text = model_.List(place.list).SelectedText();
    for (int i = 0; i < place.width; ++i)
        field[static_cast<std::size_t>(i)] =
            static_cast<std::size_t>(i) < text.size() ? text[static_cast<std::size_t>(i)] : ' ';
    const attr_t look = Look(place.focus);
    Text(place.y, place.x, "[", look == A_DIM ? A_DIM : A_NORMAL);
    Text(place.y, place.x + 1, {field.data(), static_cast<std::size_t>(place.width)}, look);
    Text(place.y, place.x + 1 + place.width, " v]", look == A_DIM ? A_DIM : A_NORMAL);
}

// The open list below its field, or above it when the terminal ends too soon.
void TerminalDialog::DrawDropped() const {
    const ListPlace* place = PlaceOf(focus_);
    if (place == nullptr) return;
    const TagFormatListState& list = model_.List(place->list);
    const int count = static_cast<int>(list.Count());
    const int rows = count < kDropRows ? count : kDropRows;
    const int height = rows + 2;
    const int width = place->width + 4;
    int y = place->y + 1;
    if (top_ + y + height > LINES) y = place->y - height;
    if (top_ + y < 0) y = -top_;
    int first = highlight_ - rows + 1;
    if (first < 0) first = 0;
    Box(y, place->x, height, width, "");
    for (int row = 0; row < rows; ++row) {
        const int index = first + row;
        std::array<char, 16> line{};
        const std::string_view entry = list.Entry(static_cast<std::size_t>(index));
        for (int i = 0; i < width - 2; ++i)
            line[static_cast<std::size_t>(i)] =
                i >= 1 && static_cast<std::size_t>(i - 1) < entry.size()
                    ? entry[static_cast<std::size_t>(i - 1)]
                    : ' ';
        Text(y + 1 + row, place->x + 1, {line.data(), static_cast<std::size_t>(width - 2)},
             index == highlight_ ? A_REVERSE : A_NORMAL);
    }
}

void TerminalDialog::DrawMissingValue() const {
    constexpr int width = 26;
    constexpr int height = 7;
    constexpr int x = (kWidth - width) / 2;
    constexpr int y = (kHeight - height) / 2;
    Box(y, x, height, width, kMissingValueCaption);
    Text(y + 2, x + (width - static_cast<int>(kMissingValueText.size())) / 2, kMissingValueText);
    Text(y + 4, x + (width - 6) / 2, "[ OK ]", A_REVERSE);
}

// The signal dispositions curses may change, put back when the dialog ends.
class SavedSignals {
  public:
    SavedSignals() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], nullptr, &saved_[i]);
    }
    ~SavedSignals() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &saved_[i], nullptr);
    }
    SavedSignals(const SavedSignals&) = delete;
    SavedSignals& operator=(const SavedSignals&) = delete;

  private:
    static constexpr std::array<int, 5> kSignals = {SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGWINCH};
    std::array<struct sigaction, kSignals.size()> saved_{};
};

void Say(int tty, const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    while (length > 0) {
        const ssize_t written = write(tty, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

int32_t RunCurses(int tty, TagFormatResult& result) {
    std::FILE* out = fdopen(dup(tty), "w");
    std::FILE* in = fdopen(dup(tty), "r");
    int32_t end = kTagFormatNotShown;
    SCREEN* screen = out != nullptr && in != nullptr ? newterm(nullptr, out, in) : nullptr;
    if (screen != nullptr) {
        raw();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        set_escdelay(25);
        timeout(kKeyWaitMs);
        const int cursor = curs_set(0);
        TerminalDialog dialog;
        end = dialog.Run(result);
        if (cursor != ERR) curs_set(cursor);
        endwin();
        delscreen(screen);
    } else {
        std::array<char, 160> message{};
        const char* term = std::getenv("TERM");
        std::snprintf(message.data(), message.size(),
                      "Tag Format: the dialog cannot be shown on this terminal (TERM=%s).\r\n",
                      term != nullptr ? term : "");
        Say(tty, message.data());
    }
    if (out != nullptr) std::fclose(out);
    if (in != nullptr) std::fclose(in);
    return end;
}

}  // namespace

}  // namespace roderavo

extern "C" __attribute__((visibility("default"))) int32_t RoderavoTerminalTagFormat(
    int tty, roderavo::TagFormatResult* result) {
    using namespace roderavo;
    if (result == nullptr) return kTagFormatNotShown;
    winsize size{};
    if (ioctl(tty, TIOCGWINSZ, &size) == 0 && size.ws_col != 0 && size.ws_row != 0 &&
        (size.ws_col < kWidth || size.ws_row < kHeight)) {
        std::array<char, 200> message{};
        std::snprintf(message.data(), message.size(),
                      "Tag Format: the terminal is too small for the dialog: it has %d columns "
                      "and %d lines, the dialog needs %d columns and %d lines.\r\n",
                      size.ws_col, size.ws_row, kWidth, kHeight);
        Say(tty, message.data());
        return kTagFormatNotShown;
    }
    SavedSignals signals;
    return RunCurses(tty, *result);
}

// The entry has the type the driver calls it through.
static_assert(std::is_same_v<decltype(&RoderavoTerminalTagFormat), RoderavoTerminalTagFormatFn>);
