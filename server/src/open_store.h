#pragma once
// The store that a --db value names: a PostgreSQL URI, or else the path of an SQLite file.

#include <memory>
#include <string>

#include "result.h"
#include "store.h"

namespace vesquin::scored {

Result<std::unique_ptr<Store>> OpenStore(const std::string& db);

}  // namespace vesquin::scored
