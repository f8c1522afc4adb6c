#pragma once
// Thin RAII wrappers over libpq. Errors come back as values. Every statement that carries values
// is prepared once per connection and run with binary parameters and binary results, so that the
// players' bytes go to and from the server unchanged.

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace vesquin::scored::postgres {

// Every node holds this advisory lock shared on its writer's session while it serves, so that a
// command that replaces the whole table can tell the table is served and refuse.
inline constexpr const char* kServingLockKey = "7365617476";

// True for "postgresql://..." and "postgres://...", the URIs libpq accepts.
bool IsConnectionUri(std::string_view text);
// The URI fit for a log: any password in it replaced by "***".
std::string WithoutPassword(std::string_view uri);

// The rows of one answer.
class Rows {
 public:
  Rows() = default;
  explicit Rows(PGresult* r) : r_(r) {}

  int Size() const { return r_ ? PQntuples(r_.get()) : 0; }
  bool IsNull(int row, int column) const { return PQgetisnull(r_.get(), row, column) != 0; }
  // A binary int2, int4 or int8 column; a boolean reads as 0 or 1.
  std::int64_t Int(int row, int column) const;
  std::string Bytes(int row, int column) const;
  // The number of rows an INSERT, UPDATE or DELETE touched.
  std::int64_t Affected() const;

 private:
  struct Clearer {
    void operator()(PGresult* r) const { PQclear(r); }
  };
  std::unique_ptr<PGresult, Clearer> r_;
};

// The parameters of one prepared statement, all sent in binary.
class Params {
 public:
  Params& Int(std::int64_t value);  // as int8
  Params& Bytes(std::string_view bytes);
  Params& Text(std::string_view text);
  Params& Null();
  template <class T, class Add>
  Params& Maybe(const std::optional<T>& value, Add add) {
    return value ? (this->*add)(*value) : Null();
  }

 private:
  friend class Connection;
  std::vector<std::string> values_;
  std::vector<int> formats_;
  std::vector<bool> null_;
};

class Connection {
 public:
  static Result<Connection> Open(const std::string& uri);

  bool Ok() const { return conn_ && PQstatus(conn_.get()) == CONNECTION_OK; }
  // Statements without parameters or rows of interest (transaction control, DDL, SET).
  Status Exec(const std::string& sql);
  // Simple-protocol query whose rows come back as text (schema checks at start-up only).
  Result<std::vector<std::string>> QueryText(const std::string& sql);
  Status Prepare(const std::string& name, const std::string& sql);
  Result<Rows> Run(const std::string& name, const Params& params = Params());
  // Whether a transaction is open (or failed and not yet rolled back).
  bool InTransaction() const;
  std::string LastError() const;

 private:
  struct Finisher {
    void operator()(PGconn* c) const { PQfinish(c); }
  };
  std::unique_ptr<PGconn, Finisher> conn_;
};

// Rolls back an open transaction when a scope ends without COMMIT, unless the connection is gone
// (the server then has).
class RollbackUnlessCommitted {
 public:
  explicit RollbackUnlessCommitted(Connection& c) : c_(c) {}
  ~RollbackUnlessCommitted() {
    if (c_.Ok() && c_.InTransaction()) c_.Exec("ROLLBACK");
  }
  RollbackUnlessCommitted(const RollbackUnlessCommitted&) = delete;
  RollbackUnlessCommitted& operator=(const RollbackUnlessCommitted&) = delete;

 private:
  Connection& c_;
};

}  // namespace vesquin::scored::postgres
