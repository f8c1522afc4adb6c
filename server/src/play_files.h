#pragma once
// The browser build of the game, served from a folder at /vesquin/play/.

#include <optional>
#include <string>
#include <string_view>

#include "service.h"

namespace vesquin::scored {

inline constexpr std::string_view kPlayPrefix = "/vesquin/play/";

// The answer for a path under /vesquin/play (the query already cut off); nothing for paths
// outside it. `folder` empty: the game is not served (404).
std::optional<HttpResponse> ServePlayFile(const std::string& folder, std::string_view path);

}  // namespace vesquin::scored
