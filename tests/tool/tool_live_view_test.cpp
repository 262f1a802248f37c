// The live view on a real terminal, under tmux: it draws, refreshes, shows colour,
// and Ctrl-C ends it with the terminal as it was (main screen, cursor, line modes).
#include "tmux_pane.h"
#include "tool_fixture.h"

using roderavo_test::ReadFile;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class LiveViewUnderTmux : public TmuxPaneTest {
  protected:
    void SetUp() override { StartPane(150, 40); }
};

TEST_F(LiveViewUnderTmux, DrawsRefreshesAndLeavesTheTerminalCleanOnCtrlC) {
    Type("stty -g > " + dir_ + "/before; echo READY");
    ASSERT_TRUE(PaneShows("READY"));
    Type(std::string(RODERAVO_TOOL) + " poll --simulate --driver " + RODERAVO_DRIVER +
         " --poll-interval 200ms --log " + dir_ + "/log; echo EXITED:$?; stty -g > " + dir_ +
         "/after");

    // It draws, with every multiplexer and the cameras in alarm and video loss...
    ASSERT_TRUE(PaneShows("cycle 1 ")) << Pane();
    // (the rows fill in as the cycle reads them)
    EXPECT_TRUE(PaneShows("  1  21-40   . . . . . . A . . . . . V")) << Pane();
    EXPECT_THAT(Pane(), HasSubstr("Ctrl-C or q to stop"));
    EXPECT_EQ(Format("#{alternate_on}#{cursor_flag}"), "10\n");
    // ...in colour (the cells of cameras in alarm on red)...
    EXPECT_THAT(Pane(true), HasSubstr("41m"));
    // ...and refreshes.
    ASSERT_TRUE(PaneShows("cycle 3 ")) << Pane();

    Tmux("send-keys -t view C-c");
    ASSERT_TRUE(PaneShows("EXITED:0")) << Pane();
    const std::string after = Pane();
    // The live screen is gone; the last picture is printed once, with the statistics.
    EXPECT_EQ(after.find("MUX CAMERAS"), after.rfind("MUX CAMERAS"));
    EXPECT_THAT(after, HasSubstr("  1  21-40   . . . . . . A . . . . . V"));
    EXPECT_THAT(after, Not(HasSubstr("Ctrl-C or q to stop")));
    EXPECT_THAT(after, HasSubstr("cycles in"));
    EXPECT_THAT(after, HasSubstr("mux  reads  good  failed   loss  frames  retries"));
    EXPECT_EQ(Format("#{alternate_on}#{cursor_flag}"), "01\n");
    ASSERT_TRUE(
        WaitUntil([&] { return !ReadFile(dir_ + "/after").empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(dir_ + "/before"), ReadFile(dir_ + "/after"));  // echo, canonical mode
    // Exit ran (function 11, logged as 10) and was the driver's last call.
    const std::string log = ReadFile(dir_ + "/log");
    const auto exit = log.rfind("trace VERODI: Entered KorMain(), with function 10\n");
    ASSERT_NE(exit, std::string::npos);
    EXPECT_EQ(log.find("Entered KorMain", exit + 30), std::string::npos);
}

TEST_F(LiveViewUnderTmux, TheKeyQEndsTheViewToo) {
    Type(std::string(RODERAVO_TOOL) + " poll --simulate --driver " + RODERAVO_DRIVER +
         " --color never --mux 0; echo EXITED:$?");
    ASSERT_TRUE(PaneShows("cycle 1 ")) << Pane();
    EXPECT_THAT(Pane(true), Not(HasSubstr("41m")));
    Tmux("send-keys -t view q");
    ASSERT_TRUE(PaneShows("EXITED:0")) << Pane();
}

// On a dead line each read waits five time-outs; q still ends the view at once, says
// that the exchange in flight is finished first, and a second Ctrl-C ends it at once.
TEST_F(LiveViewUnderTmux, TheKeyQEndsTheViewAtOnceOnADeadLine) {
    Type(std::string(RODERAVO_TOOL) + " poll --simulate --driver " + RODERAVO_DRIVER +
         " --sim-absent 0,1,2,3,4 --timeout 4s --color never; echo EXITED:$?");
    ASSERT_TRUE(PaneShows("cycle 1 ", std::chrono::seconds(20))) << Pane();
    Tmux("send-keys -t view q");
    // The read in flight takes 5 x 4 s; the view is gone long before.
    ASSERT_TRUE(PaneShows("stopping after the current exchange", std::chrono::seconds(8)))
        << Pane();
    EXPECT_EQ(Format("#{alternate_on}"), "0\n");
    Tmux("send-keys -t view C-c");
    ASSERT_TRUE(PaneShows("EXITED:130", std::chrono::seconds(8))) << Pane();
}

}  // namespace
