#include "commands/site_config.h"

// toml++ in this file only, headers only, and reporting by results, not exceptions.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

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

// A number or a text, as the command line would have it: 1.5 is "1.5", 300 is "300".
std::optional<std::string> NumberOrText(const toml::node& value) {
    if (value.is_string()) return Text(value);
    if (const auto number = value.value<double>(); number && value.is_number()) {
        std::ostringstream text;
        text << *number;
        return text.str();
    }
    return std::nullopt;
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
// stands for, what it takes, and how it is set (false: not a value of that kind).
struct Key {
    std::string_view table;
    std::string_view name;
    bool flat;
    std::string_view option;
    std::string_view takes;
    bool (*set)(const toml::node& value, Options& into);
};

constexpr std::string_view kText = "a text";
constexpr std::string_view kFlag = "true or false";
constexpr std::string_view kTime = "a time, e.g. \"500ms\" or \"2s\", or a number of milliseconds";

const Key kKeys[] = {
    {"line", "port", true, "--port", "a text, the port name, e.g. \"ttyUSB0\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.port); }},
    {"line", "baud", true, "--baud", "a whole number, e.g. 9600",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, UINT32_MAX), o.common.baud); }},
    {"line", "data_bits", true, "--data-bits", "a whole number 5..8",
     [](const toml::node& v, Options& o) {
         return Put(Whole(v, INT_MIN, INT_MAX), o.common.dataBits);
     }},
    {"line", "parity", true, "--parity",
     "a text: \"none\", \"odd\", \"even\", \"mark\" or \"space\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.parity); }},
    {"line", "stop_bits", true, "--stop-bits", "1, 1.5 or 2",
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.stopBits); }},
    {"line", "timeout", true, "--timeout", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.timeout); }},
    {"poll", "interval", false, "--poll-interval", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.pollInterval); }},
    {"", "poll_interval", true, "--poll-interval", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.pollInterval); }},
    {"poll", "muxes", true, "--mux", "an array of multiplexer numbers 0..4, e.g. [0, 1, 2]",
     [](const toml::node& v, Options& o) { return Put(Muxes(v), o.poll.muxes); }},
    {"poll", "clock_every", false, "--clock-every", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.poll.clockEvery); }},
    {"", "log", true, "--log", "a text, the file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.logFile); }},
    {"", "instance", true, "--instance", "a whole number 0..255",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, 255), o.common.instance); }},
    {"", "driver", true, "--driver", "a text, the driver library's file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.driverPath); }},
#ifndef _WIN32
    {"mqtt", "url", false, "--mqtt", "a text, the broker, e.g. \"mqtt://localhost:1883\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.mqtt); }},
    {"mqtt", "username", false, "--mqtt-username", kText,
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.username); }},
    {"mqtt", "password_file", false, "--mqtt-password-file", "a text, the file with the password",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.passwordFile); }},
    {"mqtt", "ca", false, "--mqtt-ca", "a text, the CA file (PEM)",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.caFile); }},
    {"mqtt", "cert", false, "--mqtt-cert", "a text, the client certificate file (PEM)",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.certFile); }},
    {"mqtt", "key", false, "--mqtt-key", "a text, the client key file (PEM)",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.keyFile); }},
    {"mqtt", "client_id", false, "--mqtt-client-id", kText,
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.clientId); }},
    {"mqtt", "keepalive", false, "--mqtt-keepalive", "a whole number of seconds",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, INT_MAX), o.bridge.keepAlive); }},
    {"mqtt", "reconnect_min", false, "--reconnect-min", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.bridge.backoffMin); }},
    {"mqtt", "reconnect_max", false, "--reconnect-max", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.bridge.backoffMax); }},
    {"mqtt", "site", false, "--site", "a text, the site's name in the topics",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.site); }},
    {"mqtt", "topic_prefix", false, "--topic-prefix", kText,
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.topicPrefix); }},
    {"mqtt", "json", false, "--json", kFlag,
     [](const toml::node& v, Options& o) { return Put(Flag(v), o.payloadsInJson); }},
    {"mqtt", "statistics_every", false, "--statistics-every", kTime,
     [](const toml::node& v, Options& o) {
         return Put(NumberOrText(v), o.bridge.statisticsEvery);
     }},
    {"mqtt", "command_deadline", false, "--command-deadline", kTime,
     [](const toml::node& v, Options& o) {
         return Put(NumberOrText(v), o.bridge.commandDeadline);
     }},
    {"ha", "discovery", false, "--ha-discovery", kFlag,
     [](const toml::node& v, Options& o) { return Put(Flag(v), o.bridge.haDiscovery); }},
    {"ha", "prefix", false, "--ha-prefix", "a text, Home Assistant's discovery prefix",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.haPrefix); }},
    {"modbus", "listen", false, "--modbus", "a text, ADDRESS[:PORT], e.g. \"127.0.0.1:502\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.modbus); }},
    {"modbus", "allow", false, "--modbus-allow", "a text, IPv4 networks, e.g. \"10.1.2.0/24\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.bridge.modbusAllow); }},
    {"modbus", "idle", false, "--modbus-idle", kTime,
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.bridge.modbusIdle); }},
    {"modbus", "writable", false, "--modbus-writable", kFlag,
     [](const toml::node& v, Options& o) { return Put(Flag(v), o.bridge.modbusWritable); }},
#endif
};

// The keys a place of the file takes: a table's own, or (table "") the flat keys
// and the tables.
std::string KeysOf(std::string_view table) {
    std::string keys;
    std::vector<std::string_view> tables;
    for (const Key& key : kKeys) {
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
    for (const Key& key : kKeys)
        if (key.name == name && (key.table == table || (table.empty() && key.flat))) return &key;
    return nullptr;
}

bool IsTable(std::string_view name) {
    for (const Key& key : kKeys)
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

// Sets the keys of one table (or of the top) into `result`, those the command line
// gave into `overridden`; false with the message on the first key it cannot take.
bool SetKeys(const std::string& path, std::string_view table, const toml::table& keys,
             const OptionGiven& given, Options& result, Options& overridden, std::string* error) {
    for (const auto& [name, value] : keys) {
        if (table.empty() && value.is_table() && IsTable(name.str())) {
            if (!SetKeys(path, name.str(), *value.as_table(), given, result, overridden, error))
                return false;
            continue;
        }
        const Key* key = FindKey(table, name.str());
        if (key == nullptr) {
            const std::string place = table.empty() ? "" : " in [" + std::string(table) + "]";
            *error = Where(path, name.source()) + "unknown key '" + std::string(name.str()) + "'" +
                     place + " (the keys are " + KeysOf(table) + ")";
            return false;
        }
        if (!key->set(value, given(key->option) ? overridden : result)) {
            *error = Where(path, value.source()) + std::string(key->name) + " takes " +
                     std::string(key->takes);
            return false;
        }
    }
    return true;
}

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
    if (!SetKeys(path, "", parsed.table(), given, result, overridden, error)) return false;
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
