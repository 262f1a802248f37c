// The Tag Format dialog without a toolkit: its controls' enabled states, the four
// lists with their selections, the plc number, the mode, and what every event of
// the dialog does to them. A front end turns its toolkit's events into these calls
// and shows the state; it decides nothing itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/short_text.h"
#include "dialog/tag_format_ids.h"

namespace roderavo {

// Which mnemonic list the address is taken from.
enum class TagFormatMode : int32_t {
    FunctionTags = 1,
    HelpTags = 2,
};

// How the dialog ends: the results of the modal run.
inline constexpr int32_t kTagFormatEndOk = 1;
inline constexpr int32_t kTagFormatEndCancel = 2;
inline constexpr int32_t kTagFormatNotShown = -1;

// The texts of the message shown when OK finds a value missing.
inline constexpr std::string_view kMissingValueText = "missing value!";
inline constexpr std::string_view kMissingValueCaption = "Error";
inline constexpr std::string_view kTagFormatCaption = "Tag Format";

// The choices OK hands over, zeroed by every OK before it fills them. The camera
// holds three characters, so that camera 100 stays whole.
struct TagFormatResult {
    ShortText<9> mnemonic;
    ShortText<2> plcNumber;
    ShortText<3> camera;      // two digits, or "100"
    ShortText<4> subcommand;  // an IHK code
};

enum class TagFormatList : uint8_t {
    Function,    // IDC_FUNCTION_LIST
    Help,        // IDC_HELP_LIST
    Subcommand,  // IDC_SUBCOMMAND
    Camera,      // IDC_CAMERA
};
inline constexpr std::array<TagFormatList, 4> kTagFormatLists = {
    TagFormatList::Function, TagFormatList::Help, TagFormatList::Subcommand, TagFormatList::Camera};

// The control id of a list.
int32_t ListControl(TagFormatList list);

// A list's entries in the order it shows them (the sorted lists sorted), and its
// selection.
class TagFormatListState {
  public:
    static constexpr std::size_t kCapacity = 20;
    static constexpr int32_t kNone = -1;

    std::size_t Count() const { return count_; }
    std::string_view Entry(std::size_t index) const;
    int32_t Selected() const { return selected_; }
    std::string_view SelectedText() const;         // "" with no selection
    int32_t IndexOf(std::string_view text) const;  // kNone when not there

    void Clear();
    void Add(std::string_view text, bool sorted);
    void Select(int32_t index);  // out of range: no selection

  private:
    std::array<ShortText<9>, kCapacity> entries_{};
    std::size_t count_ = 0;
    int32_t selected_ = kNone;
};

// The arrows of the plc number: Up (the upper arrow) counts up.
enum class PlcArrow : uint8_t { Up, Down };

// What the front end does after OK.
enum class OkOutcome : uint8_t {
    Close,         // end the dialog with kTagFormatEndOk
    MissingValue,  // show "missing value!" and keep the dialog open
};

class TagFormatModel {
  public:
    // The dialog opens: lists filled, plc number 0, "Function Tags" clicked.
    void Open();

    void PlcArrowClicked(PlcArrow arrow);
    void FunctionTagsClicked();
    void HelpTagsClicked();
    // The user picked an entry (index kNone: none); a pick in a mnemonic list sets
    // the attribute controls.
    void SelectionChanged(TagFormatList list, int32_t index);
    // The front end's own record of a selection that changed without an event.
    void SetSelection(TagFormatList list, int32_t index);
    OkOutcome OkPressed(TagFormatResult& result) const;

    TagFormatMode Mode() const { return mode_; }
    int32_t PlcNumber() const { return plc_; }
    std::string_view PlcText() const { return plcText_.View(); }
    const TagFormatListState& List(TagFormatList list) const;
    // Whether the control with this id is enabled.
    bool Enabled(int32_t control) const;

  private:
    enum class Attributes : uint8_t { None, Camera, Subcommand };

    TagFormatListState& ListOf(TagFormatList list);
    void FillCameras();
    static Attributes AttributesFor(std::string_view mnemonic);

    std::array<TagFormatListState, kTagFormatLists.size()> lists_{};
    int32_t plc_ = 0;
    ShortText<1> plcText_;
    TagFormatMode mode_ = TagFormatMode::FunctionTags;
    Attributes attributes_ = Attributes::None;
    bool functionListEnabled_ = true;
    bool helpListEnabled_ = true;
};

// Writes the address the result names into buffer (at least 9 bytes), with its NUL.
void WriteTagAddress(const TagFormatResult& result, char* buffer);

}  // namespace roderavo
