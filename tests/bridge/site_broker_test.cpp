// The shipped site broker's configuration (docs/examples/mosquitto), run as shipped
// but for its addresses, ports and paths, bridged over TLS (through a relay that stands
// for the WAN) to a central mosquitto: a bridge on the site broker is seen at the
// centre, a command from the centre reaches the line, what happened while the centre
// was gone for 20 s arrives when it is back, a command sent while the link is cut is
// not run late, and the bridge's last will reaches the centre.
#include <gtest/gtest.h>
#include <muxsim/simulator.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "bridge/broker.h"

using namespace roderavo_test;
using namespace std::chrono_literals;

namespace {

const std::string kSite = "roderavo/plant1";

// The example with each of `changes` made; "" when one is not in it.
std::string SiteConfiguration(const std::vector<std::pair<std::string, std::string>>& changes,
                              std::string* missing) {
    std::string text = ReadFile(SITE_BROKER_EXAMPLE);
    for (const auto& [from, to] : changes) {
        const auto at = text.find(from);
        if (at == std::string::npos) {
            *missing = from;
            return {};
        }
        text.replace(at, from.size(), to);
    }
    return text;
}

// The site broker's folder, with the test CA's files for its link: mosquitto started
// by root runs as the user mosquitto, as installed.
bool PrepareSiteFolder(const TempFolder& site, const TempFolder& central) {
    namespace fs = std::filesystem;
    for (const char* file : {"ca.crt", "client.crt", "client.key"})
        if (!fs::copy_file(central.File(file), site.File(file))) return false;
    const passwd* user = getpwnam("mosquitto");
    if (geteuid() != 0 || user == nullptr) return true;
    for (const auto& entry : fs::directory_iterator(site.Path()))
        if (chown(entry.path().c_str(), user->pw_uid, user->pw_gid) != 0) return false;
    return chown(site.Path().c_str(), user->pw_uid, user->pw_gid) == 0;
}

std::size_t KeyFrames(const muxsim::Simulator& sim) {
    std::size_t keys = 0;
    for (const auto& frame : sim.Received())
        keys += frame.control && frame.command == muxsim::kCmdKey ? 1 : 0;
    return keys;
}

// A TCP relay on the loopback, the WAN between the site and the centre: once cut, it
// has closed every connection and refuses new ones until it is opened again.
class Relay {
  public:
    explicit Relay(int port) : port_(port) {}
    ~Relay() { Cut(); }

    bool Open(int target) {
        target_ = target;
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // not the brokers'
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in address = Loopback(port_);
        if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0)
            return false;
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    void Cut() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
    }

  private:
    // Closed with a reset: nothing lingers on the port, which opens again at once.
    static void Drop(int fd) {
        const linger now{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        close(fd);
    }

    static sockaddr_in Loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        return address;
    }

    // Each connection taken is joined to one of its own to the target; what comes on
    // either end goes to the other, until one of them closes.
    void Run() {
        std::map<int, int> peer;
        while (!stop_) {
            std::vector<pollfd> watched{{listener_, POLLIN, 0}};
            for (const auto& [fd, other] : peer) watched.push_back({fd, POLLIN, 0});
            if (poll(watched.data(), watched.size(), 50) <= 0) continue;
            if (watched[0].revents & POLLIN) Join(peer);
            for (std::size_t i = 1; i < watched.size(); ++i)
                if (watched[i].revents != 0) Pass(watched[i].fd, peer);
        }
        for (const auto& [fd, other] : peer) Drop(fd);
    }

    void Join(std::map<int, int>& peer) const {
        const int taken = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int out = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Loopback(target_);
        if (connect(out, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            Drop(taken);
            Drop(out);
            return;
        }
        peer[taken] = out;
        peer[out] = taken;
    }

    static void Pass(int fd, std::map<int, int>& peer) {
        const auto found = peer.find(fd);
        if (found == peer.end()) return;  // closed with its other end in this round
        const int other = found->second;
        char bytes[16384];
        const ssize_t got = read(fd, bytes, sizeof bytes);
        if (got > 0 && send(other, bytes, static_cast<std::size_t>(got), MSG_NOSIGNAL) == got)
            return;
        Drop(fd);
        Drop(other);
        peer.erase(fd);
        peer.erase(other);
    }

    int port_, target_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class SiteBroker : public ::testing::Test {
  protected:
    // The central broker with TLS (a client certificate required) and persistence, and
    // the site broker's configuration made from the example.
    void SetUp() override {
        ASSERT_TRUE(MakeTestCa(central.Folder().Path())) << "openssl could not make the CA";
        settings.tls = true;
        settings.persistent = true;
        std::string why;
        ASSERT_TRUE(central.Start(settings, &why)) << why;
        ASSERT_TRUE(PrepareSiteFolder(site, central.Folder()));
        ASSERT_TRUE(wan.Open(central.Port()));
        const std::string conf = SiteConfiguration(
            {{"listener 1883", "listener " + std::to_string(sitePort)},
             {"central.example.net:8883", "localhost:" + std::to_string(wanPort)},
             {"/var/lib/mosquitto/", site.Path() + "/"},
             {"/var/log/mosquitto/mosquitto.log", site.File("broker.log")},
             {"/etc/mosquitto/ca_certificates/central-ca.crt", site.File("ca.crt")},
             {"/etc/mosquitto/certs/site.crt", site.File("client.crt")},
             {"/etc/mosquitto/certs/site.key", site.File("client.key")}},
            &why);
        ASSERT_FALSE(conf.empty()) << "the example no longer has " << why;
        std::ofstream(site.File("mosquitto.conf")) << conf;
        siteBroker = std::make_unique<ChildProgram>(
            "/usr/sbin/mosquitto", std::vector<std::string>{"-c", site.File("mosquitto.conf")},
            ChildProgram::Stderr::File);
        ASSERT_TRUE(Listening(sitePort)) << siteBroker->Errors() << Log();
        ASSERT_TRUE(sim.StartOnPty());
    }

    std::string Log() const {
        return (bridge ? bridge->Errors() : "") + ReadFile(site.File("broker.log"));
    }

    TestBroker central;
    TestBroker::Settings settings;
    TempFolder site;
    int sitePort = FreePort();
    int wanPort = FreePort();
    Relay wan{wanPort};
    std::unique_ptr<ChildProgram> siteBroker;
    muxsim::Simulator sim;
    std::unique_ptr<ChildProgram> bridge;
};

TEST_F(SiteBroker, CarriesStatesCommandsAndTheLastWillAcrossAnOutage) {
    bridge = std::make_unique<ChildProgram>(
        RODERAVO_TOOL,
        std::vector<std::string>{
            "bridge", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(), "--mux", "1", "--site",
            "plant1", "--ha-discovery", "--poll-interval", "500ms", "--timeout", "500ms",
            "--reconnect-max", "1s", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(sitePort)},
        ChildProgram::Stderr::File);
    // The centre's view: a session it keeps while the central broker restarts.
    Probe centre(central.Port(), "#", central.ClientFiles(true), "", "", "centre");
    ASSERT_TRUE(centre.Connected(10s));
    const std::string linkState = "$SYS/broker/connection/roderavo-site-plant1/state";
    Probe link(central.Port(), linkState, central.ClientFiles(true));
    ASSERT_TRUE(centre.WaitFor(kSite + "/status", "online", 60s)) << Log();
    ASSERT_TRUE(centre.WaitFor(kSite + "/camera/25/state", "fine"));
    ASSERT_TRUE(centre.WaitUntil(
        [](const std::vector<Message>& all) {
            for (const Message& m : all)
                if (m.topic.starts_with("homeassistant/binary_sensor/roderavo_plant1/"))
                    return true;
            return false;
        },
        10s));

    // A command from the centre runs once on the line, and its result comes back.
    ASSERT_TRUE(centre.Publish(kSite + "/mux/1/set/key", R"({"value":"53","id":"k1"})"));
    ASSERT_TRUE(centre.WaitFor(kSite + "/mux/1/result", "")) << Log();
    EXPECT_TRUE(centre.On(kSite + "/mux/1/result")[0].payload.starts_with("0 KEY1=53 done"));
    const std::size_t frames = sim.Received().size();
    ASSERT_TRUE(sim.WaitForFrames(frames + 8, 10s));  // a command run again would be there
    EXPECT_EQ(KeyFrames(sim), 1u);

    // The centre gone for 20 s; a camera goes into alarm meanwhile, seen at the site.
    Probe local(sitePort, kSite + "/camera/25/#");
    ASSERT_TRUE(local.Connected(10s));
    central.Stop();
    wan.Cut();  // refused, as a broker that is down: not taken and closed
    const auto gone = std::chrono::steady_clock::now();
    sim.SetCameraState(25, muxsim::CameraState::Alarm);
    ASSERT_TRUE(local.WaitFor(kSite + "/camera/25/alarm", ""));
    std::this_thread::sleep_until(gone + 20s);  // the outage
    std::string why;
    ASSERT_TRUE(central.Start(settings, &why)) << why;
    ASSERT_TRUE(wan.Open(central.Port()));
    EXPECT_TRUE(centre.WaitFor(kSite + "/camera/25/state", "alarm", 90s)) << Log();
    // Retained states come again at each new link; the alarm report of the meantime
    // (not retained) only from the site broker's queue.
    EXPECT_TRUE(centre.WaitFor(kSite + "/camera/25/alarm", "", 30s));
    {
        Probe later(central.Port(), kSite + "/camera/25/state", central.ClientFiles(true));
        EXPECT_TRUE(later.WaitFor(kSite + "/camera/25/state", "alarm"));  // retained there
    }

    // The link cut: the centre tells by the link's will, and a command sent meanwhile
    // is not kept for later (the bridge stays connected to the site broker throughout).
    EXPECT_TRUE(link.WaitFor(linkState, "1"));
    wan.Cut();
    EXPECT_TRUE(link.WaitFor(linkState, "0", 30s));
    ASSERT_TRUE(centre.Publish(kSite + "/mux/1/set/key", R"({"value":"53","id":"k2"})"));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(wan.Open(central.Port()));
    ASSERT_TRUE(link.WaitUntil(
        [&](const std::vector<Message>& all) {
            return std::any_of(all.begin(), all.end(),
                               [&](const Message& m) { return m.payload == "1" && m.at > sent; });
        },
        60s))
        << Log();
    ASSERT_TRUE(sim.WaitForFrames(sim.Received().size() + 8, 10s));
    EXPECT_EQ(KeyFrames(sim), 1u) << "a command sent while the link was down ran late";

    // Killed without a word: the site broker publishes the bridge's will to the centre.
    EXPECT_EQ(bridge->Stop(SIGKILL, 5s), 128 + SIGKILL);
    EXPECT_TRUE(centre.WaitFor(kSite + "/status", "offline", 60s)) << Log();
}

}  // namespace
