#pragma once
// A fresh, empty database for one test in the private PostgreSQL cluster that
// postgres_cluster.sh starts for the test run (or on the server that VESQUIN_TEST_POSTGRES names).

#include <string>

namespace vesquin::scored::testing {

class PostgresDatabase {
 public:
  PostgresDatabase();
  ~PostgresDatabase();
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  bool Available() const { return !uri_.empty(); }
  // Why there is none: a reason for the test's skip line.
  const std::string& Missing() const { return missing_; }
  const std::string& Uri() const { return uri_; }

 private:
  std::string adminUri_;
  std::string name_;
  std::string uri_;
  std::string missing_;
};

}  // namespace vesquin::scored::testing

// Skips the test, with a line that says why, when there is no PostgreSQL to test against.
#define SKIP_WITHOUT_POSTGRES(db) \
  if (!(db).Available()) GTEST_SKIP() << "PostgreSQL test skipped: " << (db).Missing()
