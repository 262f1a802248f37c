// The bridge's main loop: the poller's cycles on this thread, the commands taken from
// the queue between gate reads and between cycles, a new picture after each gate,
// shown to every face. The broker's connection lives on the MQTT client's thread, the
// Modbus face on its own. A watcher answers the commands that may no longer run while
// the line is busy, and another ends the run quickly on a signal: it cuts the line so
// that no exchange waits out its time-outs. Each sleeps until it has work: no thread
// wakes on a timer it does not need.
#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "address/address_fields.h"
#include "address/camera_range.h"
#include "bridge/bridge.h"
#include "bridge/core/bridge_log.h"
#include "bridge/core/command_runner.h"
#include "bridge/core/counters.h"
#include "bridge/http/http_face.h"
#include "bridge/modbus/modbus_server.h"
#include "bridge/modbus/modbus_tags.h"
#include "bridge/mqtt/mqtt_face.h"
#include "bridge/service_notify.h"
#include "gates/gate_forms.h"
#include "output/text.h"
#include "poll/poll_gates.h"
#include "system/terminal.h"

namespace roderavo::tool::bridge {

namespace {

using Clock = PollClock;
using std::chrono::milliseconds;
using Stop = std::function<bool()>;

// The ALS address of a camera, composed by the driver's own address rules.
std::string AlarmAddress(int camera) {
    AddressParts parts;
    parts.plcNum = MuxOfCamera(camera);
    parts.camera = camera;
    return std::string(ComposeAddress(CommandMnemonic::Als, parts).View());
}

// The state an ALS read gives the camera it reports.
CameraShown ReportedState(const ReadResult& read) {
    if (read.status != KOR_OK) return CameraShown::kUnknown;
    return read.number == 0x20   ? CameraShown::kAlarm
           : read.number == 0x2E ? CameraShown::kVideoLoss
           : read.number == 0    ? CameraShown::kFine
                                 : CameraShown::kUnknown;
}

class Bridge {
  public:
    Bridge(const CommonOptions& common, const BridgeSettings& settings, Session& session,
           PollSettings poll)
        : common_(common),
          settings_(settings),
          session_(session),
          poll_(std::move(poll)),
          queue_(settings.core.commandDeadline),
          runner_(session, queue_) {}

    // The faces asked for: false (with the reason said) when one cannot start.
    bool StartFaces(const std::string& port) {
        if (settings_.modbus.endpoint && !StartModbus()) return false;
        if (settings_.http.enabled && !StartHttp(port)) return false;
        if (!settings_.mqtt.enabled) return true;
        mqtt_ = std::make_unique<MqttFace>(settings_.mqtt, poll_.muxes, queue_);
        faces_.push_back(mqtt_.get());
        return mqtt_->Connect();
    }

    int Run(const std::vector<MuxGates>& gates) {
        Poller poller(
            poll_,
            [&](int mux, PollGate which) {
                std::size_t index = 0;
                while (poll_.muxes[index] != mux) ++index;
                return ReadPollGate(session_, gates[index].Of(which));
            },
            [this](const std::string& text) {
                Say(text);
                for (Face* face : faces_) face->Tell(text);
            });
        const auto start = Clock::now();
        std::optional<Clock::time_point> end;
        if (settings_.duration) end = start + *settings_.duration;
        const Stop stop = [&] {
            return StopRequested() || Fatal().has_value() || (end && Clock::now() >= *end);
        };
        std::atomic<bool> finished{false};
        // Each thread by its job in ps -L and top -H.
        std::thread stopWatch([&] {
            pthread_setname_np(pthread_self(), "rd-stop-watch");
            WatchStop(finished, end);
        });
        std::thread watcher([&] {
            pthread_setname_np(pthread_self(), "rd-cmd-watch");
            Watch(finished);
        });
        nextStatistics_ = start + settings_.mqtt.statisticsEvery;
        while (!stop()) Cycle(poller, stop);
        service_.Stopping();
        finished = true;
        queue_.Wake();
        watcher.join();
        stopWatch.join();
        return Finish(poller, start);
    }

  private:
    bool StartModbus() {
        modbus_ = std::make_unique<ModbusServer>([](const std::string& text) { Say(text); });
        std::string error;
        if (!modbus_->Start(settings_.modbus, &queue_, &error)) {
            Complain(error);
            modbus_.reset();
            return false;
        }
        const ModbusEndpoint& endpoint = *settings_.modbus.endpoint;
        Say("Modbus TCP on " + endpoint.address + ":" + std::to_string(endpoint.port) +
            (settings_.modbus.writable ? " (reads and writes)" : " (reads only)"));
        faces_.push_back(modbus_.get());
        return true;
    }

    bool StartHttp(const std::string& port) {
        BridgeFacts facts{settings_.mqtt.site, port, RODERAVO_VERSION, IsoTimestampNow()};
        http_ = std::make_unique<HttpFace>(settings_.http, std::move(facts), queue_);
        std::string error;
        if (!http_->Start(&error)) {
            Complain(error);
            http_.reset();
            return false;
        }
        faces_.push_back(http_.get());
        return true;
    }

    std::optional<std::string> Fatal() const { return mqtt_ ? mqtt_->Fatal() : std::nullopt; }

    // One cycle of the poll, and the commands and statistics until the next is due.
    void Cycle(Poller& poller, const Stop& stop) {
        const auto cycleStart = Clock::now();
        const bool read =
            poller.Cycle([] { return Clock::now(); }, [&] { Between(poller, stop); }, stop);
        if (read) ProcessCounters().CycleTook(Clock::now() - cycleStart);
        Between(poller, stop);
        service_.PollRan(Clock::now());
        const auto next = cycleStart + std::max(milliseconds(session_.PollIntervalMs()),
                                                read ? milliseconds(0) : kIdleRest);
        while (!stop() && Clock::now() < next) {
            RunCommands(stop, next);
            StatisticsWhenDue();
            service_.PollRan(Clock::now());
            // A stop wakes it; so does the watchdog's next pet when it is due first.
            queue_.WaitUntil(std::min({next, nextStatistics_, service_.NextPet()}));
        }
    }

    // The picture the poll leaves now, with the line's counts of each multiplexer.
    std::shared_ptr<const Picture> MakePicture(const Poller& poller) {
        std::vector<MuxView> muxes = poller.Muxes();
        for (MuxView& view : muxes) view.line = session_.LineCountsOf(view.mux);
        return std::make_shared<const Picture>(muxes, poller.StaleAfter(), ++pictures_);
    }

    // Between two gate reads: a new picture for every face, the alarm reports of the
    // cameras that went into alarm, then one command runs, so that a burst of commands
    // slows the poll by no more than one command per read.
    void Between(Poller& poller, const Stop& stop) {
        if (stop()) return;
        const auto before = std::move(picture_);
        picture_ = MakePicture(poller);
        StatisticsWhenDue();
        // A clock that a command set is read in its multiplexer's next turn.
        for (const int mux : runner_.TakeClocksWritten()) poller.ClockWritten(mux);
        queue_.SetUnreachable(poller.Unreachable());
        const auto now = Clock::now();
        for (Face* face : faces_) face->Show(picture_, now);
        // The reports go to the faces that show them: none is read for Modbus alone.
        if (mqtt_ || http_) {
            for (const int camera : NewAlarms(before.get(), *picture_)) {
                if (stop()) return;
                ReportAlarm(camera);
            }
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
        for (Face* face : faces_) face->Report(camera, ReportedState(read), report);
    }

    // Runs queued commands until `until` (one command when it has passed already); one
    // that may not run is answered and costs no turn.
    void RunCommands(const Stop& stop, Clock::time_point until) {
        for (bool ran = false; !ran || Clock::now() < until;) {
            if (stop()) return;
            auto taken = queue_.TryPop(Clock::now());
            if (!taken) return;
            ran = taken->refusal.empty();
            if (ran)
                runner_.Run(taken->command);
            else
                Refuse(taken->command, taken->refusal, Outcome::kNotSent);
        }
    }

    // Ends the run quickly on a signal or a fatal refusal of the broker: the exchange in
    // flight fails at once, and the loop sees the stop before the next gate; a resting
    // loop is woken. Sleeps until then (a fatal refusal is seen within a second).
    void WatchStop(const std::atomic<bool>& finished, std::optional<Clock::time_point> end) {
        while (!finished) {
            const auto until = std::min(Clock::now() + std::chrono::seconds(1),
                                        end.value_or(Clock::time_point::max()));
            if (WaitForStop(until) || Fatal()) {
                session_.CutLine();
                break;
            }
            if (end && Clock::now() >= *end) break;
        }
        queue_.Wake();
    }

    // Answers the commands that wait past their deadline or for a multiplexer that
    // cannot be reached, while the line is busy; it wakes only when the queue changes
    // or a deadline comes. Every command that still waits at the end is answered then;
    // none is taken after.
    void Watch(const std::atomic<bool>& finished) {
        for (;;) {
            const uint64_t seen = queue_.Changes();
            if (finished) break;
            for (const TakenCommand& taken : queue_.TakeRefused(Clock::now()))
                Refuse(taken.command, taken.refusal, Outcome::kNotSent);
            queue_.WaitForRefusals(seen);
        }
        for (const TakenCommand& taken : queue_.Close("the bridge stops: not sent"))
            Refuse(taken.command, taken.refusal, Outcome::kNotSent);
        queue_.Wake();
    }

    // Each --statistics-every, counted from the start: one that a long read delayed
    // does not put off the ones after it.
    void StatisticsWhenDue() {
        const auto now = Clock::now();
        if (now < nextStatistics_ || !picture_) return;
        for (Face* face : faces_) face->Statistics(*picture_);
        const auto every = settings_.mqtt.statisticsEvery;
        nextStatistics_ += every * ((now - nextStatistics_) / every + 1);
    }

    // The faces end (no Modbus client is answered once the driver is gone), the line is
    // closed, and the run's statistics are printed; the exit code.
    int Finish(const Poller& poller, Clock::time_point start) {
        Json more = Json::object();
        if (modbus_) {
            modbus_->Stop();
            const ModbusCounts counts = modbus_->Counts();
            Say("Modbus TCP: " + ModbusCountsText(counts));
            more["modbus"] = ModbusCountsRecord(counts);
        }
        if (http_) http_->Stop();
        const auto fatal = Fatal();
        if (mqtt_) {
            mqtt_->Final(*MakePicture(poller));
            mqtt_->Stop();
        }
        session_.CloseLine();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        PrintStatistics(common_, session_, poller.Muxes(), poller.Cycles(), seconds, more);
        if (fatal) {
            Complain(*fatal);
            return kExitRefused;
        }
        return kExitOk;
    }

    const CommonOptions& common_;
    const BridgeSettings& settings_;
    Session& session_;
    PollSettings poll_;
    CommandQueue queue_;
    CommandRunner runner_;  // the polling thread's
    std::unique_ptr<ModbusServer> modbus_;
    std::unique_ptr<MqttFace> mqtt_;
    std::unique_ptr<HttpFace> http_;
    std::vector<Face*> faces_;
    std::shared_ptr<const Picture> picture_;  // the latest, on the polling thread
    uint64_t pictures_ = 0;
    std::map<int, BoundGate> alarmGates_;
    Clock::time_point nextStatistics_{};
    ServiceNotifier service_;  // systemd's ready and watchdog, from the polling thread
};

// The driver loaded, the gates bound and the line opened; false with the exit code.
bool OpenLine(const CommonOptions& common, const PollOptions& polling, Session& session,
              PollSettings& poll, std::vector<MuxGates>& gates, int* exitCode) {
    if (!session.LoadDriver(common, exitCode)) return false;
    *exitCode = kExitRefused;
    if (!PlanPolling(polling, &poll) || !BindMuxGates(session, poll.muxes, &gates)) return false;
    session.UseTap(true);  // the line's own counts, and a line that can be cut at once
    if (!session.OpenLine(common, exitCode)) return false;
    TimePolling(session, &poll);
    return true;
}

}  // namespace

int RunBridge(const CommonOptions& common, const PollOptions& polling, const BridgeOptions& given) {
    if (!given.modbus.map.empty()) {
        std::cout << ModbusTagsCsv();  // the only format there is
        return kExitOk;
    }
    InstallStopSignals();
    const auto settings = JudgeBridge(common, polling, given);
    if (!settings) return kExitRefused;
    Session session;
    PollSettings poll;
    std::vector<MuxGates> gates;
    int exitCode = kExitOk;
    if (!OpenLine(common, polling, session, poll, gates, &exitCode)) return exitCode;
    Bridge bridge(common, *settings, session, poll);
    if (settings->mqtt.enabled)
        Say("bridge on port " + session.PortLabel() + " to " + settings->mqtt.url +
            ", topics under " + settings->mqtt.prefix + "/");
    else
        Say("bridge on port " + session.PortLabel() + ", no MQTT broker");
    if (!bridge.StartFaces(session.PortLabel())) {
        session.CloseLine();
        return kExitRefused;
    }
    return bridge.Run(gates);
}

}  // namespace roderavo::tool::bridge
