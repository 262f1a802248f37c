#include "bridge/http/process_figures.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace roderavo::tool::bridge {

namespace {

std::string FileText(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<double> Number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The fields after the command's name (which may hold spaces and parentheses): the
// process's state first, the third field of the line.
std::vector<std::string_view> FieldsAfterName(std::string_view stat) {
    std::vector<std::string_view> fields;
    const auto name = stat.rfind(')');
    if (name == std::string_view::npos) return fields;
    stat.remove_prefix(name + 1);
    while (!stat.empty()) {
        const auto start = stat.find_first_not_of(" \n");
        if (start == std::string_view::npos) break;
        const auto end = stat.find_first_of(" \n", start);
        fields.push_back(stat.substr(start, end - start));
        stat.remove_prefix(end == std::string_view::npos ? stat.size() : end);
    }
    return fields;
}

std::optional<double> BootTime(std::string_view system) {
    for (std::size_t at = 0; at < system.size();) {
        const auto end = std::min(system.find('\n', at), system.size());
        const std::string_view line = system.substr(at, end - at);
        if (line.starts_with("btime ")) return Number(line.substr(6));
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<double> OpenFds() {
    std::error_code error;
    double count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    if (error) return std::nullopt;
    return count;
}

}  // namespace

ProcessFigures FiguresOf(std::string_view stat, std::string_view system, long ticks, long page) {
    ProcessFigures figures;
    const auto fields = FieldsAfterName(stat);
    // Counted from the state, the third field: utime 14, stime 15, starttime 22, rss 24.
    const auto field = [&](std::size_t number) {
        return number - 3 < fields.size() ? Number(fields[number - 3]) : std::nullopt;
    };
    if (ticks <= 0 || page <= 0) return figures;
    const auto user = field(14), kernel = field(15), started = field(22), pages = field(24);
    if (user && kernel) figures.cpuSeconds = (*user + *kernel) / static_cast<double>(ticks);
    if (pages) figures.residentBytes = *pages * static_cast<double>(page);
    const auto boot = BootTime(system);
    if (started && boot) figures.startTime = *boot + *started / static_cast<double>(ticks);
    return figures;
}

ProcessFigures OwnFigures() {
    ProcessFigures figures = FiguresOf(FileText("/proc/self/stat"), FileText("/proc/stat"),
                                       sysconf(_SC_CLK_TCK), sysconf(_SC_PAGESIZE));
    figures.openFds = OpenFds();
    return figures;
}

}  // namespace roderavo::tool::bridge
