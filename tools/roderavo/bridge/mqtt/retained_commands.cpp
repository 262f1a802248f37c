#include "bridge/mqtt/retained_commands.h"

namespace roderavo::tool::bridge {

bool RetainedCommands::IsCommand(const std::string& topic, const std::string& payload,
                                 bool retained) {
    if (payload.empty() && removing_.erase(topic) > 0) return false;
    if (retained && publish_(topic, "", true)) removing_.insert(topic);
    return true;
}

}  // namespace roderavo::tool::bridge
