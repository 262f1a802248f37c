#include "bridge/core/face_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>

#include "line/session.h"
#include "output/text.h"

namespace roderavo::tool::bridge {

void AddTextOption(CLI::App* command, std::string_view name, std::string_view help,
                   std::string& value) {
    auto* option = command->add_option(std::string(name), value, std::string(help));
    if (!value.empty()) option->capture_default_str();
}

void AddFlagOption(CLI::App* command, std::string_view name, std::string_view help, bool& value) {
    command->add_flag(std::string(name), value, std::string(help));
}

void AddWholeOption(CLI::App* command, std::string_view name, std::string_view help, int& value) {
    command->add_option(std::string(name), value, std::string(help))->capture_default_str();
}

std::string DurationProblem(const std::string& text, double leastMs) {
    const auto ms = ParseDurationMs(text, true);
    if (ms && *ms >= leastMs) return {};
    return text + ": give a time such as 500ms or 30s";
}

std::optional<std::chrono::milliseconds> JudgeDuration(std::string_view option,
                                                       const std::string& text, double leastMs) {
    if (const std::string problem = DurationProblem(text, leastMs); !problem.empty()) {
        Complain(std::string(option) + " " + problem);
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::llround(ParseDurationMs(text, true).value_or(0)));
}

std::string WithoutOption(std::string_view option, std::string reason) {
    const std::string head = std::string(option) + " ";
    return reason.starts_with(head) ? reason.substr(head.size()) : reason;
}

std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

}  // namespace roderavo::tool::bridge
