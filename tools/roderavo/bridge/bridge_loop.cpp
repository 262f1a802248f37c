// The bridge's main loop: the poller's cycles on this thread, the commands taken from
// the queue between gate reads and between cycles, what changed published after each
// gate. The broker's connection lives on the MQTT client's thread, and a watcher
// answers the commands that may no longer run while the line is busy, and ends the
// run quickly on a signal: it cuts the line so that no exchange waits out its
// time-outs.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "address/address_fields.h"
#include "address/camera_range.h"
#include "bridge/bridge.h"
#include "bridge/command_queue.h"
#include "bridge/ha_discovery.h"
#include "bridge/modbus_server.h"
#include "bridge/modbus_tags.h"
#include "bridge/mqtt_client.h"
#include "bridge/retained_commands.h"
#include "bridge/state_publisher.h"
#include "gates/gate_forms.h"
#include "output/host_log.h"
#include "output/text.h"
#include "poll/poll_gates.h"
#include "system/terminal.h"
#include "write/write_path.h"

namespace roderavo::tool::bridge {

namespace {

using Clock = PollClock;
using std::chrono::milliseconds;

// A line of the bridge's own, on stderr (and in the --log file) with its time.
void Say(const std::string& text) {
    ToolLine("event", LocalTimeMsText() + " roderavo: " + text);
}

std::optional<milliseconds> Duration(const std::string& option, const std::string& text,
                                     double minimumMs) {
    if (const std::string problem = DurationProblem(text, minimumMs); !problem.empty()) {
        Complain(option + " " + problem);
        return std::nullopt;
    }
    return milliseconds(std::llround(ParseDurationMs(text, true).value_or(0)));
}

// The broker's settings from the options; nothing (with a message) when one is wrong.
std::optional<BrokerSettings> Broker(const BridgeOptions& options, const std::string& prefix) {
    std::string error;
    const auto address = ParseBrokerUrl(options.mqtt, &error);
    if (!address) {
        Complain(error);
        return std::nullopt;
    }
    BrokerSettings broker;
    broker.host = address->host;
    broker.port = address->port;
    broker.tls = address->tls || !options.caFile.empty() || !options.certFile.empty();
    broker.caFile = options.caFile;
    broker.certFile = options.certFile;
    broker.keyFile = options.keyFile;
    for (const std::string* file : {&broker.caFile, &broker.certFile, &broker.keyFile}) {
        if (!file->empty() && !std::ifstream(*file).good()) {
            Complain("TLS: cannot read " + *file);
            return std::nullopt;
        }
    }
    broker.username = options.username;
    broker.password = options.password;
    if (!options.passwordFile.empty()) {
        std::ifstream file(options.passwordFile);
        if (!file || !std::getline(file, broker.password)) {
            Complain("--mqtt-password-file " + options.passwordFile + ": cannot read it");
            return std::nullopt;
        }
        if (!broker.password.empty() && broker.password.back() == '\r') broker.password.pop_back();
    }
    if (!broker.password.empty() && broker.username.empty()) {
        Complain("a password needs its user name: give --mqtt-username");
        return std::nullopt;
    }
    broker.clientId = options.clientId.empty() ? ClientId(prefix) : options.clientId;
    broker.keepAliveSeconds = options.keepAlive;
    // A bridge that is lost without a word (killed, its machine or network gone) is
    // shown offline by the broker.
    broker.willTopic = Topics(prefix).Status();
    broker.willPayload = "offline";
    const auto low = Duration("--reconnect-min", options.backoffMin, kReconnectLeastMs);
    const auto high = Duration("--reconnect-max", options.backoffMax, kReconnectLeastMs);
    if (!low || !high) return std::nullopt;
    broker.backoffMin = *low;
    broker.backoffMax = std::max(*low, *high);
    return broker;
}

// The ALS address of a camera, composed by the driver's own address rules.
std::string AlarmAddress(int camera) {
    AddressParts parts;
    parts.plcNum = MuxOfCamera(camera);
    parts.camera = camera;
    return std::string(ComposeAddress(CommandMnemonic::Als, parts).View());
}

Json MuxNumber(const std::string& mux) {
    if (mux.empty() || mux.size() > 2 || !std::all_of(mux.begin(), mux.end(), ::isdigit))
        return nullptr;
    return std::stoi(mux);
}

// The Modbus face's settings: where it listens (none: no face), the idle time, the peers
// admitted (none named: every peer).
struct ModbusSettings {
    std::optional<ModbusEndpoint> endpoint;
    milliseconds idle{};
    std::vector<ModbusPeers> peers;
};

struct CommandResult {
    int32_t result = 0;
    WriteFault fault = WriteFault::kNone;
    std::string gate, value, explanation;
};

class Bridge {
  public:
    Bridge(const CommonOptions& common, const BridgeOptions& options, Session& session,
           Topics topics, BrokerSettings broker, PollSettings poll, milliseconds commandDeadline)
        : common_(common),
          options_(options),
          session_(session),
          topics_(std::move(topics)),
          mqtt_(!options.mqtt.empty()),
          client_(std::move(broker)),
          publisher_(
              topics_, common.json,
              [this](const std::string& topic, const std::string& payload, bool retain) {
                  return client_.Publish(topic, payload, retain);
              },
              [this] { return client_.Connections(); }),
          retained_([this](const std::string& topic, const std::string& payload, bool retain) {
              return client_.Publish(topic, payload, retain);
          }),
          poll_(std::move(poll)),
          queue_(commandDeadline) {}

    // The Modbus TCP face, when asked for; false (with the reason said) when its
    // address cannot be served. Its writes wait in the command queue with the broker's.
    bool ServeModbus(const ModbusSettings& settings) {
        const ModbusEndpoint& endpoint = *settings.endpoint;
        modbus_ = std::make_unique<ModbusServer>([](const std::string& text) { Say(text); });
        ModbusServer::Writer writer;
        if (options_.modbusWritable)
            writer = [this](const std::string& assignment, const std::string& peer,
                            ModbusServer::Done done) {
                Command command;
                command.modbus = Command::Modbus{assignment, peer, std::move(done)};
                return queue_.Push(std::move(command));
            };
        std::string error;
        if (modbus_->Start(endpoint, settings.idle, settings.peers, std::move(writer), &error)) {
            Say("Modbus TCP on " + endpoint.address + ":" + std::to_string(endpoint.port) +
                (options_.modbusWritable ? " (reads and writes)" : " (reads only)"));
            return true;
        }
        Complain(error);
        modbus_.reset();
        return false;
    }

    bool Connect() {
        if (!mqtt_) return true;
        std::string error;
        const bool started = client_.Start(
            [this](const std::string& topic, const std::string& payload, bool retained) {
                const auto parsed = topics_.ParseCommand(topic);
                if (parsed && retained_.IsCommand(topic, payload, retained))
                    Admit(Command{parsed->mux, parsed->word, payload, retained});
            },
            [this] { OnConnected(); }, [](const std::string& text) { Say(text); }, &error);
        if (!started) Complain(error);
        return started;
    }

    int Run(std::optional<milliseconds> duration, milliseconds statisticsEvery,
            const std::vector<MuxGates>& gates) {
        Poller poller(
            poll_,
            [&](int mux, PollGate which) {
                std::size_t index = 0;
                while (poll_.muxes[index] != mux) ++index;
                return ReadPollGate(session_, gates[index].Of(which));
            },
            [this](const std::string& text) {
                Say(text);
                publisher_.Event(text);
            });
        const auto start = Clock::now();
        auto stop = [&] {
            return StopRequested() || client_.Fatal().has_value() ||
                   (duration && Clock::now() - start >= *duration);
        };
        std::atomic<bool> finished{false};
        std::thread watcher([&] { Watch(finished); });
        statisticsEvery_ = statisticsEvery;
        nextStatistics_ = start + statisticsEvery;
        while (!stop()) {
            const auto cycleStart = Clock::now();
            const bool read =
                poller.Cycle([] { return Clock::now(); }, [&] { Between(poller, stop); }, stop);
            Between(poller, stop);
            const auto next = cycleStart + std::max(milliseconds(session_.PollIntervalMs()),
                                                    read ? milliseconds(0) : kIdleRest);
            while (!stop() && Clock::now() < next) {
                RunCommands(stop, next);
                StatisticsWhenDue(poller);
                queue_.WaitUntil(
                    std::min({next, nextStatistics_, Clock::now() + milliseconds(50)}));
            }
        }
        finished = true;
        watcher.join();
        // No Modbus client is answered once the driver is gone.
        Json more = Json::object();
        if (modbus_) {
            modbus_->Stop();
            const ModbusCounts counts = modbus_->Counts();
            Say("Modbus TCP: " + ModbusCountsText(counts));
            more["modbus"] = ModbusCountsRecord(counts);
        }
        const auto fatal = client_.Fatal();
        if (!fatal && mqtt_) {
            PublishStatistics(poller);
            client_.Publish(topics_.Status(), "offline", true);
        }
        client_.Stop();
        session_.CloseLine();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        PrintStatistics(common_, session_, poller.Muxes(), poller.Cycles(), seconds, more);
        if (fatal) {
            Complain(*fatal);
            return kExitRefused;
        }
        return kExitOk;
    }

  private:
    // On the MQTT client's thread, after each accepted connection.
    void OnConnected() {
        Say("connected to the broker " + options_.mqtt + " (connection " +
            std::to_string(client_.Connections()) + "); topics under " + topics_.Prefix() + "/");
        retained_.Reset();
        client_.Subscribe(topics_.CommandFilter());
        client_.Publish(topics_.Status(), "online", true);
        for (const auto& message :
             DiscoveryAtConnection(topics_, options_.haPrefix, Site(), poll_.muxes, common_.json,
                                   options_.haDiscovery))
            client_.Publish(message.topic, message.payload, true);
        publisher_.Republish();
    }

    std::string Site() const {
        if (!options_.site.empty()) return options_.site;
        if (!options_.topicPrefix.empty()) return options_.topicPrefix;
        return DefaultSite();
    }

    // Answers the commands that wait past their deadline or for a multiplexer that
    // cannot be reached, while the line is busy. Ends the run quickly on a signal or a
    // fatal refusal of the broker: the exchange in flight fails at once, and the loop
    // sees the stop before the next gate. The commands that still wait are answered
    // then, or at the end of the run.
    void Watch(const std::atomic<bool>& finished) {
        while (!finished) {
            if (StopRequested() || client_.Fatal()) {
                session_.CutLine();
                break;
            }
            for (const TakenCommand& taken : queue_.TakeRefused(Clock::now()))
                Refuse(taken.command, taken.refusal);
            std::this_thread::sleep_for(milliseconds(20));
        }
        EndCommands();
        queue_.Wake();
    }

    // Between two gate reads: what changed is published, then one command runs, so
    // that a burst of commands slows the poll by no more than one command per read.
    void Between(Poller& poller, const std::function<bool()>& stop) {
        if (stop()) return;
        StatisticsWhenDue(poller);
        // A clock that a command set is read in its multiplexer's next turn.
        for (const int mux : clocksWritten_) poller.ClockWritten(mux);
        clocksWritten_.clear();
        queue_.SetUnreachable(poller.Unreachable());
        if (modbus_) modbus_->Update(poller.Muxes(), poller.StaleAfter());
        if (!mqtt_) {
            RunCommands(stop, {});
            return;
        }
        const auto reports = publisher_.Publish(poller.Muxes(), Clock::now(), poller.StaleAfter());
        for (int camera : reports) {
            if (stop()) return;
            ReportAlarm(camera);
        }
        RunCommands(stop, {});
    }

    // The alarm report of a camera that has just gone into alarm or video loss.
    void ReportAlarm(int camera) {
        auto found = alarmGates_.find(camera);
        if (found == alarmGates_.end()) {
            std::string why;
            auto bound = session_.Bind(AlarmAddress(camera), &why);
            if (!bound) return;
            found = alarmGates_.emplace(camera, *bound).first;
        }
        const ReadResult read = session_.Read(found->second);
        std::string report;
        if (read.status == KOR_OK && !read.companions.empty() && read.companions[0].text)
            report = *read.companions[0].text;
        const uint16_t state = read.status == KOR_OK ? read.number : 0xFE;
        publisher_.AlarmReport(camera,
                               state == 0x20   ? "alarm"
                               : state == 0x2E ? "video-loss"
                               : state == 0    ? "fine"
                                               : "unknown",
                               report);
    }

    // Runs queued commands until `until` (one command when it has passed already); one
    // that may not run is answered and costs no turn.
    void RunCommands(const std::function<bool()>& stop, Clock::time_point until) {
        for (bool ran = false; !ran || Clock::now() < until;) {
            if (stop()) return;
            auto taken = queue_.TryPop(Clock::now());
            if (!taken) return;
            ran = taken->refusal.empty();
            if (ran)
                Execute(taken->command);
            else
                Refuse(taken->command, taken->refusal);
        }
    }

    // Every command that waits is answered when the bridge ends; none is taken after.
    void EndCommands() {
        for (const TakenCommand& taken : queue_.Close("the bridge stops: not sent"))
            Refuse(taken.command, taken.refusal);
    }

    // A command answered without running (on whichever thread finds it so): a Modbus
    // write with 0B, an MQTT command with its refusal.
    void Refuse(const Command& command, const std::string& why) {
        if (command.modbus) {
            Say("modbus: " + command.modbus->peer + " wrote " + command.modbus->assignment + ": " +
                std::to_string(KOR_REFUSED) + " " + why);
            return command.modbus->done(kModbusTargetFailed);
        }
        const CommandRequest request = InterpretCommand(command);
        CommandResult result;
        result.result = KOR_REFUSED;
        result.value = request.value;
        result.explanation = request.refusal.empty() ? why : request.refusal;
        Conclude(command, request, result, false);
    }

    // On the MQTT client's thread, as each command arrives: queued, or answered at
    // once when it is too long to keep or the queue is full.
    void Admit(Command command) {
        if (queue_.Push(command, publisher_.UnsentResults())) return;
        CommandRequest request = InterpretCommand(command);
        if (request.refusal.empty()) request.refusal = BusyText();
        CommandResult result;
        result.result = KOR_REFUSED;
        result.value = request.value;
        result.explanation = request.refusal;
        Conclude(command, request, result, false);
    }

    void Execute(const Command& command) {
        if (command.modbus) {
            ExecuteModbus(*command.modbus);
            return;
        }
        const CommandRequest request = InterpretCommand(command);
        const std::string topic = "mux/" + command.mux + "/set/" + command.word;
        if (!request.id.empty()) {
            if (const auto earlier = seen_.ResultOf(request.id)) {
                Say("command " + topic + " id " + request.id + " came again: not run twice");
                Answer(command, request, *earlier, true);
                return;
            }
        }
        CommandResult result;
        result.value = request.value;
        if (!request.refusal.empty()) {
            result.result = KOR_REFUSED;
            result.explanation = request.refusal;
        } else {
            result = Write(request.assignment);
        }
        Conclude(command, request, result, true);
    }

    // A write of the Modbus face, told its exception code: 03 for a value refused
    // before the line, 04 when the multiplexer refused it, 0B when the line failed.
    void ExecuteModbus(const Command::Modbus& write) {
        const CommandResult result = Write(write.assignment);
        Say("modbus: " + write.peer + " wrote " + write.assignment + ": " +
            std::to_string(result.result) + " " + result.explanation);
        switch (result.fault) {
            case WriteFault::kNone:
                return write.done(0);
            case WriteFault::kValue:
                return write.done(kModbusIllegalValue);
            case WriteFault::kRefusedByMux:
                return write.done(kModbusDeviceFailure);
            case WriteFault::kLine:
                return write.done(kModbusTargetFailed);
        }
    }

    // The assignment through the write path: refused before the line, or sent.
    CommandResult Write(const std::string& assignment) {
        CommandResult result;
        std::string refusal;
        const auto write = PrepareWrite(session_, assignment, &refusal);
        if (!write) {
            result.result = KOR_REFUSED;
            result.fault = WriteFault::kValue;
            result.explanation = refusal;
            return result;
        }
        const WriteOutcome outcome = SendPreparedWrite(session_, *write);
        if (outcome.status == KOR_OK && write->gate.gate.address.starts_with("TAD"))
            clocksWritten_.push_back(write->gate.gate.parse.plcNum);
        result.result = outcome.status;
        result.fault = outcome.fault;
        result.gate = write->gate.gate.address;
        result.value = write->valueText;
        result.explanation = outcome.explanation.empty()
                                 ? result.gate + "=" + result.value + " done"
                                 : outcome.explanation;
        return result;
    }

    // Logs and answers the command; what ran (or was refused for good) is remembered by
    // its id, so that it is not run again.
    void Conclude(const Command& command, const CommandRequest& request,
                  const CommandResult& result, bool remember) {
        Say("command mux/" + command.mux + "/set/" + command.word + " " + request.value + ": " +
            std::to_string(result.result) + " " + result.explanation);
        const std::string text = ResultText(command, request, result);
        if (remember && !request.id.empty()) seen_.Remember(request.id, text);
        Answer(command, request, text, false);
    }

    std::string ResultText(const Command& command, const CommandRequest& request,
                           const CommandResult& result) const {
        if (!common_.json) return std::to_string(result.result) + " " + result.explanation;
        // The multiplexer is a number, as in the states; a topic that names none has null.
        Json record{{"mux", MuxNumber(command.mux)}, {"command", command.word}};
        if (!result.gate.empty()) record["gate"] = result.gate;
        record["value"] = result.value;
        if (!request.id.empty()) record["id"] = request.id;
        record["result"] = result.result;
        record["explanation"] = result.explanation;
        return JsonText(record);
    }

    // The result on …/mux/<m>/result; a repeated id gets the first result, marked.
    void Answer(const Command& command, const CommandRequest& request, std::string text,
                bool duplicate) {
        if (duplicate) {
            if (common_.json)
                text.insert(text.size() - 1, ",\"duplicate\":true");
            else
                text += " (id " + request.id + " was run before: not run again)";
        }
        publisher_.Result(topics_.MuxResult(command.mux), text);
    }

    // Each --statistics-every, counted from the start: one that a long read delayed
    // does not put off the ones after it.
    void StatisticsWhenDue(const Poller& poller) {
        const auto now = Clock::now();
        if (now < nextStatistics_) return;
        PublishStatistics(poller);
        nextStatistics_ += statisticsEvery_ * ((now - nextStatistics_) / statisticsEvery_ + 1);
    }

    void PublishStatistics(const Poller& poller) {
        if (!mqtt_) return;
        std::vector<MuxView> muxes = poller.Muxes();
        for (MuxView& view : muxes) view.line = session_.LineCountsOf(view.mux);
        publisher_.Statistics(muxes);
    }

    const CommonOptions& common_;
    const BridgeOptions& options_;
    Session& session_;
    Topics topics_;
    bool mqtt_;  // a broker to connect to; else the Modbus face alone
    MqttClient client_;
    StatePublisher publisher_;
    RetainedCommands retained_;  // on the MQTT client's thread
    PollSettings poll_;
    CommandQueue queue_;
    SeenCommands seen_;
    std::map<int, BoundGate> alarmGates_;
    std::vector<int> clocksWritten_;  // by commands, since the last gate read
    milliseconds statisticsEvery_{0};
    Clock::time_point nextStatistics_{};
    std::unique_ptr<ModbusServer> modbus_;
};

// The topic prefix, once the line is named and the prefixes are sound; "" (said) else.
std::string JudgeLineAndTopics(const CommonOptions& common, const BridgeOptions& options) {
    // A service whose settings lost the port must not publish a simulator's cameras.
    if (common.port.empty() && !common.simulate) {
        Complain("bridge: give the line with --port NAME (e.g. ttyUSB0), or --simulate");
        return {};
    }
    std::string error;
    const std::string prefix = TopicPrefix(options, &error);
    if (prefix.empty()) {
        Complain(error);
        return {};
    }
    if (const std::string why = TopicLevelsProblem(options.haPrefix); !why.empty()) {
        Complain("--ha-prefix '" + options.haPrefix + "' cannot be used: " + why +
                 ", e.g. homeassistant");
        return {};
    }
    return prefix;
}

// The Modbus face's settings, judged before the line is opened; false (said) when one
// is wrong.
bool JudgeModbus(const BridgeOptions& options, ModbusSettings* settings) {
    std::string error;
    if (!options.modbus.empty() &&
        !(settings->endpoint = ParseModbusEndpoint(options.modbus, &error))) {
        Complain(error);
        return false;
    }
    const auto idle = Duration("--modbus-idle", options.modbusIdle, kModbusIdleLeastMs);
    if (!idle) return false;
    settings->idle = *idle;
    if (options.modbusAllow.empty()) return true;
    auto peers = ParseModbusPeers(options.modbusAllow, &error);
    if (!peers) Complain(error);
    if (peers) settings->peers = std::move(*peers);
    return peers.has_value();
}

}  // namespace

int RunBridge(const CommonOptions& common, const PollOptions& polling, const BridgeOptions& given) {
    if (!given.modbusMap.empty()) {
        std::cout << ModbusTagsCsv();  // the only format there is
        return kExitOk;
    }
    InstallStopSignals();
    // The broker by default, unless the bridge serves Modbus TCP instead.
    BridgeOptions options = given;
    if (options.mqtt.empty() && options.modbus.empty()) options.mqtt = kDefaultBroker;
    if (options.mqtt.empty() && options.haDiscovery) {
        Complain("--ha-discovery publishes on MQTT: give --mqtt too");
        return kExitRefused;
    }
    const std::string prefix = JudgeLineAndTopics(common, options);
    if (prefix.empty()) return kExitRefused;
    std::optional<BrokerSettings> broker = BrokerSettings{};
    if (!options.mqtt.empty() && !(broker = Broker(options, prefix))) return kExitRefused;
    std::optional<milliseconds> duration;
    if (!polling.duration.empty() && !(duration = Duration("--duration", polling.duration, 0)))
        return kExitRefused;
    const auto statisticsEvery =
        Duration("--statistics-every", options.statisticsEvery, kStatisticsLeastMs);
    const auto commandDeadline =
        Duration("--command-deadline", options.commandDeadline, kCommandDeadlineLeastMs);
    if (!statisticsEvery || !commandDeadline) return kExitRefused;
    ModbusSettings modbus;
    if (!JudgeModbus(options, &modbus)) return kExitRefused;

    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(common, &exitCode)) return exitCode;
    PollSettings poll;
    if (!PlanPolling(polling, &poll)) return kExitRefused;
    std::vector<MuxGates> gates;
    if (!BindMuxGates(session, poll.muxes, &gates)) return kExitRefused;
    session.UseTap(true);  // the line's own counts, and a line that can be cut at once
    if (!session.OpenLine(common, &exitCode)) return exitCode;
    TimePolling(session, &poll);

    Bridge bridge(common, options, session, Topics(prefix), *broker, poll, *commandDeadline);
    if (options.mqtt.empty())
        Say("bridge on port " + session.PortLabel() + ", no MQTT broker");
    else
        Say("bridge on port " + session.PortLabel() + " to " + options.mqtt + ", topics under " +
            prefix + "/");
    if ((modbus.endpoint && !bridge.ServeModbus(modbus)) || !bridge.Connect()) {
        session.CloseLine();
        return kExitRefused;
    }
    return bridge.Run(duration, *statisticsEvery, gates);
}

}  // namespace roderavo::tool::bridge
