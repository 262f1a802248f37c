#include "bridge/core/command_words.h"

#include <cctype>
#include <map>
#include <optional>

#include "address/camera_range.h"
#include "bridge/core/command_queue.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A flat JSON object's fields, strings as they are and other values as their JSON
// text; nothing when the payload is no JSON object of plain values.
std::optional<std::map<std::string, std::string>> FlatJson(const std::string& text) {
    const Json parsed = Json::parse(text, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    std::map<std::string, std::string> fields;
    for (const auto& [key, value] : parsed.items()) {
        if (value.is_structured()) return std::nullopt;
        fields[key] = value.is_string() ? value.get<std::string>() : JsonText(value);
    }
    return fields;
}

// No command's value comes near these; a longer one is refused, and what is echoed
// of it (in the result and the log) is its beginning and its length.
constexpr std::size_t kLongestValue = 256, kLongestId = 128, kEchoed = 32;

std::string Echo(const std::string& text) {
    if (text.size() <= kEchoed) return text;
    return text.substr(0, kEchoed) + "... (" + std::to_string(text.size()) + " characters)";
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A payload too long to be a command: its length is all that is read of it (a
// value that long, or a JSON payload).
void RefuseOversized(const std::string& payload, CommandRequest& request) {
    const auto first = payload.find_first_not_of(" \t\r\n");
    const bool value = first != std::string::npos && payload[first] != '{';
    const std::size_t length =
        value ? payload.find_last_not_of(" \t\r\n") - first + 1 : payload.size();
    if (value)
        request.value = Echo(payload.substr(first, kEchoed)) + "... (" + std::to_string(length) +
                        " characters)";
    request.refusal = std::string(value ? "the value" : "the payload") + " is " +
                      std::to_string(length) + " characters long; a command takes at most " +
                      std::to_string(value ? kLongestValue : kLongestPayload);
}

// The value (and the id) the payload gives: the payload itself, or the fields of its
// JSON object; false with the refusal when it gives none that can be used.
bool ReadPayload(const std::string& payload, std::string& value, CommandRequest& request) {
    value = Trim(payload);
    if (value.starts_with("{")) {
        const auto fields = FlatJson(value);
        if (!fields) {
            request.refusal =
                "the payload is not a JSON object of the form {\"value\":\"53\",\"id\":\"c1\"}";
            return false;
        }
        const auto id = fields->find("id");
        if (id != fields->end()) request.id = id->second;
        const auto found = fields->find("value");
        value = found == fields->end() ? std::string() : Trim(found->second);
    }
    request.value = Echo(value);
    if (value.size() <= kLongestValue && request.id.size() <= kLongestId) return true;
    const bool longValue = value.size() > kLongestValue;
    request.refusal = std::string(longValue ? "the value" : "the id") + " is " +
                      std::to_string(longValue ? value.size() : request.id.size()) +
                      " characters long; a command takes at most " +
                      std::to_string(longValue ? kLongestValue : kLongestId);
    request.id = Echo(request.id);
    return false;
}

// The assignment the command word asks of the multiplexer (the topic's digit), or
// the refusal.
void Assign(const std::string& mux, const std::string& commandWord, const std::string& value,
            CommandRequest& request) {
    static const std::map<std::string, std::string> kGates = {
        {"key", "KEY"}, {"ptz", "PTZ"},   {"preset", "PRESET"}, {"inhpair", "INHPAIR"},
        {"joy", "JOY"}, {"clock", "TAD"}, {"caa", "CAA"},       {"ihk", "IHK"}};
    const std::string word = Lower(commandWord);
    const auto gate = kGates.find(word);
    if (gate == kGates.end()) {
        request.refusal = "set/" + commandWord + ": no such command; the commands are " +
                          std::string(kCommandWords);
    } else if (word == "caa") {
        // Clears the alarms of the multiplexer of the topic.
        if (value.empty() || value == mux)
            request.assignment = "CAA=" + mux;
        else
            request.refusal = "set/caa under mux/" + mux + " clears the alarms of multiplexer " +
                              mux + ": give an empty payload or " + mux;
    } else if (word == "ihk") {
        const auto equals = value.find('=');
        if (equals != std::string::npos && equals != 0)
            request.assignment = "IHK" + mux + value;
        else
            request.refusal =
                "set/ihk takes SUBCOMMAND=(key codes), e.g. 075=(9,13); the subcommands are 070 "
                "075 077 079 083 118";
    } else {
        request.assignment = gate->second + mux + "=" + value;
    }
}

}  // namespace

CommandRequest InterpretCommand(const Command& command) {
    CommandRequest request;
    if (command.word.empty() && !command.assignment.empty()) {
        request.assignment = request.value = command.assignment;
        return request;
    }
    std::string value;
    if (command.payload.size() > kLongestPayload)
        RefuseOversized(command.payload, request);
    else
        ReadPayload(command.payload, value, request);
    // Read all the same, so that the answer and the log show what it carried.
    if (command.retained) {
        request.refusal =
            "a retained command is not run (it would run again at every connection): publish "
            "commands without the retain flag";
        return request;
    }
    if (!request.refusal.empty()) return request;
    const std::string& mux = command.mux;
    if (mux.size() != 1 || !std::isdigit(static_cast<unsigned char>(mux[0]))) {
        request.refusal =
            "mux/" + mux + ": the multiplexer is a number 0.." + std::to_string(kMuxCount - 1);
        return request;
    }
    Assign(mux, command.word, value, request);
    return request;
}

}  // namespace roderavo::tool::bridge
