#pragma once
// The table, its log and its bans as one JSON document, for export and import.

#include <string>
#include <string_view>

#include "admin_store.h"
#include "result.h"

namespace vesquin::scored {

// Fields are stored as bytes: valid UTF-8 is written as a JSON string, anything else as
// {"hex": "..."}, so that every byte comes back on import.
std::string DumpToJson(const Dump& dump);
// Refuses anything that is not such a document, with the place of the fault; never a partial dump.
Result<Dump> DumpFromJson(std::string_view json);

}  // namespace vesquin::scored
