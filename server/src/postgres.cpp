#include "postgres.h"

#include <endian.h>

#include <cstring>

namespace vesquin::scored::postgres {
namespace {

std::string Trimmed(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "unknown PostgreSQL error" : s;
}

std::string ResultError(PGresult* r, PGconn* c) {
  const char* m = r ? PQresultErrorMessage(r) : nullptr;
  return Trimmed(m && *m ? m : PQerrorMessage(c));
}

}  // namespace

bool IsConnectionUri(std::string_view text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

std::string WithoutPassword(std::string_view uri) {
  std::string out(uri);
  auto authority = out.find("://");
  if (authority == std::string::npos) return out;
  authority += 3;
  auto end = out.find_first_of("/?", authority);
  auto at = out.rfind('@', end == std::string::npos ? out.size() : end);
  if (at != std::string::npos && at >= authority) {
    auto colon = out.find(':', authority);
    if (colon != std::string::npos && colon < at) out.replace(colon + 1, at - colon - 1, "***");
  }
  for (std::size_t key = out.find("password=", authority); key != std::string::npos;
       key = out.find("password=", key + 1)) {
    if (key > 0 && out[key - 1] != '?' && out[key - 1] != '&') continue;
    auto value = key + 9;
    auto stop = out.find('&', value);
    out.replace(value, (stop == std::string::npos ? out.size() : stop) - value, "***");
  }
  return out;
}

std::int64_t Rows::Int(int row, int column) const {
  const char* p = PQgetvalue(r_.get(), row, column);
  switch (PQgetlength(r_.get(), row, column)) {
    case 1:
      return static_cast<unsigned char>(p[0]);
    case 2: {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return static_cast<std::int16_t>(be16toh(v));
    }
    case 4: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return static_cast<std::int32_t>(be32toh(v));
    }
    case 8: {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      return static_cast<std::int64_t>(be64toh(v));
    }
    default:
      return 0;
  }
}

std::string Rows::Bytes(int row, int column) const {
  return std::string(PQgetvalue(r_.get(), row, column),
                     static_cast<std::size_t>(PQgetlength(r_.get(), row, column)));
}

std::int64_t Rows::Affected() const {
  const char* n = r_ ? PQcmdTuples(r_.get()) : "";
  return *n ? std::strtoll(n, nullptr, 10) : 0;
}

Params& Params::Int(std::int64_t value) {
  std::uint64_t be = htobe64(static_cast<std::uint64_t>(value));
  values_.emplace_back(reinterpret_cast<const char*>(&be), 8);
  formats_.push_back(1);
  null_.push_back(false);
  return *this;
}

Params& Params::Bytes(std::string_view bytes) {
  values_.emplace_back(bytes);
  formats_.push_back(1);
  null_.push_back(false);
  return *this;
}

Params& Params::Text(std::string_view text) {
  // A text value in binary format is its bytes, as in text format.
  values_.emplace_back(text);
  formats_.push_back(1);
  null_.push_back(false);
  return *this;
}

Params& Params::Null() {
  values_.emplace_back();
  formats_.push_back(1);
  null_.push_back(true);
  return *this;
}

Result<Connection> Connection::Open(const std::string& uri) {
  Connection c;
  c.conn_.reset(PQconnectdb(uri.c_str()));
  if (!c.conn_) return Result<Connection>::Fail("cannot connect to PostgreSQL: out of memory");
  if (PQstatus(c.conn_.get()) != CONNECTION_OK)
    return Result<Connection>::Fail("cannot connect to PostgreSQL: " +
                                    Trimmed(PQerrorMessage(c.conn_.get())));
  // Server notices (for example "relation already exists, skipping") are not errors.
  PQsetNoticeProcessor(
      c.conn_.get(), [](void*, const char*) {}, nullptr);
  return Result<Connection>::Ok(std::move(c));
}

Status Connection::Exec(const std::string& sql) {
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(conn_.get(), sql.c_str()), PQclear);
  auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    return Status::Fail(ResultError(r.get(), conn_.get()));
  return Status::Ok();
}

Result<std::vector<std::string>> Connection::QueryText(const std::string& sql) {
  using R = Result<std::vector<std::string>>;
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(conn_.get(), sql.c_str()), PQclear);
  if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) return R::Fail(ResultError(r.get(), conn_.get()));
  std::vector<std::string> values;
  for (int i = 0; i < PQntuples(r.get()); ++i) values.emplace_back(PQgetvalue(r.get(), i, 0));
  return R::Ok(std::move(values));
}

Status Connection::Prepare(const std::string& name, const std::string& sql) {
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(
      PQprepare(conn_.get(), name.c_str(), sql.c_str(), 0, nullptr), PQclear);
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK)
    return Status::Fail(ResultError(r.get(), conn_.get()));
  return Status::Ok();
}

Result<Rows> Connection::Run(const std::string& name, const Params& params) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (std::size_t i = 0; i < params.values_.size(); ++i) {
    values.push_back(params.null_[i] ? nullptr : params.values_[i].data());
    lengths.push_back(static_cast<int>(params.values_[i].size()));
  }
  PGresult* raw = PQexecPrepared(conn_.get(), name.c_str(), static_cast<int>(values.size()), values.data(),
                                 lengths.data(), params.formats_.data(), 1);
  ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    std::string why = ResultError(raw, conn_.get());
    PQclear(raw);
    return Result<Rows>::Fail(why);
  }
  return Result<Rows>::Ok(Rows(raw));
}

bool Connection::InTransaction() const {
  auto s = PQtransactionStatus(conn_.get());
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

std::string Connection::LastError() const { return Trimmed(PQerrorMessage(conn_.get())); }

}  // namespace vesquin::scored::postgres
