#include "open_store.h"

#include "postgres.h"
#include "postgres_store.h"
#include "sqlite_store.h"

namespace vesquin::scored {

static_assert(PostgresStore::kSchemaVersion == SqliteStore::kSchemaVersion,
              "both stores must have the same schema version");

Result<std::unique_ptr<Store>> OpenStore(const std::string& db) {
  using R = Result<std::unique_ptr<Store>>;
  if (postgres::IsConnectionUri(db)) {
    auto s = PostgresStore::Open(db);
    if (!s) return R::Fail(s.Error());
    return R::Ok(std::move(*s));
  }
  auto s = SqliteStore::Open(db);
  if (!s) return R::Fail(s.Error());
  return R::Ok(std::move(*s));
}

}  // namespace vesquin::scored
