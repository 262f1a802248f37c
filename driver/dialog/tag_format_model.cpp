#include "dialog/tag_format_model.h"

#include <optional>

#include "address/address_fields.h"
#include "address/address_rules.h"
#include "address/address_text.h"
#include "address/camera_range.h"
#include "address/mnemonics.h"

namespace roderavo {

namespace {

std::optional<CommandMnemonic> MnemonicNamed(std::string_view name) {
    for (std::size_t i = 0; i < MnemonicTable.size(); ++i)
        if (MnemonicTable[i] == name) return static_cast<CommandMnemonic>(i);
    return std::nullopt;
}

// The camera list's text as OK hands it over: one digit gets a "0" in front.
void TakeCamera(std::string_view text, ShortText<3>& camera) {
    if (text.size() == 1) camera.Append("0");
    camera.Append(text);
}

}  // namespace

int32_t ListControl(TagFormatList list) {
    switch (list) {
        case TagFormatList::Function:
            return IDC_FUNCTION_LIST;
        case TagFormatList::Help:
            return IDC_HELP_LIST;
        case TagFormatList::Subcommand:
            return IDC_SUBCOMMAND;
        case TagFormatList::Camera:
            return IDC_CAMERA;
    }
    return 0;
}

std::string_view TagFormatListState::Entry(std::size_t index) const {
    return index < count_ ? entries_[index].View() : std::string_view{};
}

std::string_view TagFormatListState::SelectedText() const {
    return selected_ == kNone ? std::string_view{} : Entry(static_cast<std::size_t>(selected_));
}

int32_t TagFormatListState::IndexOf(std::string_view text) const {
    for (std::size_t i = 0; i < count_; ++i)
        if (entries_[i].View() == text) return static_cast<int32_t>(i);
    return kNone;
}

void TagFormatListState::Clear() {
    entries_ = {};
    count_ = 0;
    selected_ = kNone;
}

// A sorted list puts a new entry before the first one that sorts after it.
void TagFormatListState::Add(std::string_view text, bool sorted) {
    if (count_ == kCapacity) return;
    std::size_t at = count_;
    if (sorted)
        while (at > 0 && text < entries_[at - 1].View()) --at;
    for (std::size_t i = count_; i > at; --i) entries_[i] = entries_[i - 1];
    entries_[at] = {};
    entries_[at].Append(text);
    ++count_;
}

void TagFormatListState::Select(int32_t index) {
    selected_ = index >= 0 && static_cast<std::size_t>(index) < count_ ? index : kNone;
}

void TagFormatModel::Open() {
    for (TagFormatListState& list : lists_) list.Clear();
    for (const AddressRule& rule : kAddressRules) {
        const TagFormatList list =
            rule.kind == GateKind::Companion ? TagFormatList::Help : TagFormatList::Function;
        ListOf(list).Add(MnemonicName(rule.mnemonic), true);
    }
    for (const std::string_view code : IhkCodeTable)
        ListOf(TagFormatList::Subcommand).Add(code, true);
    plc_ = 0;
    FillCameras();
    FunctionTagsClicked();
}

void TagFormatModel::PlcArrowClicked(PlcArrow arrow) {
    if (arrow == PlcArrow::Up && plc_ < kMuxCount - 1) ++plc_;
    if (arrow == PlcArrow::Down && plc_ > 0) --plc_;
    FillCameras();
}

void TagFormatModel::FunctionTagsClicked() {
    attributes_ = AttributesFor(List(TagFormatList::Function).SelectedText());
    functionListEnabled_ = true;
    helpListEnabled_ = false;
    mode_ = TagFormatMode::FunctionTags;
}

void TagFormatModel::HelpTagsClicked() {
    attributes_ = AttributesFor(List(TagFormatList::Help).SelectedText());
    functionListEnabled_ = false;
    helpListEnabled_ = true;
    mode_ = TagFormatMode::HelpTags;
}

void TagFormatModel::SelectionChanged(TagFormatList list, int32_t index) {
    ListOf(list).Select(index);
    if (list == TagFormatList::Function || list == TagFormatList::Help)
        attributes_ = AttributesFor(List(list).SelectedText());
}

void TagFormatModel::SetSelection(TagFormatList list, int32_t index) {
    ListOf(list).Select(index);
}

OkOutcome TagFormatModel::OkPressed(TagFormatResult& result) const {
    result = TagFormatResult{};
    result.plcNumber.Append(PlcText());
    const TagFormatList source =
        mode_ == TagFormatMode::FunctionTags ? TagFormatList::Function : TagFormatList::Help;
    const std::string_view mnemonic = List(source).SelectedText();
    result.mnemonic.Append(mnemonic);
    // Every mnemonic of the help list names a camera; in the function list, the
    // rule of the word says which field follows it.
    const Attributes needs =
        mode_ == TagFormatMode::HelpTags ? Attributes::Camera : AttributesFor(mnemonic);
    bool missing = result.plcNumber.View().empty() || mnemonic.empty();
    if (needs == Attributes::Camera) {
        TakeCamera(List(TagFormatList::Camera).SelectedText(), result.camera);
        missing = missing || result.camera.View().empty();
    } else if (needs == Attributes::Subcommand) {
        result.subcommand.Append(List(TagFormatList::Subcommand).SelectedText());
        missing = missing || result.subcommand.View().empty();
    }
    return missing ? OkOutcome::MissingValue : OkOutcome::Close;
}

const TagFormatListState& TagFormatModel::List(TagFormatList list) const {
    return lists_[static_cast<std::size_t>(list)];
}

TagFormatListState& TagFormatModel::ListOf(TagFormatList list) {
    return lists_[static_cast<std::size_t>(list)];
}

bool TagFormatModel::Enabled(int32_t control) const {
    switch (control) {
        case IDC_ATTRIBUTES:
            return attributes_ != Attributes::None;
        case IDC_CAMERA_LABEL:
        case IDC_CAMERA:
            return attributes_ == Attributes::Camera;
        case IDC_SUBCOMMAND_LABEL:
        case IDC_SUBCOMMAND:
            return attributes_ == Attributes::Subcommand;
        case IDC_FUNCTION_LIST:
            return functionListEnabled_;
        case IDC_HELP_LIST:
            return helpListEnabled_;
        default:
            return true;
    }
}

// The twenty cameras of the plc number, with no selection; the plc number's text.
void TagFormatModel::FillCameras() {
    TagFormatListState& cameras = ListOf(TagFormatList::Camera);
    cameras.Clear();
    for (int32_t camera = FirstCamera(plc_); camera <= LastCamera(plc_); ++camera) {
        ShortText<3> text;
        text.AppendDecimal(camera);
        cameras.Add(text.View(), false);
    }
    plcText_ = {};
    plcText_.AppendDecimal(plc_);
}

TagFormatModel::Attributes TagFormatModel::AttributesFor(std::string_view mnemonic) {
    const std::optional<CommandMnemonic> word = MnemonicNamed(mnemonic);
    if (!word) return Attributes::None;
    switch (AddressRuleOf(*word).tail) {
        case AddressTail::PlcCamera:
            return Attributes::Camera;
        case AddressTail::PlcIhkCode:
            return Attributes::Subcommand;
        default:
            return Attributes::None;
    }
}

void WriteTagAddress(const TagFormatResult& result, char* buffer) {
    const std::optional<CommandMnemonic> word = MnemonicNamed(result.mnemonic.View());
    GateName address;
    if (word) {
        const std::string_view camera = result.camera.View();
        address =
            ComposeAddress(*word, {static_cast<int32_t>(DecimalAt(result.plcNumber.View(), 1, 1)),
                                   DecimalAt(camera, 1, camera.size()), result.subcommand.View()});
    }
    const std::string_view text = address.View();
    for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = text[i];
    buffer[text.size()] = '\0';
}

}  // namespace roderavo
