// The tool against other peers than the in-process simulator: the `simulate`
// sub-command in another process, and a scripted multiplexer that is not muxsim.
#include <signal.h>

#include <thread>

#include "support/frame_bytes.h"
#include "support/pty_peer.h"
#include "tool_fixture.h"

using roderavo_test::Framed;
using ::testing::HasSubstr;

namespace {

TEST(ToolSimulate, PrintsItsPtyAndServesAnotherProcess) {
    roderavo_test::ChildProgram simulator(RODERAVO_TOOL, {"simulate", "--duration", "60"});
    ASSERT_TRUE(simulator.Started());
    const std::string port = simulator.ReadLine(std::chrono::seconds(10));
    ASSERT_TRUE(port.starts_with("pts/")) << port;
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", port, "AAS0", "VER0"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("SAC003 = 32 (Alarm)"));
    EXPECT_THAT(run.out, HasSubstr("SAC009 = 46 (Video Loss)"));
    EXPECT_EQ(simulator.Stop(SIGTERM, std::chrono::seconds(10)), 0);
}

TEST(ToolSimulate, SaysHowManyMultiplexersItServes) {
    const struct {
        std::vector<std::string> absent;
        std::string says;
    } cases[] = {
        {{}, "simulating five multiplexers on /dev/"},
        {{"--absent", "3,4"}, "simulating three multiplexers (0, 1, 2; 3, 4 absent) on /dev/"},
        {{"--absent", "0,1,2,3"}, "simulating one multiplexer (4; 0, 1, 2, 3 absent) on /dev/"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"simulate", "--duration", "10ms"};
        args.insert(args.end(), c.absent.begin(), c.absent.end());
        const ToolRun run = RunTool(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.says));
    }
}

// A multiplexer written from its manual: it answers VER1 and TAD1 and nothing else.
TEST(ToolScriptedPeer, ReadShowsWhatThePeerSent) {
    roderavo_test::PtyPeer line;
    ASSERT_TRUE(line.Ok());
    const std::string port = line.PortName();
    // The slave stays open here until the end: a master without one reads EIO.
    std::vector<std::vector<uint8_t>> requests;
    std::thread peer([&] {
        for (int answered = 0; answered < 2; ++answered) {
            const std::vector<uint8_t> request = line.Receive(7, 30000);
            if (request.size() != 7) return;
            requests.push_back(request);
            const auto reply =
                request[3] == 0x48
                    ? Framed({0xFF, 0x0B, 0xF0, 0x48, 0x11, 0x10, 'P', 'E', 'E', 'R', '1'})
                    : Framed({0xFF, 0x0E, 0xF0, 0x07, 0x11, 0x10, 0x99, 0x19, 0x12, 0x31, 0x05,
                              0x23, 0x59, 0x58});
            if (!line.Send(reply)) return;
        }
    });
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", port, "VER1", "TAD1"});
    line.ReleaseSlave();  // the peer's read ends with EIO if it still waits
    peer.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "VER1 = PEER1\nTAD1 = 31.12.1999 23:59:58 hrs\n");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}));
}

}  // namespace
