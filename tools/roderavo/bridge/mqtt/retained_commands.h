// Commands left retained on the broker. Each is refused (it would run again at every
// connection) and removed from the broker by an empty retained message on its topic,
// so that no later start meets it. The broker hands that empty message to this bridge
// too, subscribed to the topic: it is the bridge's own and no command (an empty
// payload is one: set/caa clears the alarms).
#pragma once

#include <functional>
#include <set>
#include <string>

namespace roderavo::tool::bridge {

class RetainedCommands {
  public:
    using Publisher =
        std::function<bool(const std::string& topic, const std::string& payload, bool retain)>;

    explicit RetainedCommands(Publisher publish) : publish_(std::move(publish)) {}

    // For each message on a command topic, on the connection's thread: false for the
    // echo of a removal. A retained command is removed from the broker (and still
    // answered as refused by whoever takes it).
    bool IsCommand(const std::string& topic, const std::string& payload, bool retained);
    // At each new connection: what the last one removed echoes no more.
    void Reset() { removing_.clear(); }

  private:
    Publisher publish_;
    std::set<std::string> removing_;  // emptied on the broker, the echo not yet back
};

}  // namespace roderavo::tool::bridge
