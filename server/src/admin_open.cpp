#include <sys/stat.h>

#include "admin_sqlite.h"
#include "admin_store.h"
#include "postgres.h"
#include "postgres_admin_store.h"

namespace vesquin::scored {

Result<std::unique_ptr<AdminStore>> OpenAdminStore(const std::string& db, bool create) {
  using R = Result<std::unique_ptr<AdminStore>>;
  if (postgres::IsConnectionUri(db)) {
    auto pg = PostgresAdminStore::Open(db);
    if (!pg) return R::Fail(pg.Error());
    return R::Ok(std::move(*pg));
  }
  // A mistyped path must not quietly become a new, empty table.
  struct stat st {};
  if (!create && ::stat(db.c_str(), &st) != 0) return R::Fail(db + ": no such database file");
  auto store = SqliteAdminStore::Open(db);
  if (!store) return R::Fail(store.Error());
  return R::Ok(std::move(*store));
}

}  // namespace vesquin::scored
