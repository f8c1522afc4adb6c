#include "text.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

TEST(Utf8, AcceptsWellFormedText) {
  for (const char* good :
       {"", "plain", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(IsValidUtf8(good)) << good;
}

TEST(Utf8, RefusesMalformedText) {
  for (const char* bad : {"\xE9", "\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3",
                          "\xE2\x82", "\x80", "\xFF", "a\xC3(b"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(DisplayText, KeepsUtf8AndReadsOtherBytesAsLatin1) {
  EXPECT_EQ(DisplayText("Ren\xC3\xA9"), "Ren\xC3\xA9");
  EXPECT_EQ(DisplayText("Ren\xE9"), "Ren\xC3\xA9");
  EXPECT_EQ(DisplayText("M\xFCller \xDF"), "M\xC3\xBCller \xC3\x9F");
  // 0x80..0x9F read as browsers read "Latin-1": Windows-1252.
  EXPECT_EQ(DisplayText("\x80\x81"), "\xE2\x82\xAC\xEF\xBF\xBD");
  EXPECT_TRUE(IsValidUtf8(DisplayText("\xC3\xA9\xE9\xFF\x9D")));
}

TEST(HtmlEscape, NeutralisesMarkup) {
  EXPECT_EQ(HtmlEscape("<script>alert('x&y')</script>\""),
            "&lt;script&gt;alert(&#39;x&amp;y&#39;)&lt;/script&gt;&quot;");
}

TEST(JsonString, EscapesQuotesControlsAndMarkup) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString(std::string("\n\x01", 2)), "\"\\n\\u0001\"");
  EXPECT_EQ(JsonString("</script>&"), "\"\\u003c/script\\u003e\\u0026\"");
  EXPECT_EQ(JsonString("\xC3\xA9"), "\"\xC3\xA9\"");
}

TEST(EscapeForLog, LeavesOnlyPrintableAscii) {
  EXPECT_EQ(EscapeForLog("/vesquin/a b~"), "/vesquin/a b~");
  EXPECT_EQ(EscapeForLog(std::string("\x1b[2J\r\n\x00\x7f\xc3\xa9", 10)),
            "\\x1b[2J\\x0d\\x0a\\x00\\x7f\\xc3\\xa9");
  // A backslash is doubled, so an escape sent literally cannot pass for one made here.
  EXPECT_EQ(EscapeForLog("\\x41"), "\\\\x41");
}

}  // namespace
}  // namespace vesquin::scored
