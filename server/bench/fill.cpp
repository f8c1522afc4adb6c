// Fills a score table with N synthetic players for the benchmark, through the server's own store.
// Usage: scored-bench-fill DB N   (DB: an SQLite file, or a postgresql:// URI)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "postgres.h"
#include "postgres_store.h"
#include "sqlite_store.h"

using namespace vesquin::scored;

template <class S>
int Fill(S& store, long n) {
  std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  constexpr long kBatch = 10000;
  std::vector<Submission> batch;
  for (long start = 0; start < n; start += kBatch) {
    batch.clear();
    for (long i = start; i < std::min(n, start + kBatch); ++i) {
      // Same details as bench/*.lua build; scores spread over 1..100.
      batch.push_back(
          {Player{"bench" + std::to_string(i), "Player", std::to_string(i) + " Bench Road", "Benchland"},
           static_cast<int>(1 + (i * 7919) % 100)});
    }
    if (auto st = store.SubmitBatch(batch, "127.0.0.1", now); !st) {
      std::fprintf(stderr, "scored-bench-fill: %s\n", st.error.c_str());
      return 1;
    }
  }
  return 0;
}

template <class S>
int OpenAndFill(const std::string& db, long n) {
  auto store = S::Open(db);
  if (!store) {
    std::fprintf(stderr, "scored-bench-fill: %s\n", store.Error().c_str());
    return 1;
  }
  return Fill(**store, n);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: scored-bench-fill DB N\n");
    return 2;
  }
  long n = std::strtol(argv[2], nullptr, 10);
  if (postgres::IsConnectionUri(argv[1])) return OpenAndFill<PostgresStore>(argv[1], n);
  return OpenAndFill<SqliteStore>(argv[1], n);
}
