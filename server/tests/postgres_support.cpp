#include "postgres_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "postgres.h"

namespace vesquin::scored::testing {
namespace {

std::string ClusterUri(std::string& missing) {
  if (const char* env = std::getenv("VESQUIN_TEST_POSTGRES"); env && *env) return env;
  std::ifstream state(SCORED_POSTGRES_STATE);
  std::string line;
  while (std::getline(state, line))
    if (line.rfind("uri=", 0) == 0) return line.substr(4);
  missing = "no test cluster (no " SCORED_POSTGRES_STATE
            "; postgres_cluster.sh found no PostgreSQL server binaries "
            "or did not run)";
  return {};
}

// The same URI naming another database: the path of postgresql://host/DB?params.
std::string WithDatabase(const std::string& uri, const std::string& name) {
  auto scheme = uri.find("://");
  auto path = uri.find('/', scheme + 3);
  auto query = uri.find('?', scheme + 3);
  if (path == std::string::npos || (query != std::string::npos && path > query))
    path = query == std::string::npos ? uri.size() : query;
  auto end = uri.find('?', path);
  if (end == std::string::npos) end = uri.size();
  return uri.substr(0, path) + "/" + name + uri.substr(end);
}

}  // namespace

PostgresDatabase::PostgresDatabase() {
  adminUri_ = ClusterUri(missing_);
  if (adminUri_.empty()) return;
  static std::atomic<int> counter{0};
  name_ = "vesquin_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  auto c = postgres::Connection::Open(adminUri_);
  if (!c) {
    missing_ = "the test cluster does not answer: " + c.Error();
    return;
  }
  c->Exec("DROP DATABASE IF EXISTS " + name_);
  if (auto st = c->Exec("CREATE DATABASE " + name_); !st) {
    missing_ = "cannot create a test database: " + st.error;
    return;
  }
  uri_ = WithDatabase(adminUri_, name_);
}

PostgresDatabase::~PostgresDatabase() {
  if (uri_.empty()) return;
  if (auto c = postgres::Connection::Open(adminUri_))
    c->Exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
}

}  // namespace vesquin::scored::testing
