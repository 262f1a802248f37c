#include "sites/sites_model.h"

#include <charconv>
#include <cstdio>

#include "output/json_out.h"

namespace roderavo::tool::sites {

namespace {

// A whole number that is the whole text, within low..high.
std::optional<int> Number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// The levels of a topic.
std::vector<std::string_view> Levels(std::string_view topic) {
    std::vector<std::string_view> levels;
    for (std::size_t start = 0;;) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) return levels;
        start = slash + 1;
    }
}

// A JSON object, or nothing (a plain payload).
std::optional<Json> Object(std::string_view payload) {
    if (payload.empty() || payload.front() != '{') return std::nullopt;
    Json parsed = Json::parse(payload, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    return parsed;
}

// The "state" of a JSON payload, or the plain payload itself.
std::string StateWord(std::string_view payload) {
    if (const auto object = Object(payload)) {
        const auto found = object->find("state");
        return found != object->end() && found->is_string() ? found->get<std::string>() : "";
    }
    return std::string(payload);
}

CameraSeen Camera(std::string_view payload) {
    const std::string state = StateWord(payload);
    CameraSeen seen{state == "alarm", state == "video-loss", state == "unknown"};
    if (const auto object = Object(payload)) {
        const auto lost = object->find("videoLoss");
        if (lost != object->end() && lost->is_boolean()) seen.videoLoss = lost->get<bool>();
    }
    return seen;
}

std::optional<WallClock::time_point> StatisticsTime(std::string_view payload) {
    const auto object = Object(payload);
    if (!object) return std::nullopt;
    const auto time = object->find("time");
    if (time == object->end() || !time->is_string()) return std::nullopt;
    return ParseIsoTime(time->get<std::string>());
}

// Sets or (no value) removes an entry.
template <typename Map, typename Value>
bool Keep(Map& map, int key, const std::optional<Value>& value) {
    if (value)
        map[key] = *value;
    else
        map.erase(key);
    return true;
}

}  // namespace

std::vector<std::string> SitesModel::Filters() const {
    return {root_ + "/+/status", root_ + "/+/mux/+/state", root_ + "/+/mux/+/statistics",
            root_ + "/+/camera/+/state"};
}

bool SitesModel::Take(std::string_view topic, std::string_view payload) {
    if (!topic.starts_with(root_ + "/")) return false;
    const auto levels = Levels(topic.substr(root_.size() + 1));
    if (levels.empty() || levels[0].empty()) return false;
    const std::string site(levels[0]);
    const bool removed = payload.empty();
    if (levels.size() == 2 && levels[1] == "status") {
        if (removed) return sites_.erase(site) > 0;
        sites_[site].status = std::string(payload);
        return true;
    }
    if (levels.size() != 4) return false;
    SiteSeen& seen = sites_[site];  // kept until its status comes, shown only with one
    if (levels[1] == "mux") {
        const auto mux = Number(levels[2], 0, 4);
        if (!mux) return false;
        if (levels[3] == "state")
            return Keep(seen.muxes, *mux,
                        removed ? std::nullopt : std::optional<std::string>(StateWord(payload)));
        if (levels[3] == "statistics")
            return Keep(seen.statistics, *mux, removed ? std::nullopt : StatisticsTime(payload));
        return false;
    }
    const auto camera = Number(levels[2], 1, 100);
    if (levels[1] != "camera" || levels[3] != "state" || !camera) return false;
    return Keep(seen.cameras, *camera,
                removed ? std::nullopt : std::optional<CameraSeen>(Camera(payload)));
}

std::map<std::string, SiteSeen> SitesModel::Sites() const {
    std::map<std::string, SiteSeen> shown;
    for (const auto& [name, site] : sites_)
        if (!site.status.empty()) shown.emplace(name, site);
    return shown;
}

std::optional<WallClock::time_point> ParseIsoTime(std::string_view text) {
    const std::string copy(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) !=
            6 ||
        h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(y),
                                           std::chrono::month(static_cast<unsigned>(mo)),
                                           std::chrono::day(static_cast<unsigned>(d))};
    if (!date.ok()) return std::nullopt;
    std::string_view rest = std::string_view(copy).substr(static_cast<std::size_t>(used));
    std::chrono::milliseconds ms{0};
    if (rest.starts_with('.')) {
        std::size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        const auto whole = Number(rest.substr(1, std::min<std::size_t>(digits - 1, 3)), 0, 999);
        if (!whole || digits == 1) return std::nullopt;
        ms = std::chrono::milliseconds(*whole * (digits == 2 ? 100 : digits == 3 ? 10 : 1));
        rest.remove_prefix(digits);
    }
    std::chrono::minutes offset{0};
    if (rest != "Z") {
        const bool colon = rest.size() == 6 && rest[3] == ':';
        if ((rest.size() != 5 && !colon) || (rest[0] != '+' && rest[0] != '-')) return std::nullopt;
        const auto hours = Number(rest.substr(1, 2), 0, 23);
        const auto minutes = Number(rest.substr(colon ? 4 : 3, 2), 0, 59);
        if (!hours || !minutes) return std::nullopt;
        offset = std::chrono::minutes((rest[0] == '-' ? -1 : 1) * (*hours * 60 + *minutes));
    }
    return WallClock::time_point(std::chrono::sys_days(date).time_since_epoch()) +
           std::chrono::hours(h) + std::chrono::minutes(mi) + std::chrono::seconds(s) + ms - offset;
}

}  // namespace roderavo::tool::sites
