// The tool against other peers than the in-process simulator: the `simulate`
// sub-command in another process, and a scripted multiplexer that is not muxsim.
#include <pty.h>
#include <unistd.h>

#include <thread>

#include "tool_fixture.h"

using ::testing::HasSubstr;

namespace {

TEST(ToolSimulate, PrintsItsPtyAndServesAnotherProcess) {
    BackgroundTool simulator = StartTool({"simulate", "--duration", "60"});
    ASSERT_GT(simulator.pid, 0);
    const std::string port = ReadLine(simulator, std::chrono::seconds(10));
    ASSERT_TRUE(port.starts_with("pts/")) << port;
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", port, "AAS0", "VER0"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("SAC003 = 32 (Alarm)"));
    EXPECT_THAT(run.out, HasSubstr("SAC009 = 46 (Video Loss)"));
    EXPECT_EQ(StopTool(simulator, std::chrono::seconds(10)), 0);
}

uint8_t Checksum(const std::vector<uint8_t>& bytes) {
    unsigned sum = 0;
    for (uint8_t b : bytes)
        if (b != 0xFF) sum += b;
    return static_cast<uint8_t>(-sum);
}

// A multiplexer written from its manual: it answers VER1 and TAD1 and nothing else.
TEST(ToolScriptedPeer, ReadShowsWhatThePeerSent) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string port = std::string(ttyname(slave)).substr(5);
    // The slave stays open here until the end: a master without one reads EIO.
    std::vector<std::vector<uint8_t>> requests;
    std::thread peer([&] {
        for (int answered = 0; answered < 2;) {
            std::vector<uint8_t> request(7);
            std::size_t got = 0;
            while (got < request.size()) {
                const ssize_t n = read(master, request.data() + got, request.size() - got);
                if (n <= 0) return;
                got += static_cast<std::size_t>(n);
            }
            requests.push_back(request);
            std::vector<uint8_t> reply;
            if (request[3] == 0x48)
                reply = {0xFF, 0x0B, 0xF0, 0x48, 0x11, 0x10, 'P', 'E', 'E', 'R', '1'};
            else
                reply = {0xFF, 0x0E, 0xF0, 0x07, 0x11, 0x10, 0x99,
                         0x19, 0x12, 0x31, 0x05, 0x23, 0x59, 0x58};
            reply.push_back(Checksum(reply));
            if (write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
                return;
            ++answered;
        }
    });
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", port, "VER1", "TAD1"});
    close(slave);  // the peer's read ends with EIO if it still waits
    peer.join();
    close(master);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "VER1 = PEER1\nTAD1 = 31.12.1999 23:59:58 hrs\n");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}));
}

}  // namespace
