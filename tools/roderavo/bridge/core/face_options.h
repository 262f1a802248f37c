// The options of a face (or of the core), one table each: an option's name and help
// on the command line, its key in the site file, the kind of value it takes, the field
// it fills and the rule of its values. The command line and the site file both read
// the table, and a face's settings are judged from what it filled, once, before
// anything starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace roderavo::tool::bridge {

enum class OptionKind : uint8_t { kText, kTime, kFlag, kWhole };

template <typename Options>
struct FaceOption {
    std::string_view option;  // on the command line: --modbus-idle
    std::string_view help;
    std::string_view table = {};  // in the site file: [modbus] idle; no key: none there
    std::string_view key = {};
    std::string_view takes = {};  // what the key takes, as its message says
    OptionKind kind = OptionKind::kText;
    std::string Options::*text = nullptr;  // kText, kTime
    bool Options::*flag = nullptr;         // kFlag
    int Options::*whole = nullptr;         // kWhole
    // Why a value is refused (after the key: "idle 5ms: give ..."); none: every value of
    // its kind is taken.
    std::string (*rule)(const Options&) = nullptr;
};

// Adds the table's options to a command; an option with a value set already shows it
// as its default.
void AddTextOption(CLI::App* command, std::string_view name, std::string_view help,
                   std::string& value);
void AddFlagOption(CLI::App* command, std::string_view name, std::string_view help, bool& value);
void AddWholeOption(CLI::App* command, std::string_view name, std::string_view help, int& value);

template <typename Options>
void AddFaceOptions(CLI::App* command, Options& options,
                    std::span<const FaceOption<Options>> table) {
    for (const FaceOption<Options>& entry : table) {
        if (entry.kind == OptionKind::kFlag)
            AddFlagOption(command, entry.option, entry.help, options.*entry.flag);
        else if (entry.kind == OptionKind::kWhole)
            AddWholeOption(command, entry.option, entry.help, options.*entry.whole);
        else
            AddTextOption(command, entry.option, entry.help, options.*entry.text);
    }
}

// The rules that the faces' options share.
inline constexpr double kReconnectLeastMs = 10;
inline constexpr double kStatisticsLeastMs = 100;
inline constexpr double kModbusIdleLeastMs = 1000;
inline constexpr double kCommandDeadlineLeastMs = 100;
// Why a time is refused, after the option's name ("--modbus-idle 5ms: give ..."), or empty.
std::string DurationProblem(const std::string& text, double leastMs);
// The time, or nothing with the reason said ("--modbus-idle 5ms: give ...").
std::optional<std::chrono::milliseconds> JudgeDuration(std::string_view option,
                                                       const std::string& text, double leastMs);
// What a time option's site-file key takes, as its message says.
inline constexpr std::string_view kTakesTime =
    "a time, e.g. \"500ms\" or \"2s\", or a number of seconds";
// A reason given after an option's name ("--mqtt URL: give ..."), without the name: as a
// site-file key's message has it.
std::string WithoutOption(std::string_view option, std::string reason);
// A TCP port, 1..65535, written in decimal digits only; nothing otherwise.
std::optional<int> ParsePort(std::string_view text);

}  // namespace roderavo::tool::bridge
