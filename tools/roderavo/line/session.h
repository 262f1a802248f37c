// One run of the tool against the driver: the common options, the driver loaded,
// the line opened (a device, or the built-in simulator), and gates bound, read and
// written the way a SCADA host does it.
#pragma once
#define RODERAVO_TREE_SESSION_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <muxsim/cli_options.h>

#include "line/demo_simulator.h"
#include "line/driver.h"
#include "line/line_monitor.h"
#include "line/port_guard.h"

namespace roderavo::tool {
class LineTap;
}

namespace roderavo::tool {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;        // an address or value was refused, or bad usage
inline constexpr int kExitLine = 2;           // the line failed: port, device, answers
inline constexpr int kExitInterrupted = 130;  // Ctrl-C (the shell's 128 + SIGINT)

struct CommonOptions {
    std::string driverPath;
    std::string port;
    bool simulate = false;
    uint32_t baud = 9600;
    int dataBits = 8;
    std::string parity = "none";
    std::string stopBits = "1";
    std::string pollInterval = "1000ms";
    std::string timeout;  // the driver's read time-out; empty: the poll interval
    bool trace = false;   // every frame on the line, through the protocol tap
    int instance = 0;
    bool verbose = false;
    bool json = false;
    std::string logFile;
    std::vector<std::string> simFaults;  // faults of the built-in simulator, KIND[:N][@P]
    std::vector<int> simAbsent;          // multiplexers the built-in simulator leaves out
    std::string siteFile;                // --config: the site file read under these options
};

// How a simulator fault is written (as muxsim says it).
inline constexpr const char* kFaultHelp = muxsim::kFaultHelp;

// A message for the user on stderr, prefixed "roderavo: "; in --json mode also an
// error object on stdout ({"time":...,"error":...}), so that stdout stays parseable.
void Complain(const std::string& message);
void SetJsonErrors(bool json);

// A bound gate: the address accepted by SingleParse with its recorded words.
struct BoundGate {
    Driver::Gate gate;
    std::vector<std::string> companions;
};

struct Companion {
    std::string name;
    std::optional<double> number;
    std::optional<std::string> text;
};

struct ReadResult {
    int32_t status = 0;
    uint16_t number = 0;
    std::string text;
    std::vector<Companion> companions;
    std::string logLine;     // the driver's last event line of the call, if any
    bool malformed = false;  // the device answered, but not with a usable reply
    int systemError = 0;     // after a line failure: the system's error the driver left
};

struct WriteResult {
    int32_t status = 0;
    std::string logLine;     // the driver's last event line of the call, if any
    bool malformed = false;  // the device answered, but not with a usable acknowledgement
    int systemError = 0;     // after a line failure: the system's error the driver left
};

class Session {
  public:
    Session();
    ~Session();

    // The line goes through the protocol tap (with --trace, and for poll's counts).
    void UseTap(bool use) { useTap_ = use; }

    // Loads the driver and installs the log. Needed by every sub-command.
    bool LoadDriver(const CommonOptions& options, int* exitCode);
    // Opens the line: the simulator with --simulate, else the port; runs Init and, on
    // failure, finds out why.
    bool OpenLine(const CommonOptions& options, int* exitCode);
    void CloseLine();
    // Ends the protocol tap's relay, so that an exchange in flight fails at once (the
    // driver's pseudo-terminal hangs up) instead of waiting out its time-outs. From
    // another thread, to end a run quickly; CloseLine still follows on the driver's.
    void CutLine();

    Driver& driver() { return driver_; }
    const std::string& PortLabel() const { return portLabel_; }
    const std::string& DevicePath() const { return devicePath_; }
    int PollIntervalMs() const { return pollIntervalMs_; }
    int TimeoutMs() const { return timeoutMs_; }
    // What the tap saw of one multiplexer; zeros without the tap.
    LineCounts LineCountsOf(int mux) const;
    bool Tapped() const { return tap_ != nullptr; }

    // SingleParse with the value kind the gate's form takes, and the gate registered
    // in the host library with its companions. Empty when refused.
    std::optional<BoundGate> Bind(const std::string& address, std::string* why);
    ReadResult Read(const BoundGate& gate);
    WriteResult Write(const BoundGate& gate, uint16_t number, const std::string& text);

    // Starts the demonstration simulator on a new pty (a few cameras in alarm and
    // video loss); false with a message when it cannot.
    bool StartSimulator(const CommonOptions& options, std::string* error);

  private:
    // The built-in simulator (with --simulate, or without --port), else the port given;
    // false (with a message and the exit code) when neither can be had.
    bool ChooseLine(const CommonOptions& options, LineSettings* settings, int* exitCode);
    // The port given, resolved; false (with a message) when it cannot be used.
    bool UsePort(const CommonOptions& options, LineSettings* settings);
    bool StartTap(const CommonOptions& options, LineSettings* settings);

    Driver driver_;
    DemoSimulator simulator_;
    DemoLine simulatorLine_;
    std::unique_ptr<LineTap> tap_;
    PortGuard guard_;  // a port the driver holds itself, given back at a signal
    bool useTap_ = false;
    int timeoutMs_ = 1000;
    std::string portLabel_;
    std::string devicePath_;
    int pollIntervalMs_ = 1000;
};

// The times of a line: the polling cadence and the driver's read time-out.
struct LineTimes {
    int pollIntervalMs = 1000;
    int timeoutMs = 1000;
};

// The rules of the line options, shared by the command line and the site file: why
// a value is refused, after the option's name ("--parity takes none, ..."), or empty.
std::string BaudProblem(uint32_t baud);
std::string DataBitsProblem(int64_t dataBits);
std::string ParityProblem(const std::string& parity);
std::string StopBitsProblem(const std::string& stopBits);
std::string PollIntervalProblem(const std::string& text);
std::string TimeoutProblem(const std::string& text);

// Line settings from the options; false with a message when one is wrong.
bool ParseLineOptions(const CommonOptions& options, LineSettings* settings, LineTimes* times,
                      std::string* error);

}  // namespace roderavo::tool
