// The Tag Format dialog on a terminal, under tmux: driven by keys as a user does,
// it composes the address (camera 100 whole), shows "missing value!", cancels on
// Esc, refuses a terminal too small for it, and leaves the terminal as it found
// it. Without a controlling terminal nothing is shown, nor loaded.
#include "support/child_program.h"
#include "tmux_pane.h"
#include "tool_fixture.h"

using roderavo_test::ReadFile;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class TagFormatUnderTmux : public TmuxPaneTest {
  protected:
    // A window of width x height with `t`, the tool's tagformat, ready to type.
    void Start(int width, int height) {
        StartPane(width, height);
        if (IsSkipped()) return;
        Type("t() { " + std::string(RODERAVO_TOOL) + " tagformat --driver " + RODERAVO_DRIVER +
             " \"$@\" >" + dir_ + "/out 2>" + dir_ + "/err; echo EXITED:$?; }; echo READY");
        ASSERT_TRUE(PaneShows("READY")) << Pane();
    }
    // Runs the dialog from a clear window and waits until it shows.
    void Open(const std::string& options = "") {
        Type("clear; stty -g >" + dir_ + "/before; t " + options + "; stty -g >" + dir_ + "/after");
        ASSERT_TRUE(PaneShows("Additional attributes")) << Pane();
    }
    // Sends keys, then waits until the window shows `text`.
    void KeysUntil(const std::string& keys, const std::string& text) {
        Keys(keys);
        ASSERT_TRUE(PaneShows(text)) << keys << "\n" << Pane();
    }
    void ExpectTerminalAsFound() {
        EXPECT_EQ(Format("#{alternate_on}#{cursor_flag}"), "01\n");
        ASSERT_TRUE(WaitUntil([&] { return !ReadFile(dir_ + "/after").empty(); },
                              std::chrono::seconds(10)));
        EXPECT_EQ(ReadFile(dir_ + "/before"), ReadFile(dir_ + "/after"));
    }
};

TEST_F(TagFormatUnderTmux, ComposesCamera100OfPlc4AndLeavesTheTerminalAsFound) {
    Start(100, 30);
    Open("--json");
    EXPECT_EQ(Format("#{alternate_on}#{cursor_flag}"), "10\n");
    EXPECT_THAT(Pane(), HasSubstr("(*) Function Tags"));
    // From the function list back to the plc number; its arrows stop at 4.
    KeysUntil("BTab BTab Up Up Up Up Up", "[4] ^v");
    KeysUntil("Tab Tab Down Down", "[ALS      v]");  // AAS, then ALS
    KeysUntil("Tab Tab End", "[100  v]");            // past "Help Tags" to the cameras
    Keys("Enter");
    ASSERT_TRUE(PaneShows("EXITED:0")) << Pane();
    EXPECT_THAT(ReadFile(dir_ + "/out"), HasSubstr("\"result\":0,\"address\":\"ALS4100\"}"));
    ExpectTerminalAsFound();
}

TEST_F(TagFormatUnderTmux, HelpTagsFromTheOpenListAndACameraOfPlc1) {
    Start(100, 30);
    Open();
    KeysUntil("Tab Space", "(*) Help Tags");  // the radio button after the function list
    KeysUntil("Tab Space", "| SAC ");         // the help list, open
    KeysUntil("Down Enter", "[SVC      v]");
    KeysUntil("BTab BTab BTab Up", "[1] ^v");    // the function list is skipped now
    KeysUntil("Tab Tab Tab Tab 2", "[21   v]");  // the first camera starting with 2
    KeysUntil("Down Down Down Down Down Down", "[27   v]");
    Keys("Enter");
    ASSERT_TRUE(PaneShows("EXITED:0")) << Pane();
    EXPECT_EQ(ReadFile(dir_ + "/out"), "SVC127\n");
    ExpectTerminalAsFound();
}

TEST_F(TagFormatUnderTmux, MissingValueKeepsTheDialogOpenAndEscCancels) {
    Start(100, 30);
    Open();
    KeysUntil("Enter", "missing value!");  // nothing chosen yet
    EXPECT_THAT(Pane(), HasSubstr(" Error "));
    Keys("Enter");
    ASSERT_TRUE(PaneLacks("missing value!")) << Pane();
    KeysUntil("i", "[IHK      v]");
    KeysUntil("Enter", "missing value!");  // no subcommand
    Keys("Escape");
    ASSERT_TRUE(PaneLacks("missing value!")) << Pane();
    EXPECT_THAT(Pane(), HasSubstr("Additional attributes"));
    // Escape sequences that name no key here (ESC [ 2 0 0 ~, ESC O z, ESC [ 4 ~) are
    // ignored: the dialog stays and takes the next key.
    Keys("-H 1b 5b 32 30 30 7e 1b 4f 7a 1b 5b 34 7e");
    KeysUntil("a", "[AAS      v]");
    Keys("Escape");
    ASSERT_TRUE(PaneShows("EXITED:1")) << Pane();
    EXPECT_EQ(ReadFile(dir_ + "/out"), "");
    EXPECT_THAT(ReadFile(dir_ + "/err"), HasSubstr("roderavo: no address (result 53)"));
    ExpectTerminalAsFound();
}

TEST_F(TagFormatUnderTmux, ATerminalTooSmallGets53AndSaysWhy) {
    Start(50, 12);
    Type("clear; t --json");
    ASSERT_TRUE(PaneShows("EXITED:1")) << Pane();
    EXPECT_THAT(Pane(false, true),
                HasSubstr("Tag Format: the terminal is too small for the dialog: it has 50 "
                          "columns and 12 lines, the dialog needs 64 columns and 18 lines."));
    EXPECT_THAT(ReadFile(dir_ + "/out"), HasSubstr("\"result\":53,\"address\":null}"));
    EXPECT_EQ(Format("#{alternate_on}#{cursor_flag}"), "01\n");
}

// In a session of its own the tool has no controlling terminal: no dialog, result
// 53, and the terminal module is never loaded.
TEST(TagFormatWithoutTerminal, ShowsNothingLoadsNothingAndGives53) {
    roderavo_test::ChildProgram tool("/usr/bin/setsid",
                                     {"-w", "/usr/bin/env", "LD_DEBUG=files", RODERAVO_TOOL,
                                      "tagformat", "--json", "--driver", RODERAVO_DRIVER},
                                     roderavo_test::ChildProgram::Stderr::Pipe);
    ASSERT_TRUE(tool.Started());
    const roderavo_test::ProgramRun run = tool.Collect(std::chrono::seconds(30));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.out, HasSubstr("\"result\":53,\"address\":null}"));
    EXPECT_THAT(run.err, HasSubstr("libroderavo.so"));  // the loader's trace is there
    EXPECT_THAT(run.err, Not(HasSubstr("libroderavo-tagformat.so")));
}

}  // namespace
