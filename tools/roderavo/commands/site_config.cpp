#include "commands/site_config.h"

// toml++ in this file only, headers only, and reporting by results, not exceptions.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <span>

#include "poll/poll_gates.h"
#include "system/platform.h"

namespace roderavo::tool {

namespace {

struct Options {
    CommonOptions common;
    PollOptions poll;
#ifndef _WIN32
    bridge::BridgeOptions bridge;
    std::optional<bool> payloadsInJson;  // [mqtt] json: --json, for the bridge only
#endif
};

std::optional<std::string> Text(const toml::node& value) {
    if (const auto* text = value.as_string()) return text->get();
    return std::nullopt;
}

std::optional<int64_t> Whole(const toml::node& value, int64_t low, int64_t high) {
    const auto* number = value.as_integer();
    if (number == nullptr || number->get() < low || number->get() > high) return std::nullopt;
    return number->get();
}

// A number as the command line would have it, every digit kept: 1234567 is
// "1234567", 1.5 is "1.5".
std::optional<std::string> Number(const toml::node& value) {
    if (const auto* whole = value.as_integer()) return std::to_string(whole->get());
    const auto* real = value.as_floating_point();
    if (real == nullptr) return std::nullopt;
    std::array<char, 64> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), real->get()).ptr;
    return std::string(text.data(), end);
}

// A time: a text ("500ms", "2s") or a number in the option's own unit.
std::optional<std::string> Time(const toml::node& value) {
    if (value.is_string()) return Text(value);
    return Number(value);
}

std::optional<std::vector<int>> Muxes(const toml::node& value) {
    const auto* array = value.as_array();
    if (array == nullptr || array->empty()) return std::nullopt;
    std::vector<int> muxes;
    for (const toml::node& item : *array) {
        const auto mux = Whole(item, 0, 4);
        if (!mux) return std::nullopt;
        muxes.push_back(static_cast<int>(*mux));
    }
    return muxes;
}

[[maybe_unused]] std::optional<bool> Flag(const toml::node& value) {  // the bridge's keys
    if (const auto* flag = value.as_boolean()) return flag->get();
    return std::nullopt;
}

template <typename Target, typename Value>
bool Put(const std::optional<Value>& value, Target& target) {
    if (!value) return false;
    target = static_cast<Target>(*value);
    return true;
}

// A key of the file: the table it belongs to ("" the top), whether it may also stand
// at the top (the flat keys of the first site files), the command-line option it
// stands for, what it takes, how it is set (false: not a value of that kind), and the
// option's own rule on what was set: why it is refused, empty when it is not.
struct Key {
    std::string_view table;
    std::string_view name;
    bool flat;
    std::string_view option;
    std::string_view takes;
    std::function<bool(const toml::node& value, Options& into)> set;
    std::function<std::string(const Options& set)> rule;
};

using O = const Options&;
constexpr std::string_view kText = "a text";
constexpr std::string_view kFlag = "true or false";
constexpr std::string_view kMilliseconds =
    "a time, e.g. \"500ms\" or \"2s\", or a number of milliseconds";
constexpr std::string_view kSeconds = "a time, e.g. \"500ms\" or \"2s\", or a number of seconds";
// The rule of an option that takes every value of its kind.
std::string Fine(O) {
    return {};
}

const Key kOwnKeys[] = {
    {"line", "port", true, "--port", "a text, the port name, e.g. \"ttyUSB0\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.port); },
     [](O o) { return o.common.port.empty() ? std::string("takes a port name") : ""; }},
    {"line", "baud", true, "--baud", "a whole number, e.g. 9600",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, UINT32_MAX), o.common.baud); },
     [](O o) { return BaudProblem(o.common.baud); }},
    {"line", "data_bits", true, "--data-bits", "a whole number 5..8",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, 99), o.common.dataBits); },
     [](O o) { return DataBitsProblem(o.common.dataBits); }},
    {"line", "parity", true, "--parity",
     "a text: \"none\", \"odd\", \"even\", \"mark\" or \"space\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.parity); },
     [](O o) { return ParityProblem(o.common.parity); }},
    {"line", "stop_bits", true, "--stop-bits", kStopBitsHelp,
     [](const toml::node& v, Options& o) { return Put(Number(v), o.common.stopBits); },
     [](O o) { return StopBitsProblem(o.common.stopBits); }},
    {"line", "timeout", true, "--timeout", kMilliseconds,
     [](const toml::node& v, Options& o) { return Put(Time(v), o.common.timeout); },
     [](O o) { return TimeoutProblem(o.common.timeout); }},
    {"poll", "interval", false, "--poll-interval", kMilliseconds,
     [](const toml::node& v, Options& o) { return Put(Time(v), o.common.pollInterval); },
     [](O o) { return PollIntervalProblem(o.common.pollInterval); }},
    {"", "poll_interval", true, "--poll-interval", kMilliseconds,
     [](const toml::node& v, Options& o) { return Put(Time(v), o.common.pollInterval); },
     [](O o) { return PollIntervalProblem(o.common.pollInterval); }},
    {"poll", "muxes", true, "--mux", "an array of multiplexer numbers 0..4, e.g. [0, 1, 2]",
     [](const toml::node& v, Options& o) { return Put(Muxes(v), o.poll.muxes); }, Fine},
    {"poll", "clock_every", false, "--clock-every", kSeconds,
     [](const toml::node& v, Options& o) { return Put(Time(v), o.poll.clockEvery); },
     [](O o) { return ClockEveryProblem(o.poll.clockEvery); }},
    {"", "log", true, "--log", "a text, the file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.logFile); }, Fine},
    {"", "instance", true, "--instance", "a whole number 0..255",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, 255), o.common.instance); },
     Fine},
    {"", "driver", true, "--driver", "a text, the driver library's file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.driverPath); }, Fine},
};

#ifndef _WIN32
// The keys of a face's (or the core's) table, as the bridge's options hold them.
template <typename FaceOptions>
void AddFaceKeys(std::vector<Key>& keys, std::span<const bridge::FaceOption<FaceOptions>> table,
                 FaceOptions bridge::BridgeOptions::*face) {
    using bridge::OptionKind;
    for (const bridge::FaceOption<FaceOptions>& entry : table) {
        if (entry.key.empty()) continue;  // the command line's only
        const auto* e = &entry;
        keys.push_back({e->table, e->key, false, e->option, e->takes,
                        [e, face](const toml::node& v, Options& o) {
                            FaceOptions& into = o.bridge.*face;
                            switch (e->kind) {
                                case OptionKind::kFlag:
                                    return Put(Flag(v), into.*(e->flag));
                                case OptionKind::kWhole:
                                    return Put(Whole(v, 0, INT_MAX), into.*(e->whole));
                                case OptionKind::kTime:
                                    return Put(Time(v), into.*(e->text));
                                case OptionKind::kText:
                                    break;
                            }
                            return Put(Text(v), into.*(e->text));
                        },
                        [e, face](O o) { return e->rule ? e->rule(o.bridge.*face) : ""; }});
    }
}
#endif

// Every key: the line's, the polling's and the tool's, then each face's table.
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = [] {
        std::vector<Key> all(std::begin(kOwnKeys), std::end(kOwnKeys));
#ifndef _WIN32
        AddFaceKeys(all, bridge::MqttOptionTable(), &bridge::BridgeOptions::mqtt);
        // The payloads' style is the tool's --json, for the bridge only.
        all.push_back(
            {"mqtt", "json", false, "--json", kFlag,
             [](const toml::node& v, Options& o) { return Put(Flag(v), o.payloadsInJson); }, Fine});
        AddFaceKeys(all, bridge::CoreOptionTable(), &bridge::BridgeOptions::core);
        AddFaceKeys(all, bridge::ModbusOptionTable(), &bridge::BridgeOptions::modbus);
        AddFaceKeys(all, bridge::HttpOptionTable(), &bridge::BridgeOptions::http);
#endif
        return all;
    }();
    return keys;
}

// The keys a place of the file takes: a table's own, or (table "") the flat keys
// and the tables.
std::string KeysOf(std::string_view table) {
    std::string keys;
    std::vector<std::string_view> tables;
    for (const Key& key : Keys()) {
        if (key.table == table || (table.empty() && key.flat))
            keys += (keys.empty() ? "" : ", ") + std::string(key.name);
        if (table.empty() && !key.table.empty() &&
            std::find(tables.begin(), tables.end(), key.table) == tables.end())
            tables.push_back(key.table);
    }
    for (const std::string_view name : tables) keys += ", [" + std::string(name) + "]";
    return keys;
}

const Key* FindKey(std::string_view table, std::string_view name) {
    for (const Key& key : Keys())
        if (key.name == name && (key.table == table || (table.empty() && key.flat))) return &key;
    return nullptr;
}

bool IsTable(std::string_view name) {
    for (const Key& key : Keys())
        if (!key.table.empty() && key.table == name) return true;
    return false;
}

std::string Where(const std::string& path, const toml::source_region& region) {
    return path + ":" + std::to_string(region.begin.line) + ":" +
           std::to_string(region.begin.column) + ": ";
}

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        *error = "cannot read the site file " + path + ": it is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the site file " + path + ": " + std::strerror(errno);
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

namespace {

// The keys of a file read so far, by their option: a flat key and its table's twin
// ([line] port, port at the top) give one option, and only one of them may stand.
struct Seen {
    const Key* key;
    std::string_view table;
    toml::source_region where;
};

std::string Label(std::string_view table, std::string_view name) {
    return table.empty() ? std::string(name) + " at the top"
                         : "[" + std::string(table) + "] " + std::string(name);
}

// Reads the keys of a file into `result`, those the command line gave into
// `overridden`; false with the message on the first key it cannot take.
struct Reader {
    const std::string& path;
    const OptionGiven& given;
    Options& result;
    Options& overridden;
    std::string* error;
    std::vector<Seen> seen;

    bool Fail(const toml::source_region& where, const std::string& text) {
        *error = Where(path, where) + text;
        return false;
    }

    // A second key for an option already given: named at the later of the two.
    bool Twice(const Seen& first, std::string_view table, const toml::key& name) {
        const bool later = name.source().begin.line > first.where.begin.line;
        const std::string here = Label(table, name.str());
        const std::string there = Label(first.table, first.key->name);
        const toml::source_region& other = later ? first.where : name.source();
        return Fail(later ? name.source() : first.where,
                    (later ? here : there) + " and " + (later ? there : here) + " (line " +
                        std::to_string(other.begin.line) + ") both give " +
                        std::string(first.key->option) + ": keep one");
    }

    bool Take(std::string_view table, const toml::key& name, const toml::node& value) {
        const Key* key = FindKey(table, name.str());
        if (key == nullptr) {
            const std::string place = table.empty() ? "" : " in [" + std::string(table) + "]";
            return Fail(name.source(), "unknown key '" + std::string(name.str()) + "'" + place +
                                           " (the keys are " + KeysOf(table) + ")");
        }
        for (const Seen& other : seen)
            if (other.key->option == key->option) return Twice(other, table, name);
        seen.push_back({key, table, name.source()});
        // What the command line gave wins: the file's value is only judged by its kind.
        const bool overruled = given(key->option);
        Options& into = overruled ? overridden : result;
        if (!key->set(value, into))
            return Fail(value.source(),
                        std::string(key->name) + " takes " + std::string(key->takes));
        if (const std::string why = overruled ? "" : key->rule(into); !why.empty())
            return Fail(value.source(), std::string(key->name) + " " + why);
        return true;
    }

    bool Table(std::string_view table, const toml::table& keys) {
        for (const auto& [name, value] : keys) {
            const bool ok = table.empty() && value.is_table() && IsTable(name.str())
                                ? Table(name.str(), *value.as_table())
                                : Take(table, name, value);
            if (!ok) return false;
        }
        return true;
    }
};

}  // namespace

std::string SiteKeys() {
    return KeysOf("");
}

bool LoadSiteConfig(const std::string& path, const OptionGiven& given, SiteOptions options,
                    std::string* error) {
    std::string text;
    if (!ReadFile(path, &text, error)) return false;
    const toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        *error = Where(path, parsed.error().source()) +
                 "not a TOML file: " + std::string(parsed.error().description());
        return false;
    }
    // The file's values go to a copy; those the command line gave, to a scratch copy
    // where they are judged but not used.
    Options result;
    result.common = *options.common;
    result.poll = *options.poll;
#ifndef _WIN32
    if (options.bridge != nullptr) result.bridge = *options.bridge;
#endif
    Options overridden;
    Reader reader{path, given, result, overridden, error, {}};
    if (!reader.Table("", parsed.table())) return false;
    *options.common = result.common;
    *options.poll = result.poll;
#ifndef _WIN32
    if (options.bridge != nullptr) {
        *options.bridge = result.bridge;
        if (result.payloadsInJson) options.common->json = *result.payloadsInJson;
    }
#endif
    return true;
}

}  // namespace roderavo::tool
