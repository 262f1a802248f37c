// The command-line style roderavo and muxsim share: every message begins with the
// program's name, a wrong command line ends with exit code 1, an unknown command is
// named together with the commands there are, and ranges read as words.
#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <climits>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>

namespace roderavo::cli {

inline constexpr int kExitUsage = 1;

// The texts of the parser that are not in the programs' voice, said again in it:
// "Could not convert: --baud = abc", "A subcommand is required". (Ranges have their
// own words: WholeNumber below.)
inline std::string InOurWords(const CLI::App* app, const std::string& text) {
    const std::string convert = "Could not convert: ";
    if (text.starts_with(convert)) {
        const std::string rest = text.substr(convert.size());
        const auto equals = rest.find(" = ");
        if (equals != std::string::npos)
            return rest.substr(0, equals) + " takes a number, not " + rest.substr(equals + 3);
    }
    if (text == "A subcommand is required" && app != nullptr) {
        std::string names;
        for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; }))
            names += (names.empty() ? "" : ", ") + sub->get_name();
        return "give a command: " + names;
    }
    return text;
}

// "program: what went wrong" and where help is, for every error of the command line;
// `alsoTell` hears the message too (the JSON record of --json).
inline void UseStyle(CLI::App& app, const std::string& program,
                     std::function<void(const std::string&)> alsoTell = {}) {
    app.failure_message([program, alsoTell](const CLI::App* at, const CLI::Error& e) {
        const std::string message = InOurWords(at, e.what());
        if (alsoTell) alsoTell(message);
        return program + ": " + message + "\n" + program + ": run '" + program +
               " --help' for the options\n";
    });
}

// An option that takes a list takes one value each time it is given (3,4, or the
// option again): `--sim-absent=1 KEY1=53` is one multiplexer and one assignment,
// never two values of the option.
inline void OneValueEachTime(CLI::App& app) {
    for (CLI::Option* option : app.get_options())
        if (!option->get_positional() && option->get_items_expected_max() > 1)
            option->allow_extra_args(false);
    for (CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        OneValueEachTime(*sub);
}

// Parses the command line: 0 after --help or --version, kExitUsage after a wrong
// one (its message on stderr), -1 when the program goes on.
inline int Parse(CLI::App& app, const std::string& program, int argc, char** argv) {
    OneValueEachTime(app);
    // A first word that is no option and no command is a command misspelt.
    const auto all = app.get_subcommands([](const CLI::App*) { return true; });
    if (argc > 1 && argv[1][0] != '-' && !all.empty()) {
        std::string names;
        bool known = false;
        for (const CLI::App* sub : all) {
            known = known || sub->get_name() == argv[1];
            names += (names.empty() ? "" : ", ") + sub->get_name();
        }
        if (!known) {
            std::cerr << program << ": unknown command '" << argv[1] << "'; the commands are "
                      << names << "\n";
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }
    return -1;
}

// A whole number in [low, high], with a message in words: "takes a whole number from
// 0 to 4, not 7"; `high` INT_MAX reads "0 or more".
inline CLI::Validator WholeNumber(long long low, long long high = INT_MAX) {
    const std::string range = high == INT_MAX
                                  ? std::to_string(low) + " or more"
                                  : "from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& text) {
            long long value = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), value);
            if (error == std::errc() && end == text.data() + text.size() && value >= low &&
                value <= high)
                return std::string();
            return "takes a whole number " + range + ", not " + text;
        },
        "N");
}

}  // namespace roderavo::cli
