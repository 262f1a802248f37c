#include "line/session.h"

#include <muxsim/cli_options.h>
#include <zanpro/host.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iostream>

#include "address/camera_range.h"
#include "gates/gate_forms.h"
#include "line/demo_simulator.h"
#include "line/line_tap.h"
#include "line/port.h"
#include "output/host_log.h"
#include "output/json_out.h"
#include "output/text.h"
#include "system/platform.h"

namespace roderavo::tool {

namespace {
bool gJsonErrors = false;
}  // namespace

void Complain(const std::string& message) {
    std::cerr << "roderavo: " << message << '\n';
    // Scripts that read JSON from stdout get the failure there too, as an object.
    if (gJsonErrors) {
        Json record = TimedRecord();
        record["error"] = message;
        PrintJsonLine(record);
    }
}

void SetJsonErrors(bool json) {
    gJsonErrors = json;
}

namespace {

inline const std::string kContinuousTimeout = "1000ms";

bool Fails(const std::string& problem, std::string_view option, std::string* error) {
    if (problem.empty()) return false;
    *error = std::string(option) + " " + problem;
    return true;
}

// The poll interval and the read time-out; false with a message when one is wrong.
bool ParseLineTimes(const CommonOptions& options, LineSettings* settings, LineTimes* times,
                    std::string* error) {
    if (Fails(PollIntervalProblem(options.pollInterval), "--poll-interval", error)) return false;
    const double interval = ParseDurationMs(options.pollInterval, false).value_or(0);
    // The read time-out is the interval unless given; a continuous poll waits 1000 ms.
    const std::string& timeoutText = !options.timeout.empty() ? options.timeout
                                     : interval == 0          ? kContinuousTimeout
                                                              : options.pollInterval;
    if (Fails(TimeoutProblem(timeoutText), "--timeout", error)) return false;
    const double timeout = ParseDurationMs(timeoutText, false).value_or(0);
    // The driver takes the poll interval in units of 10 ms; its read time-out is ten
    // times that in milliseconds. So the time-out is given to the driver that way, and
    // the tool keeps its own cadence.
    settings->pollInterval = static_cast<int32_t>(std::lround(timeout / 10.0));
    times->timeoutMs = settings->pollInterval * 10;
    times->pollIntervalMs = static_cast<int>(std::lround(interval));
    return true;
}

const std::vector<std::string> kParities = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};

}  // namespace

std::string BaudProblem(uint32_t baud) {
    if (baud >= 1 && baud <= 65535) return {};
    return std::to_string(baud) +
           ": the driver takes 1..65535 bits per second (9600 for the multiplexer)";
}

std::string DataBitsProblem(int64_t dataBits) {
    return dataBits >= 5 && dataBits <= 8 ? std::string() : "takes 5..8";
}

std::string ParityProblem(const std::string& parity) {
    const bool known =
        std::find(kParities.begin(), kParities.end(), Upper(parity)) != kParities.end();
    return known ? std::string() : "takes none, odd, even, mark or space";
}

std::string StopBitsProblem(const std::string& stopBits) {
    if (stopBits == "1" || stopBits == "2") return {};
    if (stopBits != "1.5") return std::string("takes ") + kStopBitsHelp;
    if (kHasOneAndHalfStopBits) return {};
    // termios has no 1.5 stop bits: no serial port here can be set to them.
    return "1.5: serial ports here take 1 or 2 stop bits (1.5 only on Windows)";
}

std::string PollIntervalProblem(const std::string& text) {
    const auto interval = ParseDurationMs(text, false);  // 0: continuous
    if (interval && (*interval == 0 || *interval >= 10) && *interval <= 600000) return {};
    return text + ": give 0 (continuous) or 10ms .. 600s, e.g. 1000ms or 2s";
}

std::string TimeoutProblem(const std::string& text) {
    const auto timeout = ParseDurationMs(text, false);
    if (timeout && *timeout >= 10 && *timeout <= 600000) return {};
    return text + ": give 10ms .. 600s, e.g. 500ms (the driver waits this long for each reply)";
}

bool ParseLineOptions(const CommonOptions& options, LineSettings* settings, LineTimes* times,
                      std::string* error) {
    if (Fails(BaudProblem(options.baud), "--baud", error) ||
        Fails(DataBitsProblem(options.dataBits), "--data-bits", error) ||
        Fails(ParityProblem(options.parity), "--parity", error) ||
        Fails(StopBitsProblem(options.stopBits), "--stop-bits", error))
        return false;
    settings->baudRate = static_cast<uint16_t>(options.baud);
    settings->dataBits = static_cast<uint16_t>(options.dataBits);
    const auto parity = std::find(kParities.begin(), kParities.end(), Upper(options.parity));
    settings->parity = static_cast<uint16_t>(parity - kParities.begin());
    settings->stopBits = options.stopBits == "1" ? 0 : options.stopBits == "1.5" ? 1 : 2;
    return ParseLineTimes(options, settings, times, error);
}

Session::Session() = default;

Session::~Session() {
    CloseLine();
}

bool Session::LoadDriver(const CommonOptions& options, int* exitCode) {
    SetJsonErrors(options.json);
    std::string error;
    LogOptions log;
    log.verbose = options.verbose;
    log.file = options.logFile;
    if (!InstallHostLog(log, &error)) {
        Complain(error);
        *exitCode = kExitRefused;
        return false;
    }
    const std::string path = options.driverPath.empty() ? DefaultDriverPath() : options.driverPath;
    driver_.SetInstance(options.instance);
    if (!driver_.Load(path, &error)) {
        Complain(error);
        *exitCode = kExitLine;
        return false;
    }
    return true;
}

bool Session::StartSimulator(const CommonOptions& options, std::string* error) {
    muxsim::Options simOptions;
    simOptions.seed = 1;
    simOptions.keptFrames = muxsim::kLongRunKeptFrames;
    for (const std::string& text : options.simFaults) {
        const auto fault = muxsim::ParseFaultSpec(text);
        if (!fault) {
            *error = "--sim-fault " + text + ": " + kFaultHelp;
            return false;
        }
        simOptions.randomFaults.push_back(*fault);
    }
    for (int mux : options.simAbsent) {
        if (mux < 0 || mux >= kMuxCount) {
            *error = "--sim-absent takes multiplexer numbers 0.." + std::to_string(kMuxCount - 1);
            return false;
        }
        simOptions.present[static_cast<std::size_t>(mux)] = false;
    }
    simulator_ = StartDemoSimulator(simOptions, &simulatorLine_, error);
    return simulator_ != nullptr;
}

namespace {

// What refuses the line before anything opens: a line option, a simulator fault, a
// trace where there are no pseudo-terminals. Empty when nothing does.
std::string LineProblem(const CommonOptions& options, LineSettings* settings, LineTimes* times) {
    std::string error;
    if (!ParseLineOptions(options, settings, times, &error)) return error;
    for (const std::string& text : options.simFaults) {
        if (!muxsim::ParseFaultSpec(text)) return "--sim-fault " + text + ": " + kFaultHelp;
    }
    if (options.trace && !kHasPseudoTerminals) return kNoPseudoTerminals;
    return {};
}

// Why the driver could not open the line, from the system's error it left.
std::string PortFailure(const CommonOptions& options, const LineTap* tap,
                        const std::string& devicePath, int error) {
    // Through the tap the device itself opened (the tap holds it): what failed is
    // the line settings, or the tap's own pty, taken by another program meanwhile.
    std::string why = tap ? std::string() : DiagnosePort(devicePath, error);
    if (tap && error != 0 && error != EINVAL)
        why = "the protocol tap's pseudo-terminal could not be opened: " +
              DiagnosePort("/dev/" + tap->PortName(), error);
    if (why.empty())
        why = "the device is there but could not be set to " + std::to_string(options.baud) +
              " baud, " + std::to_string(options.dataBits) + " data bits, parity " +
              options.parity + ", " + options.stopBits +
              (options.stopBits == "1" ? " stop bit" : " stop bits") + "; check the line options";
    return why;
}

}  // namespace

bool Session::OpenLine(const CommonOptions& options, int* exitCode) {
    LineSettings settings;
    LineTimes times;
    if (const std::string problem = LineProblem(options, &settings, &times); !problem.empty()) {
        Complain(problem);
        *exitCode = kExitRefused;
        return false;
    }
    pollIntervalMs_ = times.pollIntervalMs;
    timeoutMs_ = times.timeoutMs;
    if (!ChooseLine(options, &settings, exitCode)) return false;
    if (!StartTap(options, &settings)) {
        *exitCode = kExitLine;
        return false;
    }
    if (!tap_ && !options.simulate && !options.port.empty()) guard_.Prepare(devicePath_);
    MarkLog();
    const int32_t status = driver_.Init(options.instance, settings);
    if (status == KOR_OK) {
        guard_.Arm();
        return true;
    }
    guard_.Disarm();
    if (status == KOR_COMM_FAILURE) {
        const int error = driver_.LastSystemError();
        Complain("cannot open port " + portLabel_ + ": " +
                 PortFailure(options, tap_.get(), devicePath_, error));
    } else {
        Complain("the driver refused to start instance " + std::to_string(options.instance) +
                 " (result " + std::to_string(status) +
                 "): the host client VERODI No_.. could not be created");
    }
    driver_.Exit();
    *exitCode = status == KOR_COMM_FAILURE ? kExitLine : kExitRefused;
    return false;
}

bool Session::ChooseLine(const CommonOptions& options, LineSettings* settings, int* exitCode) {
    if (!options.simulate && !options.port.empty()) {
        if (UsePort(options, settings)) return true;
        *exitCode = kExitLine;
        return false;
    }
    std::string error;
    if (!StartSimulator(options, &error)) {
        Complain(error);
        *exitCode = kHasPseudoTerminals ? kExitLine : kExitRefused;
        return false;
    }
    settings->portName = simulatorLine_.portName;
    devicePath_ = simulatorLine_.devicePath;
    portLabel_ = settings->portName + " (simulator)";
    if (!options.simulate)
        Complain("no --port given: running on the built-in simulator on " + settings->portName +
                 " (give --port NAME for a real line)");
    return true;
}

bool Session::UsePort(const CommonOptions& options, LineSettings* settings) {
    const ResolvedPort port = ResolvePortName(options.port);
    if (!port.error.empty()) {
        std::string message = "port " + options.port + ": " + port.error;
        if (port.error.starts_with("there is no device"))
            message = DiagnosePort(port.devicePath, kNoSuchDevice);
        Complain("cannot use port " + options.port + ": " + message);
        return false;
    }
    settings->portName = port.driverName;
    devicePath_ = port.devicePath;
    portLabel_ = options.port;  // the messages name the port as the user gave it
    if (port.driverName != options.port && options.verbose)
        Complain("port " + options.port + " is the device " + port.devicePath +
                 "; the driver opens it as " + port.driverName);
    return true;
}

bool Session::StartTap(const CommonOptions& options, LineSettings* settings) {
    // Without pseudo-terminals the line counts go without the tap; --trace cannot.
    if (!options.trace && (!useTap_ || !kHasPseudoTerminals)) return true;
    if (settings->portName == "NUL") return true;  // no line to watch
    LineTap::Sink sink;
    if (options.trace) sink = [](const std::string& line) { ToolLine("frame", line); };
    tap_ = std::make_unique<LineTap>();
    std::string why;
    if (!tap_->Start(devicePath_, *settings, timeoutMs_, sink, &why)) {
        Complain("cannot open port " + portLabel_ + ": " + why);
        tap_.reset();
        return false;
    }
    settings->portName = tap_->PortName();
    return true;
}

LineCounts Session::LineCountsOf(int mux) const {
    return tap_ ? tap_->Counts(mux) : LineCounts{};
}

void Session::CutLine() {
    if (tap_) tap_->Stop();
}

void Session::CloseLine() {
    guard_.Disarm();  // the driver's close gives the port back
    if (driver_.Initialised()) {
        const int32_t status = driver_.Exit();
        if (status != KOR_OK) Complain("the port " + portLabel_ + " could not be closed cleanly");
    }
    if (tap_) tap_->Stop();
    simulator_.reset();
}

std::optional<BoundGate> Session::Bind(const std::string& address, std::string* why) {
    BoundGate bound;
    bound.gate.address = address;
    bound.gate.valueKind = ValueKindOf(address);
    bound.gate.parse = driver_.Parse(address, bound.gate.valueKind);
    if (bound.gate.parse.status != KOR_OK) {
        *why = AddressHint(address);
        return std::nullopt;
    }
    const auto instance = static_cast<uint32_t>(driver_.Instance());
    zanpro::AddGate(instance, address);
    bound.companions = CompanionGates(address, bound.gate.parse.plcNum);
    for (const auto& name : bound.companions) zanpro::AddGate(instance, name);
    return bound;
}

// A read that the driver refuses (1) either had no usable reply, or had one that it
// would not store (a camera state it does not know). The host library tells them
// apart: the driver looks gates up only while it stores a reply it accepted.
ReadResult Session::Read(const BoundGate& gate) {
    ReadResult result;
    MarkLog();
    const uint64_t lookups = zanpro::GateLookups();
    result.status = driver_.Read(gate.gate, &result.number, &result.text);
    result.systemError = driver_.LastSystemError();
    result.text = Cp437ToUtf8(result.text);  // the multiplexer's texts are code page 437
    result.logLine = LastEventSinceMark();
    result.malformed = result.status == KOR_REFUSED && zanpro::GateLookups() == lookups;
    const auto instance = static_cast<uint32_t>(driver_.Instance());
    for (const auto& name : gate.companions) {
        Companion companion{name, std::nullopt, std::nullopt};
        if (const auto id = zanpro::FindGate(instance, name)) {
            companion.number = zanpro::GateValue(*id);
            if (const auto text = zanpro::GateText(*id)) companion.text = Cp437ToUtf8(*text);
        }
        result.companions.push_back(companion);
    }
    return result;
}

// A write that the driver refuses (1) either had a value it could not put in a
// frame, or no usable acknowledgement: neither touches a gate, and only the line
// with which the driver ends the call tells which.
WriteResult Session::Write(const BoundGate& gate, uint16_t number, const std::string& text) {
    constexpr std::string_view kDriverPrefix = "VERODI: ";
    constexpr std::string_view kUnusableAcknowledgement = "VERODI: wrong receive";
    WriteResult result;
    MarkLog();
    result.status = driver_.Write(gate.gate, number, text);
    result.systemError = driver_.LastSystemError();
    result.logLine = LastEventSinceMark();
    result.malformed = result.status == KOR_REFUSED && result.logLine == kUnusableAcknowledgement;
    // That line is shown without the driver's prefix.
    if (result.malformed) result.logLine.erase(0, kDriverPrefix.size());
    return result;
}

}  // namespace roderavo::tool
