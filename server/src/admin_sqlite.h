#pragma once
// The operator's operations on a SQLite score file, on a connection of their own. They run
// beside a live server: each is one short transaction, and the server's readers never wait.

#include <functional>
#include <memory>
#include <string>

#include "admin_store.h"
#include "sqlite.h"

namespace vesquin::scored {

class SqliteAdminStore final : public AdminStore {
 public:
  // Opens (creating if need be) and migrates the file, as the server would.
  static Result<std::unique_ptr<SqliteAdminStore>> Open(const std::string& path);

  Result<std::vector<PlacedLine>> ListTable(const TableQuery& query) override;
  Result<std::vector<LogRecord>> ListLog(const LogQuery& query) override;
  Result<Removal> RemoveLine(std::int64_t lineId, std::int64_t nowMs) override;
  Result<Removal> RemovePlayer(const PlayerMatch& match, std::int64_t nowMs) override;
  Result<bool> Ban(const BanRecord& ban) override;
  Result<bool> Unban(std::string_view network) override;
  Result<std::vector<BanRecord>> ListBans() override;
  Result<std::int64_t> ForgetAddresses(std::int64_t receivedBeforeMs) override;
  Result<Dump> Export() override;
  Status Import(const Dump& dump, bool replace) override;

  // A consistent copy of the whole file at `target`, taken while the server keeps writing (the
  // copy is of one instant). Written beside the target and renamed into place once complete and
  // checked; an existing target is refused.
  Status Backup(const std::string& target);

 private:
  explicit SqliteAdminStore(sqlite::Database db) : db_(std::move(db)) {}
  // Runs `body` in one BEGIN IMMEDIATE transaction; any failure rolls it all back.
  template <class F>
  Status InWriteTransaction(F&& body);
  Result<Removal> RemoveWhere(const std::string& where, const std::function<void(sqlite::Statement&)>& bind,
                              std::int64_t nowMs);

  sqlite::Database db_;
};

}  // namespace vesquin::scored
