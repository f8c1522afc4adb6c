#pragma once
// The browser build of the game, served from a folder at /vesquin/play/.

#include <optional>
#include <string>
#include <string_view>

#include "service.h"

namespace vesquin::scored {

inline constexpr std::string_view kPlayPrefix = "/vesquin/play/";

// The answer for a path under /vesquin/play (the query already cut off); nothing for paths
// outside it. `folder` empty: the game is not served (404). Only regular files beneath the
// folder are served, reached through no symbolic link; the body is the open file itself, so
// readers cost no memory of their own. ETag and Last-Modified come with it, and the
// conditions answer 304 (not modified) and 206 (one byte range) as HTTP has them.
std::optional<HttpResponse> ServePlayFile(const std::string& folder, std::string_view path,
                                          const RequestConditions& conditions = {});

}  // namespace vesquin::scored
