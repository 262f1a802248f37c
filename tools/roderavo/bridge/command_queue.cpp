#include "bridge/command_queue.h"

#include <cctype>
#include <map>
#include <string_view>

#include "address/camera_range.h"
#include "output/json_out.h"
#include "output/text.h"

namespace roderavo::tool::bridge {

bool CommandQueue::Push(Command command, std::size_t unanswered) {
    {
        std::lock_guard lock(mutex_);
        const std::size_t counted = commands_.size() + unanswered;
        if (closed_ || command.payload.size() > kLongestPayload || counted >= kQueuedCommands)
            return false;
        if (command.arrived == Clock::time_point{}) command.arrived = Clock::now();
        commands_.push_back(std::move(command));
    }
    changed_.notify_all();
    return true;
}

void CommandQueue::SetUnreachable(std::map<int, std::string> muxes) {
    std::lock_guard lock(mutex_);
    unreachable_ = std::move(muxes);
}

std::string CommandQueue::RefusalOf(const Command& command, Clock::time_point now) const {
    const auto mux = unreachable_.find(TargetMux(command));
    if (mux != unreachable_.end())
        return "multiplexer " + std::to_string(mux->first) + " is " + mux->second + ": not sent";
    if (now - command.arrived > deadline_)
        return "not started within " + SecondsText(deadline_) + " (--command-deadline): not sent";
    return {};
}

std::optional<TakenCommand> CommandQueue::TryPop(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (commands_.empty()) return std::nullopt;
    TakenCommand taken{std::move(commands_.front()), {}};
    commands_.pop_front();
    taken.refusal = RefusalOf(taken.command, now);
    return taken;
}

std::vector<TakenCommand> CommandQueue::TakeRefused(Clock::time_point now) {
    std::vector<TakenCommand> refused;
    std::lock_guard lock(mutex_);
    for (auto it = commands_.begin(); it != commands_.end();) {
        std::string why = RefusalOf(*it, now);
        if (why.empty()) {
            ++it;
            continue;
        }
        refused.push_back({std::move(*it), std::move(why)});
        it = commands_.erase(it);
    }
    return refused;
}

std::vector<TakenCommand> CommandQueue::Close(const std::string& why) {
    std::vector<TakenCommand> refused;
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Command& command : commands_) refused.push_back({std::move(command), why});
    commands_.clear();
    return refused;
}

void CommandQueue::WaitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, until, [this] { return !commands_.empty() || woken_; });
    woken_ = false;
}

void CommandQueue::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

std::size_t CommandQueue::Size() const {
    std::lock_guard lock(mutex_);
    return commands_.size();
}

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

int TargetMux(const Command& command) {
    std::string_view mux = command.mux;
    if (command.modbus) {
        const std::string_view assignment = command.modbus->assignment;
        const auto equals = assignment.find('=');
        if (equals == std::string_view::npos) return -1;
        const std::string_view gate = assignment.substr(0, equals);
        const auto digit = gate.find_first_of("0123456789");
        mux = gate == "CAA"                     ? assignment.substr(equals + 1)
              : digit == std::string_view::npos ? std::string_view()
                                                : gate.substr(digit, 1);
    }
    return mux.size() == 1 && std::isdigit(static_cast<unsigned char>(mux[0])) ? mux[0] - '0' : -1;
}

CommandRequest InterpretCommand(const Command& command) {
    CommandRequest request;
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

std::string BusyText() {
    return "busy: " + std::to_string(kQueuedCommands) +
           " commands wait to be run or answered; this one was not queued: send it again later";
}

std::optional<std::string> SeenCommands::ResultOf(const std::string& id) const {
    const auto found = results_.find(id);
    if (found == results_.end()) return std::nullopt;
    return found->second;
}

void SeenCommands::Remember(const std::string& id, const std::string& result) {
    if (results_.emplace(id, result).second) order_.push_back(id);
    while (order_.size() > capacity_) {
        results_.erase(order_.front());
        order_.pop_front();
    }
}

}  // namespace roderavo::tool::bridge
