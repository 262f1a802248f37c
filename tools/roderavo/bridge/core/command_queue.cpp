#include "bridge/core/command_queue.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "bridge/core/command_words.h"
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
        ++changes_;
    }
    changed_.notify_all();
    return true;
}

void CommandQueue::SetUnreachable(std::map<int, std::string> muxes) {
    {
        std::lock_guard lock(mutex_);
        if (unreachable_ == muxes) return;
        unreachable_ = std::move(muxes);
        ++changes_;
    }
    changed_.notify_all();
}

std::string CommandQueue::RefusalOf(const Command& command, Clock::time_point now) const {
    std::string why;
    const auto mux = unreachable_.find(TargetMux(command));
    if (mux != unreachable_.end())
        why = "multiplexer " + std::to_string(mux->first) + " is " + mux->second + ": not sent";
    else if (now - command.arrived > deadline_)
        why = "not started within " + SecondsText(deadline_) + " (--command-deadline): not sent";
    // A repeat of an id that ran: its answer is that run's record, not "not sent".
    if (!why.empty() && Repeat(command)) return {};
    return why;
}

bool CommandQueue::Repeat(const Command& command) const {
    return seen_.ResultOf(InterpretCommand(command).id).has_value();
}

void CommandQueue::Remember(const std::string& id, const CommandResult& result) {
    std::lock_guard lock(mutex_);
    seen_.Remember(id, result);
}

std::optional<CommandResult> CommandQueue::ResultOf(const std::string& id) const {
    std::lock_guard lock(mutex_);
    return seen_.ResultOf(id);
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
    ++changes_;
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
        ++changes_;
    }
    changed_.notify_all();
}

uint64_t CommandQueue::Changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
}

void CommandQueue::WaitForRefusals(uint64_t seen) {
    std::unique_lock lock(mutex_);
    const auto changed = [&] { return changes_ != seen; };
    if (commands_.empty()) return changed_.wait(lock, changed);
    // A command is refused once it has waited longer than the deadline; a repeat never.
    auto due = Clock::time_point::max();
    for (const Command& command : commands_) {
        if (!Repeat(command))
            due = std::min(due, command.arrived + deadline_ + std::chrono::milliseconds(1));
    }
    if (due == Clock::time_point::max()) return changed_.wait(lock, changed);
    changed_.wait_until(lock, due, changed);
}

std::size_t CommandQueue::Size() const {
    std::lock_guard lock(mutex_);
    return commands_.size();
}

int TargetMux(const Command& command) {
    std::string_view mux = command.mux;
    if (!command.assignment.empty()) {
        const std::string_view assignment = command.assignment;
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

std::string CommandLogLine(const Command& command, const CommandResult& result) {
    const std::string outcome = std::to_string(result.result) + " " + result.explanation;
    if (!command.assignment.empty())
        return command.face + ": " + command.peer + " wrote " + command.assignment + ": " + outcome;
    const std::string line =
        "command mux/" + command.mux + "/set/" + command.word + " " + result.given + ": " + outcome;
    // A face that knows its peer names it: who pressed a key is in the log.
    return command.peer.empty() ? line : command.face + ": " + command.peer + " " + line;
}

std::string BusyText() {
    return "busy: " + std::to_string(kQueuedCommands) +
           " commands wait to be run or answered; this one was not queued: send it again later";
}

std::optional<CommandResult> SeenCommands::ResultOf(const std::string& id) const {
    const auto found = results_.find(id);
    if (found == results_.end()) return std::nullopt;
    return found->second;
}

void SeenCommands::Remember(const std::string& id, const CommandResult& result) {
    if (results_.emplace(id, result).second) order_.push_back(id);
    while (order_.size() > capacity_) {
        results_.erase(order_.front());
        order_.pop_front();
    }
}

}  // namespace roderavo::tool::bridge
