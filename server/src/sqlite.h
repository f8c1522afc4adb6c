#pragma once
// Thin RAII wrappers over the SQLite C API. Errors come back as values.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "result.h"

namespace vesquin::scored::sqlite {

class Database {
 public:
  static Result<Database> Open(const std::string& path);

  sqlite3* Get() const { return db_.get(); }
  // Runs statements that return no rows (DDL, pragmas, transaction control).
  Status Exec(const char* sql);
  std::string LastError() const;

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> db_;
};

class Statement {
 public:
  Statement() = default;
  static Result<Statement> Prepare(const Database& db, std::string_view sql);

  // Binding indexes start at 1, as in SQLite.
  void BindInt(int index, std::int64_t value);
  // The bytes are copied, so the caller's buffer may go away before Step().
  void BindBlob(int index, std::string_view bytes);
  void BindText(int index, std::string_view text);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // Clears bindings and makes the statement ready to run again.
  void Reset();

  std::int64_t ColumnInt(int column) const;
  std::string ColumnBytes(int column) const;
  sqlite3_stmt* Get() const { return stmt_.get(); }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
};

// Resets a statement when a scope ends, whatever path leaves it.
class ResetOnExit {
 public:
  explicit ResetOnExit(Statement& s) : s_(s) {}
  ~ResetOnExit() { s_.Reset(); }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  Statement& s_;
};

// Every server holds its table's file under a shared lock while it runs, so that a command that
// replaces the whole table can tell it is served and refuse rather than delete what was answered.
Result<UniqueFd> HoldWhileServing(const std::string& path);
// The file locked against servers: fails, saying so, while a server holds it.
Result<UniqueFd> HoldUnserved(const std::string& path);

}  // namespace vesquin::scored::sqlite
