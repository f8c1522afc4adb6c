// libFuzzer target: the query parser and the display-text conversions must hold their
// promises for any bytes a client can put in a URL.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "query.h"
#include "text.h"

using namespace vesquin::scored;

namespace {
void Require(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  auto parsed = ParseSubmission(input);
  if (parsed) {
    Require(parsed->score >= kMinScore && parsed->score <= kMaxScore);
    for (const std::string* f : {&parsed->player.firstName, &parsed->player.lastName, &parsed->player.addr,
                                 &parsed->player.country}) {
      Require(f->size() <= kMaxFieldBytes);
      for (unsigned char c : *f) Require(c >= 0x20 && c != 0x7F);
      // What the game would send for these details must parse back to the same bytes.
      auto again = PercentDecode(PercentEncode(*f));
      Require(again && *again == *f);
    }
  } else {
    Require(!parsed.Error().empty() && parsed.Error().find('\n') == std::string::npos);
  }

  if (auto pairs = ParseQuery(input)) {
    for (const auto& p : *pairs) Require(p.key.size() <= input.size() && p.value.size() <= input.size());
  }

  std::string shown = DisplayText(input);
  Require(IsValidUtf8(shown));
  Require(IsValidUtf8(JsonString(shown)));
  std::string html = HtmlEscape(shown);
  Require(html.find('<') == std::string::npos && html.find('"') == std::string::npos);
  return 0;
}
