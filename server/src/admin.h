#pragma once
// `vesquin-scored admin ...`: the operator's commands on a score table, on either store.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace vesquin::scored {

std::string AdminUsage();

// Runs one command; `args` are the words after "admin". Returns the exit status: 0 done,
// 1 refused or failed (nothing changed), 2 a usage error.
int RunAdmin(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
             std::int64_t nowMs);

}  // namespace vesquin::scored
