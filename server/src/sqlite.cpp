#include "sqlite.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

#include "new_file.h"

namespace vesquin::scored::sqlite {

Result<Database> Database::Open(const std::string& path) {
  // The table holds players' postal addresses: a new file is its owner's alone.
  if (path != ":memory:" && !path.empty()) {
    if (auto st = CreatePrivateFileIfMissing(path); !st) return Result<Database>::Fail(st.error);
  }
  sqlite3* raw = nullptr;
  // NOMUTEX: each connection is used by one thread at a time (the store's pool sees to it).
  int rc = sqlite3_open_v2(path.c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Database db;
  db.db_.reset(raw);
  if (rc != SQLITE_OK) {
    std::string why = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    return Result<Database>::Fail("cannot open " + path + ": " + why);
  }
  sqlite3_extended_result_codes(raw, 1);
  return Result<Database>::Ok(std::move(db));
}

Status Database::Exec(const char* sql) {
  char* err = nullptr;
  int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &err);
  if (rc == SQLITE_OK) return Status::Ok();
  std::string why = err ? err : sqlite3_errstr(rc);
  sqlite3_free(err);
  return Status::Fail(why);
}

std::string Database::LastError() const { return sqlite3_errmsg(db_.get()); }

Result<Statement> Statement::Prepare(const Database& db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v3(db.Get(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                              &raw, nullptr);
  Statement s;
  s.stmt_.reset(raw);
  if (rc != SQLITE_OK) return Result<Statement>::Fail(db.LastError());
  return Result<Statement>::Ok(std::move(s));
}

void Statement::BindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_.get(), index, value); }

void Statement::BindBlob(int index, std::string_view bytes) {
  // A zero-length blob, not NULL, for an empty field.
  if (bytes.empty())
    sqlite3_bind_zeroblob(stmt_.get(), index, 0);
  else
    sqlite3_bind_blob64(stmt_.get(), index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

void Statement::BindText(int index, std::string_view text) {
  sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int Statement::Step() { return sqlite3_step(stmt_.get()); }

void Statement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::int64_t Statement::ColumnInt(int column) const { return sqlite3_column_int64(stmt_.get(), column); }

std::string Statement::ColumnBytes(int column) const {
  const void* p = sqlite3_column_blob(stmt_.get(), column);
  int n = sqlite3_column_bytes(stmt_.get(), column);
  if (p == nullptr || n <= 0) return {};
  return std::string(static_cast<const char*>(p), static_cast<std::size_t>(n));
}

namespace {
Result<UniqueFd> Lock(const std::string& path, int operation) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Result<UniqueFd>::Fail("cannot open " + path + ": " + std::strerror(errno));
  int rc;
  while ((rc = ::flock(fd.Get(), operation)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    if (errno == EWOULDBLOCK)
      return Result<UniqueFd>::Fail(path +
                                    " is being served by vesquin-scored: stop every server on it first");
    return Result<UniqueFd>::Fail("cannot lock " + path + ": " + std::strerror(errno));
  }
  return Result<UniqueFd>::Ok(std::move(fd));
}
}  // namespace

Result<UniqueFd> HoldWhileServing(const std::string& path) { return Lock(path, LOCK_SH); }

Result<UniqueFd> HoldUnserved(const std::string& path) { return Lock(path, LOCK_EX | LOCK_NB); }

}  // namespace vesquin::scored::sqlite
