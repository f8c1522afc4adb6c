#pragma once
// The public table as an HTML page and as JSON.

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace vesquin::scored {

inline constexpr int kPageRows = 100;

// YYYY-MM-DD in UTC.
std::string FormatDate(std::int64_t unixMs);

// A complete, script-free, accessible document. Field bytes go through DisplayText and HtmlEscape.
std::string RenderHtml(const std::vector<TableRow>& rows);

// {"players":[{"place":1,"first_name":"…","last_name":"…","country":"…","score":100,"date":"…"}]}
std::string RenderJson(const std::vector<TableRow>& rows);

}  // namespace vesquin::scored
