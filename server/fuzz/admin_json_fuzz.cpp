// libFuzzer target: an export file handed to `admin import` is outside input. Reading it must
// never crash, and whatever is accepted must write back to a document that reads the same.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "admin_json.h"
#include "admin_store.h"

using namespace vesquin::scored;

namespace {
void Require(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto dump = DumpFromJson(input);
  if (!dump) {
    Require(!dump.Error().empty());
    return 0;
  }
  (void)CheckDump(*dump);
  auto again = DumpFromJson(DumpToJson(*dump));
  Require(again.operator bool());
  Require(again->lines == dump->lines && again->log == dump->log && again->bans == dump->bans);
  return 0;
}
