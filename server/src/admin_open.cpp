#include <sys/stat.h>

#include "admin_sqlite.hpp"
#include "admin_store.hpp"

namespace vesquin::scored {

Result<std::unique_ptr<AdminStore>> OpenAdminStore(const std::string& db, bool create) {
  using R = Result<std::unique_ptr<AdminStore>>;
  if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0)
    return R::Fail("this build has no PostgreSQL store");
  // A mistyped path must not quietly become a new, empty table.
  struct stat st {};
  if (!create && ::stat(db.c_str(), &st) != 0) return R::Fail(db + ": no such database file");
  auto store = SqliteAdminStore::Open(db);
  if (!store) return R::Fail(store.error());
  return R::Ok(std::move(*store));
}

}  // namespace vesquin::scored
