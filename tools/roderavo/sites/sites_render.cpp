#include "sites/sites_render.h"

#include <algorithm>
#include <array>

#include "output/json_out.h"

namespace roderavo::tool::sites {

namespace {

constexpr std::size_t kColumns = 7;
using Row = std::array<std::string, kColumns>;

Row RowOf(const SiteSummary& site) {
    if (site.status == kMissing) return {site.name, site.status, "-", "-", "-", "-", "-"};
    std::string muxes;
    for (const auto& [mux, state] : site.muxes)
        muxes += (muxes.empty() ? "" : ", ") + std::to_string(mux) + " " + state;
    return {site.name,
            site.status,
            muxes.empty() ? "-" : muxes,
            std::to_string(site.alarm),
            std::to_string(site.videoLoss),
            std::to_string(site.unknown),
            AgeText(site.statisticsAge)};
}

}  // namespace

std::string AgeText(std::optional<long long> seconds) {
    if (!seconds) return "-";
    const long long s = *seconds;
    if (s < 120) return std::to_string(s) + " s ago";
    if (s < 2 * 3600) return std::to_string(s / 60) + " min ago";
    if (s < 2 * 86400) return std::to_string(s / 3600) + " h ago";
    return std::to_string(s / 86400) + " d ago";
}

std::vector<std::string> RenderTable(const std::vector<SiteSummary>& sites) {
    if (sites.empty()) return {"no sites"};
    std::vector<Row> rows = {
        {"SITE", "STATUS", "MULTIPLEXERS", "ALARM", "VIDEO LOSS", "UNKNOWN", "STATISTICS"}};
    for (const SiteSummary& site : sites) rows.push_back(RowOf(site));
    std::array<std::size_t, kColumns> width{};
    for (const Row& row : rows)
        for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], row[c].size());
    std::vector<std::string> lines;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            // The counts stand right of their column, the texts left.
            const std::string pad(width[c] - row[c].size(), ' ');
            const bool count = c >= 3 && c <= 5;
            line += (c == 0 ? "" : "  ") + (count ? pad + row[c] : row[c] + pad);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string RenderJson(const std::vector<SiteSummary>& sites) {
    Json all = Json::array();
    for (const SiteSummary& site : sites) {
        Json muxes = Json::array();
        for (const auto& [mux, state] : site.muxes)
            muxes.push_back({{"mux", mux}, {"state", state}});
        Json record = {{"site", site.name}, {"status", site.status}, {"muxes", muxes}};
        record["cameras"] = {
            {"alarm", site.alarm}, {"videoLoss", site.videoLoss}, {"unknown", site.unknown}};
        record["statisticsAge"] = site.statisticsAge ? Json(*site.statisticsAge) : Json(nullptr);
        all.push_back(record);
    }
    return JsonText(all);
}

}  // namespace roderavo::tool::sites
