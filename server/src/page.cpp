#include "page.h"

#include <cstdio>
#include <ctime>

#include "text.h"

namespace vesquin::scored {

std::string FormatDate(std::int64_t unixMs) {
  std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
  std::tm tm{};
  if (gmtime_r(&seconds, &tm) == nullptr) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

std::string RenderHtml(const std::vector<TableRow>& rows) {
  std::string html =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Vesquin: best players</title>\n"
      "<style>\n"
      "body{font-family:sans-serif;margin:1em;color:#000;background:#fff}\n"
      "table{border-collapse:collapse}\n"
      "caption{text-align:left;font-weight:bold;margin-bottom:.5em}\n"
      "th,td{border:1px solid #555;padding:.25em .6em;text-align:left}\n"
      "td.n,th.n{text-align:right}\n"
      "</style>\n"
      "</head>\n"
      "<body>\n"
      "<main>\n"
      "<h1>Vesquin: best players</h1>\n"
      "<p>Highest score first. Among equal scores, the player who reached it first ranks higher.</p>\n";
  if (rows.empty()) {
    html += "<p>No scores have been sent yet.</p>\n";
  } else {
    html +=
        "<table>\n"
        "<caption>Best players, places 1 to " +
        std::to_string(rows.size()) +
        "</caption>\n"
        "<thead>\n"
        "<tr><th scope=\"col\" class=\"n\">Place</th><th scope=\"col\">First name</th>"
        "<th scope=\"col\">Last name</th><th scope=\"col\">Country</th>"
        "<th scope=\"col\" class=\"n\">Score</th><th scope=\"col\">Date</th></tr>\n"
        "</thead>\n"
        "<tbody>\n";
    for (const auto& r : rows) {
      std::string date = FormatDate(r.reachedAtMs);
      html += "<tr><th scope=\"row\" class=\"n\">" + std::to_string(r.place) + "</th><td>" +
              HtmlEscape(DisplayText(r.firstName)) + "</td><td>" + HtmlEscape(DisplayText(r.lastName)) +
              "</td><td>" + HtmlEscape(DisplayText(r.country)) + "</td><td class=\"n\">" +
              std::to_string(r.score) + "</td><td><time datetime=\"" + date + "\">" + date +
              "</time></td></tr>\n";
    }
    html += "</tbody>\n</table>\n";
  }
  html += "</main>\n</body>\n</html>\n";
  return html;
}

std::string RenderJson(const std::vector<TableRow>& rows) {
  std::string json = "{\"players\":[";
  bool first = true;
  for (const auto& r : rows) {
    if (!first) json += ',';
    first = false;
    json += "{\"place\":" + std::to_string(r.place) +
            ",\"first_name\":" + JsonString(DisplayText(r.firstName)) +
            ",\"last_name\":" + JsonString(DisplayText(r.lastName)) +
            ",\"country\":" + JsonString(DisplayText(r.country)) + ",\"score\":" + std::to_string(r.score) +
            ",\"date\":\"" + FormatDate(r.reachedAtMs) + "\"}";
  }
  json += "]}\n";
  return json;
}

}  // namespace vesquin::scored
