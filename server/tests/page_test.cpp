#include "page.h"

#include <gtest/gtest.h>

#include "text.h"

namespace vesquin::scored {
namespace {

std::vector<TableRow> Rows() {
  return {
      {1, "<script>alert(1)</script>", "O'Neil & \"Sons\"",
       "Fran\xE7"
       "e",
       99, 1'767'225'600'000},  // 2026-01-01
      {2, "Ren\xC3\xA9", "", "", 12, 0},
  };
}

TEST(Page, IsAnAccessibleTableWithoutScript) {
  std::string html = RenderHtml(Rows());
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("<html lang=\"en\">"), std::string::npos);
  EXPECT_NE(html.find("<title>"), std::string::npos);
  EXPECT_NE(html.find("<caption>"), std::string::npos);
  for (const char* col : {"Place", "First name", "Last name", "Country", "Score", "Date"})
    EXPECT_NE(html.find(std::string("scope=\"col\"") +
                        (std::string(col) == "Place" || std::string(col) == "Score" ? " class=\"n\">" : ">") +
                        col + "</th>"),
              std::string::npos)
        << col;
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(html));
}

TEST(Page, EscapesFieldsAndShowsLatin1AsText) {
  std::string html = RenderHtml(Rows());
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("O&#39;Neil &amp; &quot;Sons&quot;"), std::string::npos);
  EXPECT_NE(html.find("Fran\xC3\xA7"
                      "e"),
            std::string::npos);
  EXPECT_NE(html.find("Ren\xC3\xA9"), std::string::npos);
  EXPECT_NE(html.find("<time datetime=\"2026-01-01\">2026-01-01</time>"), std::string::npos);
}

TEST(Page, SaysSoWhenEmpty) {
  std::string html = RenderHtml({});
  EXPECT_NE(html.find("No scores"), std::string::npos);
  EXPECT_EQ(html.find("<table"), std::string::npos);
}

TEST(Json, CarriesTheSameRowsSafely) {
  std::string json = RenderJson(Rows());
  EXPECT_TRUE(IsValidUtf8(json));
  EXPECT_NE(json.find("\"place\":1,\"first_name\":\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"last_name\":\"O'Neil \\u0026 \\\"Sons\\\"\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"country\":\"Fran\xC3\xA7"
                      "e\",\"score\":99,\"date\":\"2026-01-01\""),
            std::string::npos);
  EXPECT_NE(json.find("{\"place\":2,\"first_name\":\"Ren\xC3\xA9\""), std::string::npos);
  EXPECT_EQ(RenderJson({}), "{\"players\":[]}\n");
}

}  // namespace
}  // namespace vesquin::scored
