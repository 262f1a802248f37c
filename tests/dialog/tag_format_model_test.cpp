// The Tag Format dialog's model: what each event does to the lists, the enabled
// controls and the mode, and what OK composes or refuses. Each case is a short
// script of user actions after the dialog opened:
//   up / down    a plc arrow          F / H      a click on "Function Tags" / "Help Tags"
//   fn=KEY, help=SAC, sub=075, cam=27  an entry picked in that list
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/tag_format_model.h"

namespace roderavo {
namespace {

std::vector<std::string> Entries(const TagFormatListState& list) {
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < list.Count(); ++i) entries.emplace_back(list.Entry(i));
    return entries;
}

std::vector<std::string> Numbers(int first, int last) {
    std::vector<std::string> numbers;
    for (int n = first; n <= last; ++n) numbers.push_back(std::to_string(n));
    return numbers;
}

void Play(TagFormatModel& model, const std::string& script) {
    std::istringstream words(script);
    std::string word;
    while (words >> word) {
        if (word == "up") {
            model.PlcArrowClicked(PlcArrow::Up);
        } else if (word == "down") {
            model.PlcArrowClicked(PlcArrow::Down);
        } else if (word == "F") {
            model.FunctionTagsClicked();
        } else if (word == "H") {
            model.HelpTagsClicked();
        } else {
            const std::string name = word.substr(0, word.find('='));
            const std::string text = word.substr(word.find('=') + 1);
            const TagFormatList list = name == "fn"     ? TagFormatList::Function
                                       : name == "help" ? TagFormatList::Help
                                       : name == "sub"  ? TagFormatList::Subcommand
                                                        : TagFormatList::Camera;
            const int32_t index = model.List(list).IndexOf(text);
            ASSERT_NE(index, TagFormatListState::kNone) << word;
            model.SelectionChanged(list, index);
        }
    }
}

// "" when OK shows "missing value!", else the address written for the host.
std::string PressOk(const TagFormatModel& model) {
    TagFormatResult result;
    if (model.OkPressed(result) == OkOutcome::MissingValue) return "";
    std::array<char, 9> buffer;
    buffer.fill('#');
    WriteTagAddress(result, buffer.data());
    return buffer.data();
}

// The enabled ones of the controls that can be disabled: a attributes box,
// s subcommand pair, c camera pair, h help list, f function list.
std::string EnabledControls(const TagFormatModel& model) {
    std::string enabled;
    if (model.Enabled(IDC_ATTRIBUTES)) enabled += 'a';
    const bool subcommand = model.Enabled(IDC_SUBCOMMAND);
    EXPECT_EQ(subcommand, model.Enabled(IDC_SUBCOMMAND_LABEL));
    if (subcommand) enabled += 's';
    const bool camera = model.Enabled(IDC_CAMERA);
    EXPECT_EQ(camera, model.Enabled(IDC_CAMERA_LABEL));
    if (camera) enabled += 'c';
    if (model.Enabled(IDC_HELP_LIST)) enabled += 'h';
    if (model.Enabled(IDC_FUNCTION_LIST)) enabled += 'f';
    return enabled;
}

TEST(TagFormatModel, OpensWithSortedListsPlcZeroAndOnlyTheFunctionListEnabled) {
    TagFormatModel model;
    model.Open();
    EXPECT_EQ(Entries(model.List(TagFormatList::Function)),
              (std::vector<std::string>{"AAS", "ALS", "CAA", "IHK", "INHPAIR", "JOY", "KEY",
                                        "PRESET", "PTZ", "TAD", "VER", "VLS"}));
    EXPECT_EQ(Entries(model.List(TagFormatList::Help)),
              (std::vector<std::string>{"SAC", "SVC", "TAS"}));
    EXPECT_EQ(Entries(model.List(TagFormatList::Subcommand)),
              (std::vector<std::string>{"070", "075", "077", "079", "083", "118"}));
    EXPECT_EQ(Entries(model.List(TagFormatList::Camera)), Numbers(1, 20));
    for (const TagFormatList list : kTagFormatLists)
        EXPECT_EQ(model.List(list).Selected(), TagFormatListState::kNone);
    EXPECT_EQ(model.PlcText(), "0");
    EXPECT_EQ(model.Mode(), TagFormatMode::FunctionTags);
    EXPECT_EQ(EnabledControls(model), "f");
    for (const int32_t always :
         {1, 2, IDC_PLC_NUMBER, IDC_PLC_SPIN, IDC_FUNCTION_TAGS, IDC_HELP_TAGS})
        EXPECT_TRUE(model.Enabled(always)) << always;
    EXPECT_EQ(PressOk(model), "");  // no mnemonic chosen
}

TEST(TagFormatModel, ReopeningForgetsEverything) {
    TagFormatModel model;
    model.Open();
    Play(model, "up up H help=SAC cam=45 fn=IHK sub=118");
    model.Open();
    EXPECT_EQ(model.PlcText(), "0");
    EXPECT_EQ(model.Mode(), TagFormatMode::FunctionTags);
    EXPECT_EQ(EnabledControls(model), "f");
    EXPECT_EQ(Entries(model.List(TagFormatList::Camera)), Numbers(1, 20));
    for (const TagFormatList list : kTagFormatLists)
        EXPECT_EQ(model.List(list).Selected(), TagFormatListState::kNone);
}

TEST(TagFormatModel, ArrowsStopAt0And4AndAlwaysRefillTheCameras) {
    struct Case {
        std::string script;
        std::string plc;
    };
    const Case cases[] = {
        {"", "0"},
        {"down", "0"},
        {"up", "1"},
        {"up up down", "1"},
        {"up up up up", "4"},
        {"up up up up up up", "4"},
        {"cam=7 down", "0"},
        {"up up up up cam=90 up", "4"},
    };
    for (const Case& c : cases) {
        TagFormatModel model;
        model.Open();
        Play(model, c.script);
        const int plc = c.plc[0] - '0';
        EXPECT_EQ(model.PlcText(), c.plc) << c.script;
        EXPECT_EQ(model.PlcNumber(), plc) << c.script;
        EXPECT_EQ(Entries(model.List(TagFormatList::Camera)), Numbers(20 * plc + 1, 20 * plc + 20))
            << c.script;
        EXPECT_EQ(model.List(TagFormatList::Camera).Selected(), TagFormatListState::kNone)
            << c.script;
    }
}

TEST(TagFormatModel, EventsSetTheAttributeControlsTheListsAndTheMode) {
    struct Case {
        std::string script;
        std::string enabled;
        TagFormatMode mode;
    };
    constexpr TagFormatMode kF = TagFormatMode::FunctionTags;
    constexpr TagFormatMode kH = TagFormatMode::HelpTags;
    const Case cases[] = {
        {"fn=ALS", "acf", kF},
        {"fn=IHK", "asf", kF},
        {"fn=KEY", "f", kF},
        {"fn=ALS fn=CAA", "f", kF},
        {"fn=IHK fn=ALS", "acf", kF},
        {"H", "h", kH},  // no help mnemonic chosen yet
        {"fn=ALS H", "h", kH},
        {"H help=SAC", "ach", kH},
        {"H help=TAS F", "f", kF},  // no function mnemonic chosen
        {"fn=IHK H help=SVC F", "asf", kF},
        {"fn=ALS H help=SVC F", "acf", kF},
        // A pick in either list acts whatever the mode, and leaves mode and lists be.
        {"H fn=IHK", "ash", kH},
        {"H help=SAC fn=KEY", "h", kH},
        {"fn=KEY help=TAS", "acf", kF},
        // Neither the arrows nor the attribute lists change what is enabled.
        {"fn=ALS up cam=30 sub=070", "acf", kF},
        {"fn=IHK down", "asf", kF},
    };
    for (const Case& c : cases) {
        TagFormatModel model;
        model.Open();
        Play(model, c.script);
        EXPECT_EQ(EnabledControls(model), c.enabled) << c.script;
        EXPECT_EQ(model.Mode(), c.mode) << c.script;
    }
}

TEST(TagFormatModel, OkComposesTheAddressOrFindsAValueMissing) {
    struct Case {
        std::string script;
        std::string address;  // "": "missing value!"
    };
    const Case cases[] = {
        // The examples.
        {"up up up fn=KEY", "KEY3"},
        {"fn=ALS cam=5", "ALS005"},
        {"up H help=SAC cam=27", "SAC127"},
        {"up up fn=IHK sub=075", "IHK2075"},
        {"fn=INHPAIR", "INHPAIR0"},
        {"H help=TAS cam=7", "TAS007"},
        // CAA whatever the plc number.
        {"fn=CAA", "CAA"},
        {"up up fn=CAA", "CAA"},
        {"up up up up fn=CAA", "CAA"},
        // The arrows stop at 0 and 4.
        {"down fn=VER", "VER0"},
        {"up up up up up fn=PRESET", "PRESET4"},
        // Camera 100, the last one of plc 4, stays whole.
        {"up up up up fn=ALS cam=100", "ALS4100"},
        {"up up up up H help=TAS cam=100", "TAS4100"},
        {"up up up up H help=SAC cam=100", "SAC4100"},
        {"up up up up H help=SVC cam=100", "SVC4100"},
        {"up up up up H help=SVC cam=81", "SVC481"},
        {"up up up up H help=SVC cam=99", "SVC499"},
        {"up up up fn=ALS cam=80", "ALS380"},
        // Only the words with a field take one; a camera chosen aside is left out.
        {"up cam=25 fn=KEY", "KEY1"},
        {"up cam=25 fn=PTZ", "PTZ1"},
        {"up cam=25 fn=AAS", "AAS1"},
        {"up cam=25 fn=VLS", "VLS1"},
        {"up cam=25 fn=VER", "VER1"},
        {"up cam=25 sub=083 fn=JOY", "JOY1"},
        {"up cam=25 fn=TAD", "TAD1"},
        {"up cam=25 fn=INHPAIR", "INHPAIR1"},
        {"up cam=25 fn=PRESET", "PRESET1"},
        {"cam=3 fn=IHK sub=118", "IHK0118"},
        {"sub=118 fn=ALS cam=3", "ALS003"},
        // The mode says which list the mnemonic comes from.
        {"fn=KEY H help=SAC cam=1", "SAC001"},
        {"fn=KEY H help=SAC cam=1 F", "KEY0"},
        {"H help=SAC fn=ALS cam=9", "SAC009"},
        // Missing values.
        {"", ""},
        {"F", ""},
        {"H", ""},
        {"H help=SAC F", ""},  // mode 1, nothing in the function list
        {"fn=KEY H", ""},      // mode 2, nothing in the help list
        {"fn=ALS", ""},
        {"fn=IHK", ""},
        {"fn=IHK cam=4", ""},
        {"fn=ALS sub=070", ""},
        {"H help=TAS", ""},
        {"fn=ALS cam=5 up", ""},  // an arrow clears the camera
        {"H help=SVC cam=5 down", ""},
        {"up up up up fn=ALS cam=100 up", ""},
    };
    for (const Case& c : cases) {
        TagFormatModel model;
        model.Open();
        Play(model, c.script);
        EXPECT_EQ(PressOk(model), c.address) << c.script;
    }
}

TEST(TagFormatModel, OkHandsOverFreshBuffersEachTime) {
    TagFormatModel model;
    model.Open();
    Play(model, "up up fn=IHK sub=075");
    TagFormatResult result;
    ASSERT_EQ(model.OkPressed(result), OkOutcome::Close);
    EXPECT_EQ(result.subcommand.View(), "075");
    Play(model, "fn=ALS cam=45");
    ASSERT_EQ(model.OkPressed(result), OkOutcome::Close);
    EXPECT_EQ(result.mnemonic.View(), "ALS");
    EXPECT_EQ(result.plcNumber.View(), "2");
    EXPECT_EQ(result.camera.View(), "45");
    EXPECT_EQ(result.subcommand.View(), "");
    Play(model, "fn=KEY");
    ASSERT_EQ(model.OkPressed(result), OkOutcome::Close);
    EXPECT_EQ(result.camera.View(), "");
}

TEST(TagFormatModel, AFrontEndsOwnRecordOfASelectionSetsNothingElse) {
    TagFormatModel model;
    model.Open();
    model.SetSelection(TagFormatList::Function, model.List(TagFormatList::Function).IndexOf("ALS"));
    EXPECT_EQ(EnabledControls(model), "f");
    model.SetSelection(TagFormatList::Camera, 4);
    EXPECT_EQ(PressOk(model), "ALS005");
    model.SetSelection(TagFormatList::Camera, 20);  // past the end: none
    EXPECT_EQ(model.List(TagFormatList::Camera).Selected(), TagFormatListState::kNone);
    EXPECT_EQ(PressOk(model), "");
}

}  // namespace
}  // namespace roderavo
