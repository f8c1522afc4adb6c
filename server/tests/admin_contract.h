#pragma once
// The behaviour every store's admin operations must share. A store's test file instantiates
// AdminContract with a factory of fresh, empty stores:
//   INSTANTIATE_TEST_SUITE_P(Sqlite, AdminContract, ::testing::Values(AdminFactory{...}));

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "admin_store.h"
#include "store.h"

namespace vesquin::scored::testing {

// Both faces of one fresh, empty database.
struct StorePair {
  std::unique_ptr<Store> store;
  std::unique_ptr<AdminStore> admin;
};

struct AdminFactory {
  std::string name;
  // Each call gives a database of its own. A failure is reported through gtest by the caller.
  std::function<Result<StorePair>()> make;
  // Why this store cannot be tested here (the tests then skip, saying so); empty when it can.
  std::function<std::string()> missing = {};
};

inline std::ostream& operator<<(std::ostream& os, const AdminFactory& f) { return os << f.name; }

class AdminContract : public ::testing::TestWithParam<AdminFactory> {
 protected:
  void SetUp() override;
  StorePair Fresh();
  void Submit(const Player& p, int score, const std::string& client = "192.0.2.1");

  StorePair db_;
  std::int64_t clockMs_ = 1'700'000'000'000;
};

}  // namespace vesquin::scored::testing
