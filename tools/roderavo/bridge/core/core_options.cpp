#include "bridge/core/core_options.h"

namespace roderavo::tool::bridge {

namespace {

using O = CoreOptions;

// The site file keeps the deadline with the broker's keys, where it was first.
constexpr FaceOption<O> kTable[] = {
    {.option = "--command-deadline",
     .help = "A command (MQTT, or a Modbus write) that has not started this long after it came "
             "is answered as not sent (Modbus: 0B) and dropped; keep it below the senders' "
             "time-outs",
     .table = "mqtt",
     .key = "command_deadline",
     .takes = kTakesTime,
     .kind = OptionKind::kTime,
     .text = &O::commandDeadline,
     .rule =
         [](const O& o) { return DurationProblem(o.commandDeadline, kCommandDeadlineLeastMs); }},
};

}  // namespace

std::span<const FaceOption<CoreOptions>> CoreOptionTable() {
    return kTable;
}

void AddCoreOptions(CLI::App* command, CoreOptions& options) {
    AddFaceOptions(command, options, CoreOptionTable());
}

std::optional<CoreSettings> JudgeCore(const CoreOptions& options) {
    const auto deadline =
        JudgeDuration("--command-deadline", options.commandDeadline, kCommandDeadlineLeastMs);
    if (!deadline) return std::nullopt;
    return CoreSettings{*deadline};
}

}  // namespace roderavo::tool::bridge
