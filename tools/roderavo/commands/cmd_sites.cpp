// roderavo sites: the sites whose bridges report to a broker, read from what the broker
// keeps retained under ROOT/+/..., as a table, JSON, a live view or a monitoring check.
// The broker is reached with the bridge's own [mqtt] options; what is read and shown
// is the sites room's (tools/roderavo/sites/).
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "bridge/mqtt/mqtt_client.h"
#include "commands/commands.h"
#include "output/text.h"
#include "sites/sites_render.h"
#include "system/terminal.h"

namespace roderavo::tool {

namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The retained messages are taken as all there when none has come for this long.
constexpr auto kQuiet = 500ms;

// What the broker's thread hands over to the command's, under one lock.
struct Feed {
    explicit Feed(std::string root) : model(std::move(root)) {}

    void Message(const std::string& topic, const std::string& payload, bool retained) {
        std::lock_guard lock(mutex);
        changes += model.Take(topic, payload);
        if (retained) lastRetained = Steady::now();
        changed.notify_all();
    }
    void Connected() {
        std::lock_guard lock(mutex);
        connected = true;
        lastRetained = Steady::now();
        ++changes;
        changed.notify_all();
    }
    void Log(const std::string& text) {
        std::lock_guard lock(mutex);
        // The client says something only when the connection failed or was lost.
        connected = false;
        said = text.substr(0, text.find("; next try"));
        ++changes;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    sites::SitesModel model;
    uint64_t changes = 0;
    bool connected = false;
    std::string said;
    Steady::time_point lastRetained{};
};

std::string Broker(const bridge::BrokerSettings& broker) {
    return broker.host + ":" + std::to_string(broker.port);
}

// Waits for the retained messages until a quiet spell; why not, when they could not be had.
std::optional<std::string> Collect(Feed& feed, const bridge::MqttClient& client,
                                   const bridge::BrokerSettings& broker,
                                   std::chrono::milliseconds timeout) {
    const auto deadline = Steady::now() + timeout;
    std::unique_lock lock(feed.mutex);
    for (;;) {
        if (const auto fatal = client.Fatal()) return *fatal;
        const auto now = Steady::now();
        if (feed.connected && now - feed.lastRetained >= kQuiet) return std::nullopt;
        if (now >= deadline) {
            if (feed.connected)
                return "the broker " + Broker(broker) + " sent retained messages for " +
                       SecondsText(timeout) + " without a pause";
            return !feed.said.empty() ? feed.said
                                      : "no answer from the broker " + Broker(broker) + " within " +
                                            SecondsText(timeout);
        }
        const auto wake =
            feed.connected ? std::min(deadline, feed.lastRetained + kQuiet) : deadline;
        feed.changed.wait_until(lock, wake);
    }
}

std::vector<sites::SiteSummary> Summaries(Feed& feed, const SitesOptions& options) {
    std::lock_guard lock(feed.mutex);
    return sites::Summarize(feed.model.Sites(), options.sites, sites::WallClock::now());
}

// The live view: redrawn as messages come and each second (the ages), until q, Esc or a
// signal. Without a terminal, the table again whenever a message changed it.
int Watch(Feed& feed, const SitesOptions& options, const std::string& url) {
    InstallStopSignals();
    LiveScreen screen;
    const bool live = LiveScreen::Possible() && screen.Enter();
    std::vector<std::string> printed;
    bool settled = false;  // the retained messages taken: a site not among them is missing
    while (!StopRequested()) {
        {
            std::lock_guard lock(feed.mutex);
            settled = settled || (feed.connected && Steady::now() - feed.lastRetained >= kQuiet);
        }
        std::vector<std::string> lines;
        if (settled) lines = sites::RenderTable(Summaries(feed, options));
        if (live) {
            std::string state;
            {
                std::lock_guard lock(feed.mutex);
                state = feed.connected ? "connected" : feed.said.empty() ? "connecting" : feed.said;
            }
            lines.insert(lines.begin(),
                         {"roderavo sites  " + url + "  " + LocalTimeText("%Y-%m-%d %H:%M:%S") +
                              "  (q or Esc quits)",
                          "broker: " + state, ""});
            screen.Draw(lines);
            if (screen.WaitForQuitKey(250)) break;
            continue;
        }
        if (settled && lines != printed) {
            for (const std::string& line : lines) std::cout << line << '\n';
            std::cout << std::endl;
            printed = lines;
        }
        std::unique_lock lock(feed.mutex);
        feed.changed.wait_for(lock, settled ? 250ms : 50ms);
    }
    return kExitOk;
}

// The broker as the bridge reaches it, under a client id of this run's own and without
// the bridge's last will (which would say the site is offline).
std::optional<bridge::MqttSettings> JudgeBroker(bridge::MqttOptions mqtt) {
    if (mqtt.url.empty()) mqtt.url = bridge::kDefaultBroker;
    const bool ownId = mqtt.clientId.empty();
    auto settings = bridge::JudgeMqtt(mqtt, false);
    if (!settings) return std::nullopt;
    if (ownId) settings->broker.clientId = "roderavo-sites-" + std::to_string(getpid());
    settings->broker.willTopic.clear();
    settings->broker.willPayload.clear();
    return settings;
}

// The topic root: --topic-root, else the levels of the site file's prefix above the
// site, else roderavo.
std::string Root(const SitesOptions& options, const bridge::MqttOptions& mqtt) {
    if (!options.root.empty()) return options.root;
    const std::size_t slash = mqtt.topicPrefix.rfind('/');
    if (slash != std::string::npos && slash > 0) return mqtt.topicPrefix.substr(0, slash);
    return std::string(sites::kDefaultRoot);
}

}  // namespace

int RunSites(const CommonOptions& common, const bridge::MqttOptions& mqtt,
             const SitesOptions& options) {
    SetJsonErrors(common.json);
    const auto refuse = [&options](const std::string& why) {
        if (options.check) std::cout << sites::Unknown(why).text << std::endl;
        return options.check ? static_cast<int>(sites::Verdict::kUnknown) : kExitRefused;
    };
    const std::string root = Root(options, mqtt);
    if (const std::string why = bridge::TopicLevelsProblem(root); !why.empty()) {
        Complain("--topic-root " + root + ": " + why);
        return refuse("--topic-root " + root + ": " + why);
    }
    const auto timeout = bridge::JudgeDuration("--timeout", options.timeout, 100);
    const auto settings = JudgeBroker(mqtt);
    if (!timeout || !settings) return refuse("the options are wrong (see above)");

    Feed feed(root);
    bridge::MqttClient client(settings->broker);
    std::string error;
    const bool started = client.Start([&feed](const std::string& t, const std::string& p,
                                              bool retained) { feed.Message(t, p, retained); },
                                      [&feed, &client] {
                                          for (const std::string& filter : feed.model.Filters())
                                              client.Subscribe(filter);
                                          feed.Connected();
                                      },
                                      [&feed](const std::string& text) { feed.Log(text); }, &error);
    if (!started) {
        Complain(error);
        return refuse(error);
    }
    if (options.watch) return Watch(feed, options, settings->url);
    if (const auto why = Collect(feed, client, settings->broker, *timeout)) {
        if (options.check)
            std::cout << sites::Unknown(*why).text << std::endl;
        else
            Complain(*why);
        return options.check ? static_cast<int>(sites::Verdict::kUnknown) : kExitLine;
    }
    const auto summaries = Summaries(feed, options);
    if (options.check) {
        const sites::CheckLine line = sites::Check(summaries, root);
        std::cout << line.text << std::endl;
        return line.ExitCode();
    }
    if (common.json)
        std::cout << sites::RenderJson(summaries) << std::endl;
    else
        for (const std::string& line : sites::RenderTable(summaries)) std::cout << line << '\n';
    return std::cout.flush() ? kExitOk : kExitLine;
}

}  // namespace roderavo::tool
