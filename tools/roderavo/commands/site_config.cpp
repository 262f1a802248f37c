#include "commands/site_config.h"

// toml++ in this file only, headers only, and reporting by results, not exceptions.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

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

template <typename Target, typename Value>
bool Put(const std::optional<Value>& value, Target& target) {
    if (!value) return false;
    target = static_cast<Target>(*value);
    return true;
}

// A key of the file: the command-line option it stands for, what it takes, and how
// it is set (false: not a value of that kind).
struct Key {
    std::string_view name;
    std::string_view option;
    std::string_view takes;
    bool (*set)(const toml::node& value, Options& into);
};

const Key kKeys[] = {
    {"port", "--port", "a text, the port name, e.g. \"ttyUSB0\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.port); }},
    {"baud", "--baud", "a whole number, e.g. 9600",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, UINT32_MAX), o.common.baud); }},
    {"data_bits", "--data-bits", "a whole number 5..8",
     [](const toml::node& v, Options& o) {
         return Put(Whole(v, INT_MIN, INT_MAX), o.common.dataBits);
     }},
    {"parity", "--parity", "a text: \"none\", \"odd\", \"even\", \"mark\" or \"space\"",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.parity); }},
    {"stop_bits", "--stop-bits", "1, 1.5 or 2",
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.stopBits); }},
    {"timeout", "--timeout", "a time, e.g. \"300ms\" or \"2s\", or a number of milliseconds",
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.timeout); }},
    {"poll_interval", "--poll-interval",
     "a time, e.g. \"500ms\" or \"2s\", or a number of milliseconds",
     [](const toml::node& v, Options& o) { return Put(NumberOrText(v), o.common.pollInterval); }},
    {"muxes", "--mux", "an array of multiplexer numbers 0..4, e.g. [0, 1, 2]",
     [](const toml::node& v, Options& o) { return Put(Muxes(v), o.poll.muxes); }},
    {"log", "--log", "a text, the file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.logFile); }},
    {"instance", "--instance", "a whole number 0..255",
     [](const toml::node& v, Options& o) { return Put(Whole(v, 0, 255), o.common.instance); }},
    {"driver", "--driver", "a text, the driver library's file name",
     [](const toml::node& v, Options& o) { return Put(Text(v), o.common.driverPath); }},
};

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

bool LoadSiteConfig(const std::string& path, const OptionGiven& given, CommonOptions* common,
                    PollOptions* poll, std::string* error) {
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
    Options result{*common, *poll};
    Options overridden;
    for (const auto& [name, value] : parsed.table()) {
        const Key* key = nullptr;
        for (const Key& candidate : kKeys)
            if (candidate.name == name.str()) key = &candidate;
        if (key == nullptr) {
            *error = Where(path, name.source()) + "unknown key '" + std::string(name.str()) +
                     "' (the keys are " + kSiteKeys + ")";
            return false;
        }
        if (!key->set(value, given(key->option) ? overridden : result)) {
            *error = Where(path, value.source()) + std::string(key->name) + " takes " +
                     std::string(key->takes);
            return false;
        }
    }
    *common = result.common;
    *poll = result.poll;
    return true;
}

}  // namespace roderavo::tool
