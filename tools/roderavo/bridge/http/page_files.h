// The page's files, built into the bridge (a site often has no internet: the page
// loads nothing from elsewhere).
#pragma once

#include <span>
#include <string_view>

namespace roderavo::tool::bridge {

struct PageFile {
    std::string_view path;  // as requested: /, /app.js, /app.css
    std::string_view type;  // its Content-Type
    std::string_view body;
};

std::span<const PageFile> PageFiles();

}  // namespace roderavo::tool::bridge
