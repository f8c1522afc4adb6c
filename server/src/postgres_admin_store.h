#pragma once
// The operator's operations on a PostgreSQL score table. Every change takes the same table lock
// as the servers' commits, so it falls between two of them, whichever node they run on.

#include <memory>
#include <string>

#include "admin_store.h"
#include "postgres.h"

namespace vesquin::scored {

class PostgresAdminStore final : public AdminStore {
 public:
  // Connects and takes the schema forward, as a server would.
  static Result<std::unique_ptr<PostgresAdminStore>> Open(const std::string& uri);

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

 private:
  explicit PostgresAdminStore(postgres::Connection c) : c_(std::move(c)) {}
  postgres::Connection c_;
};

}  // namespace vesquin::scored
