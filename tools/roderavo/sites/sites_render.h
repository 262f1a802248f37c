// The sites for people (a table, also the rows of the live view) and for scripts (a
// JSON array of one object per site).
#pragma once
#define RODERAVO_TREE_SITES_RENDER_H 1  // the tree's own copy, as the layer probes ask

#include <optional>
#include <string>
#include <vector>

#include "sites/sites_summary.h"

namespace roderavo::tool::sites {

// "12 s ago", "3 min ago", "2 h ago", "5 d ago"; "-" when no statistics came.
std::string AgeText(std::optional<long long> seconds);

// A header row and one row per site, columns aligned; "no sites" when there are none.
std::vector<std::string> RenderTable(const std::vector<SiteSummary>& sites);

// [{"site":…,"status":…,"muxes":[{"mux":0,"state":"ok"}],
//   "cameras":{"alarm":0,"videoLoss":0,"unknown":0},"statisticsAge":12}] on one line;
// statisticsAge in seconds, null when none came.
std::string RenderJson(const std::vector<SiteSummary>& sites);

}  // namespace roderavo::tool::sites
